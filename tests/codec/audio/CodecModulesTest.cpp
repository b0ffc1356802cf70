// The external codec module loader against stand-in modules built by the tests: which
// modules load, calls through the operation table by position, the about box's notices,
// and unloading.
#include <gtest/gtest.h>

#include <string>

#include "codec/audio/CodecModules.h"

namespace fennik {
namespace {

class CodecModulesTest : public ::testing::Test {
 protected:
  void TearDown() override { UnloadCodecModules(); }
};

TEST_F(CodecModulesTest, LoadsOnlyModulesWithATable) {
  EXPECT_EQ(LoadCodecModules("/nonexistent-folder"), 0);
  EXPECT_EQ(CodecModuleNotices(), "");
  // GSM and iLBC have tables; Opus has no entry, Speex an entry without a table, G.729 no file.
  EXPECT_EQ(LoadCodecModules(FENNIK_FAKE_MODULES), 2);
  EXPECT_NE(CodecModuleTable(CodecModule::kGsm), nullptr);
  EXPECT_NE(CodecModuleTable(CodecModule::kIlbc), nullptr);
  EXPECT_EQ(CodecModuleTable(CodecModule::kOpus), nullptr);
  EXPECT_EQ(CodecModuleTable(CodecModule::kSpeex), nullptr);
  EXPECT_EQ(CodecModuleTable(CodecModule::kG729), nullptr);
  // Loading again keeps what is loaded.
  const CodecModuleOps* gsm = CodecModuleTable(CodecModule::kGsm);
  EXPECT_EQ(LoadCodecModules(FENNIK_FAKE_MODULES), 2);
  EXPECT_EQ(CodecModuleTable(CodecModule::kGsm), gsm);

  UnloadCodecModules();
  EXPECT_EQ(CodecModuleTable(CodecModule::kGsm), nullptr);
  EXPECT_EQ(CodecModuleTable(CodecModule::kIlbc), nullptr);
  EXPECT_EQ(CodecModuleNotices(), "");
}

TEST_F(CodecModulesTest, OperationsByPosition) {
  ASSERT_EQ(LoadCodecModules(FENNIK_FAKE_MODULES), 2);
  const CodecModuleOps* ops = CodecModuleTable(CodecModule::kGsm);
  ASSERT_NE(ops, nullptr);
  CodecModuleConfig config;
  config.channels = 2;
  config.sampleRate = 8000;
  EXPECT_EQ(ops->Create(0, &config), nullptr);  // only decoding is offered
  void* handle = ops->Create(1, &config);
  ASSERT_NE(handle, nullptr);
  const uint8_t frame[3] = {1, 2, 3};
  int16_t out[4] = {};
  uint8_t info[16] = {};
  EXPECT_EQ(ops->Decode(handle, 0, frame, 3, out, 2, info), 2);  // bounded by the capacity
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(out[1], 4);
  EXPECT_EQ(out[2], 0);
  ops->Reset(handle);
  EXPECT_EQ(ops->Decode(handle, 0, frame, 3, out, 4, info), 3);
  EXPECT_EQ(out[2], 7);
  ops->Destroy(handle);
}

TEST_F(CodecModulesTest, NoticesInAboutBoxOrder) {
  ASSERT_EQ(LoadCodecModules(FENNIK_FAKE_MODULES), 2);
  // GSM 06.10 comes before iLBC; the wide text arrives as UTF-8.
  EXPECT_EQ(CodecModuleNotices(),
            "GSM fake notice\r\n" + std::string(72, '-') + "\r\niLBC fake notice \xC2\xA9 2026");
}

}  // namespace
}  // namespace fennik
