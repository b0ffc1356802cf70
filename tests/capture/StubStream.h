// A stream object for the tests of what the analysis pass hands stream classes: it decodes
// nothing, and finds where the frame of the bytes not yet taken begins.
#pragma once

#include <cstdint>

#include "stream/CAvStream.h"
#include "stream/CAnarizeBuffer.h"

namespace fennik::test {

class StubStream : public CAvStream {
 public:
  bool IsOpen() const override { return opened_; }
  void ReleaseDecoder() override {}
  void ResetDecoder() override {}
  int Open(const uint8_t*, size_t, int32_t) override { return opened_ = true; }
  const char* GetCodecName() const override { return "test"; }
  uint64_t DecodeFrame(uint32_t) override { return ~uint64_t{0}; }
  uint64_t GetTime(uint32_t) override { return 0; }
  const uint8_t* GetFrameData(uint32_t, uint32_t*, uint64_t*) override { return nullptr; }

 protected:
  // The packet holding the buffer's first byte not yet consumed (a frame starts there).
  static const AnarizePacket* FirstPendingPacket(const CAnarizeBuffer& b) {
    size_t before = 0;
    for (const AnarizePacket& p : b.Packets()) {
      if (before + p.payloadSize > b.Consumed()) return &p;
      before += p.payloadSize;
    }
    return nullptr;
  }

  bool opened_ = false;
};

}  // namespace fennik::test
