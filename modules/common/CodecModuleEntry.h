// What every codec module shares: the operation table the loader expects from LoadCodec,
// built from a decoder class, so that a module only writes its decoder.
//
// A decoder class D provides
//   static D* Make(const fennik::CodecModuleConfig& config);   // null when unsupported
//   void Reset();
//   int32_t Decode(const uint8_t* frame, uint32_t length, int16_t* out, uint32_t capacity);
//   static const wchar_t* Notice();
// and the module's one source file ends with FENNIK_CODEC_MODULE(D).
#pragma once

#include <cstdint>
#include <new>

#include "codec/audio/CodecModules.h"

namespace fennik::module {

template <class D>
struct ModuleTable {
  static void* Create(uint32_t direction, const CodecModuleConfig* config) {
    // Only decoding is offered; the record must start with its 1.
    if (direction != 1 || config == nullptr || config->one != 1) return nullptr;
    try {
      return D::Make(*config);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  static void Destroy(void* handle) { delete static_cast<D*>(handle); }
  static void Reset(void* handle) {
    if (handle != nullptr) static_cast<D*>(handle)->Reset();
  }
  static int32_t Decode(void* handle, uint32_t, const uint8_t* frame, uint32_t length, int16_t* out,
                        uint32_t capacity, void*) {
    if (handle == nullptr || out == nullptr || (frame == nullptr && length != 0)) return 0;
    return static_cast<D*>(handle)->Decode(frame, length, out, capacity);
  }
  static constexpr CodecModuleOps kOps = {nullptr, Create, Destroy, Reset, D::Notice, Decode};
};

}  // namespace fennik::module

#define FENNIK_CODEC_MODULE(Decoder)                                                  \
  extern "C" __attribute__((visibility("default"))) const fennik::CodecModuleOps* LoadCodec() { \
    return &fennik::module::ModuleTable<Decoder>::kOps;                               \
  }
