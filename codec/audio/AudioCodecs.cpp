#include "codec/audio/AudioCodecs.h"

#include "codec/audio/CADPCM_Parser.h"
#include "codec/audio/CG711_Parser.h"
#include "codec/audio/CG722_Parser.h"
#include "codec/audio/CG726_Parser.h"
#include "codec/audio/CG729_Parser.h"
#include "codec/audio/CGSM_Parser.h"
#include "codec/audio/COpus_Parser.h"
#include "codec/audio/CSpeex_Parser.h"
#include "codec/audio/CPCM_Parser.h"
#include "codec/audio/CiLBC_Parser.h"
#include "stream/CSupportCodec.h"

namespace fennik {

void RegisterAudioCodecs() {
  CSupportCodec::RegisterParser(CG711_Decode::kCodecALaw, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<CG711_Parser>(true);
  });
  CSupportCodec::RegisterParser(CG711_Decode::kCodecULaw, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<CG711_Parser>(false);
  });
  CSupportCodec::RegisterParser(CG722_Decode::kCodecType, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<CG722_Parser>();
  });
  CSupportCodec::RegisterParser(CG726_Decode::kCodecTypeRtp, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<CG726_Parser>(false);
  });
  CSupportCodec::RegisterParser(CG726_Decode::kCodecTypeAal2, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<CG726_Parser>(true);
  });
  CSupportCodec::RegisterParser(CADPCM_Decode::kCodecType, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<CADPCM_Parser>();
  });
  CSupportCodec::RegisterParser(CG729_Decode::kCodecType, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<CG729_Parser>();
  });
  CSupportCodec::RegisterParser(CGSM_Decode::kCodecType, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<CGSM_Parser>();
  });
  CSupportCodec::RegisterParser(COpus_Decode::kCodecType, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<COpus_Parser>();
  });
  CSupportCodec::RegisterParser(CSpeex_Decode::kCodecType, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<CSpeex_Parser>();
  });
  CSupportCodec::RegisterParser(CPCM_Decode::kCodecType, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<CPCM_Parser>();
  });
  CSupportCodec::RegisterParser(CiLBC_Decode::kCodecType, [](int32_t) -> std::unique_ptr<CAvStream> {
    return std::make_unique<CiLBC_Parser>();
  });
}

}  // namespace fennik
