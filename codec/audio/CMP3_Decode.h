// MPEG audio Layer III decoder (ISO/IEC 11172-3 2.4.3.4, 13818-3 2.4.3.4, and MPEG-2.5):
// side information, the main data bit reservoir across frames, scalefactors, Huffman
// decoding, requantisation, MS and intensity stereo, reordering of short blocks, alias
// reduction, IMDCT with overlap-add and window switching, frequency inversion and the
// polyphase synthesis. One frame gives 1152 samples per channel (MPEG-1) or 576 (one
// granule, MPEG-2 and 2.5).
#pragma once

#include <cstdint>
#include <vector>

#include "codec/audio/CMPA_Common.h"
#include "codec/audio/MpaSideInfo.h"

namespace fennik {

class CMP3_Decode : public CMPA_Common {
 public:
  void Reset() override;
  bool DecodeFrame(BitReader& reader, const MpaHeader& h, const uint8_t* frame, size_t size) override;
  const MpaSideInfo* SideInfo() const override { return &side_; }

 protected:
  uint32_t FrameSamples() const override { return 1152; }

 private:
  // Scalefactors of one granule and channel: long bands 0..21, short [band][window].
  struct Scalefactors {
    uint8_t l[22];
    uint8_t s[13][3];
    // The intensity position that means "not intensity coded", per band (MPEG-2: the
    // largest value of the band's slen; MPEG-1: 7).
    uint8_t illegalL[22];
    uint8_t illegalS[13];
  };

  void ReadScalefactors(int gr, int ch, const MpaHeader& h, const uint8_t* data, size_t& pos);
  void ReadLsfScalefactors(int ch, const MpaHeader& h, const uint8_t* data, size_t& pos);
  // Huffman-decodes the granule's spectrum into is_; returns the count of lines past
  // which all values are zero.
  int ReadSpectrum(const MpaGranuleChannel& g, const MpaHeader& h, const uint8_t* data, size_t pos,
                   size_t end, int ch);
  void Requantize(int gr, int ch, const MpaHeader& h, int nonzero);
  void Stereo(int gr, const MpaHeader& h);
  void Reorder(int ch, const MpaGranuleChannel& g, const MpaHeader& h);
  void Antialias(int ch, const MpaGranuleChannel& g);
  void Imdct(int ch, const MpaGranuleChannel& g, float* subbandOut);

  MpaSideInfo side_;
  std::vector<uint8_t> reservoir_;  // main data of earlier frames (the last 4 KiB)
  std::vector<uint8_t> main_;       // this frame's main data, reservoir bytes first
  Scalefactors sf_[2][2];           // [granule][channel]
  int is_[576];                     // Huffman-decoded values of one channel
  float xr_[2][576];
  int nonzero_[2] = {};             // lines with possibly non-zero values, per channel
  float overlap_[2][32][18] = {};
};

}  // namespace fennik
