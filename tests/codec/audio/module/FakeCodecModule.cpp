// A stand-in external codec module for the loader's tests, built in three kinds:
//   FAKE_MODULE_KIND 0: a full operation table; its "decoder" writes each frame byte times
//                       the configured channel count as one sample, and counts resets;
//   FAKE_MODULE_KIND 1: no "LoadCodec" entry;
//   FAKE_MODULE_KIND 2: "LoadCodec" returns no table.
// FAKE_MODULE_NOTICE picks the notice text of kind 0: 1 GSM's, 2 iLBC's (non-ASCII).
#include <cstdint>

#include "codec/audio/CodecModules.h"

#if FAKE_MODULE_KIND == 0
namespace {

struct Decoder {
  uint32_t channels;
  uint32_t resets;
};

void* Create(uint32_t direction, const fennik::CodecModuleConfig* config) {
  if (direction != 1 || config == nullptr || config->one != 1) return nullptr;
  return new Decoder{config->channels, 0};
}
void Destroy(void* handle) { delete static_cast<Decoder*>(handle); }
void Reset(void* handle) { ++static_cast<Decoder*>(handle)->resets; }
const wchar_t* Notice() { return FAKE_MODULE_NOTICE == 1 ? L"GSM fake notice" : L"iLBC fake notice \u00a9 2026"; }
int32_t Decode(void* handle, uint32_t, const uint8_t* frame, uint32_t length, int16_t* out, uint32_t capacity,
               void*) {
  const auto* d = static_cast<Decoder*>(handle);
  uint32_t n = 0;
  for (; n < length && n < capacity; ++n) out[n] = static_cast<int16_t>(frame[n] * d->channels + d->resets);
  return static_cast<int32_t>(n);
}

const fennik::CodecModuleOps kOps = {nullptr, Create, Destroy, Reset, Notice, Decode};

}  // namespace

extern "C" __attribute__((visibility("default"))) const fennik::CodecModuleOps* LoadCodec() { return &kOps; }
#elif FAKE_MODULE_KIND == 2
extern "C" __attribute__((visibility("default"))) const fennik::CodecModuleOps* LoadCodec() { return nullptr; }
#else
extern "C" __attribute__((visibility("default"))) int NotTheEntry() { return 0; }
#endif
