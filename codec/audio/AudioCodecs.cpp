#include "codec/audio/AudioCodecs.h"

#include "codec/audio/CG711_Parser.h"
#include "stream/CSupportCodec.h"

namespace fennik {

void RegisterAudioCodecs() {
  CSupportCodec::RegisterParser(CG711_Decode::kCodecALaw, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<CG711_Parser>(true);
  });
  CSupportCodec::RegisterParser(CG711_Decode::kCodecULaw, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<CG711_Parser>(false);
  });
}

}  // namespace fennik
