// The codec registry: turns a codec type into a new stream object. Codec libraries register
// their stream classes at start-up (RegisterParser); a codec type without a class yields none.
#pragma once

#include <cstdint>
#include <memory>

#include "stream/CAvStream.h"

namespace fennik {

class CSupportCodec {
 public:
  using Factory = std::unique_ptr<CAvStream> (*)(int32_t codecType);

  // Creates the stream object for a codec type, or nullptr when no class is registered.
  static std::unique_ptr<CAvStream> CreateParser(int32_t codecType);
  // Registers (or, with nullptr, removes) the class for one codec type.
  static void RegisterParser(int32_t codecType, Factory factory);
};

}  // namespace fennik
