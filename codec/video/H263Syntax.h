// The picture layer of ITU-T H.263 (5.1, with the PLUSPTYPE header of H.263 version 2 and
// later) and the Sorenson H.263 picture header: records and their reader. The records keep
// every field as read; derived values are marked as such.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/BitReader.h"

namespace fennik {

// Codec types of H.263 streams (6 H.263, 7 I263, 8 Sorenson H.263).
inline constexpr int kCodecTypeH263 = 6;
inline constexpr int kCodecTypeI263 = 7;
inline constexpr int kCodecTypeSorenson = 8;

// Picture coding types (H.263 MPPTYPE picture type code; PTYPE bit 9 maps to 0 / 1).
enum H263PictureType : uint8_t {
  kH263PictureI = 0,
  kH263PictureP = 1,
  kH263PictureImprovedPB = 2,
  kH263PictureB = 3,
  kH263PictureEI = 4,
  kH263PictureEP = 5,
  kH263PictureReserved = 6,
};

// The optional-mode part of PLUSPTYPE (OPPTYPE), kept across pictures whose UFEP is 0.
struct H263Opptype {
  bool present = false;  // an OPPTYPE has been read (this picture or an earlier one)
  uint8_t source_format = 0;  // 1..5 standard, 6 custom
  bool custom_pcf = false;
  bool umv = false;
  bool sac = false;
  bool ap = false;
  bool aic = false;
  bool df = false;
  bool ss = false;
  bool rps = false;
  bool isd = false;
  bool aiv = false;
  bool mq = false;
  uint8_t reserved = 0;  // bits 15-18, "1000"
  // Fields that are sent only with UFEP = 1 and kept with it.
  uint8_t par = 0;        // pixel aspect ratio code
  uint16_t pwi = 0;       // picture width indication
  uint16_t phi = 0;       // picture height indication
  uint8_t epar_width = 0;
  uint8_t epar_height = 0;
  bool clock_conversion = false;  // CPCFC clock conversion code (1: 1001)
  uint8_t clock_divisor = 0;      // CPCFC clock divisor
  uint8_t uui = 0;        // 1 "1" (limited to Tables D.1/D.2), 2 "01" (unlimited), 0 absent
  uint8_t sss = 0;        // slice structured submode bits (rectangular, arbitrary order)
};

struct H263PictureHeader {
  // Common part.
  uint32_t psc = 0;   // 22 bits (Sorenson: 17)
  uint16_t tr = 0;    // TR (8 bits) with ETR as its two high bits when present
  uint8_t ptype_marker = 0;  // PTYPE bits 1-2, "10"
  bool split_screen = false;
  bool document_camera = false;
  bool freeze_release = false;
  uint8_t source_format = 0;  // PTYPE bits 6-8
  // PTYPE bits 9-13 (source format 1-5).
  uint8_t ptype_coding_type = 0;
  bool ptype_umv = false;
  bool ptype_sac = false;
  bool ptype_ap = false;
  bool ptype_pb = false;
  // PLUSPTYPE (source format 7).
  bool plusptype = false;
  uint8_t ufep = 0;
  H263Opptype opptype;           // this picture's modes (copied from the previous picture when UFEP is 0)
  uint8_t mpptype_type = 0;      // picture type code
  bool rpr = false;
  bool rru = false;
  bool rtype = false;            // rounding type
  uint8_t mpptype_reserved = 0;  // bits 7-9, "001"
  bool cpm = false;
  uint8_t psbi = 0;
  bool has_etr = false;
  uint8_t etr = 0;
  uint8_t elnum = 0;
  uint8_t rlnum = 0;
  uint8_t pquant = 0;
  uint8_t trb = 0;
  uint8_t dbquant = 0;
  uint8_t pei_count = 0;  // PSUPP bytes announced by PEI bits (capped at 255)
  // Sorenson H.263.
  uint8_t version = 0;
  uint8_t picture_size = 0;
  uint8_t sorenson_type = 0;  // 0 intra, 1 inter, 2 disposable inter
  bool deblocking_flag = false;

  // Derived.
  int codec_type = kCodecTypeH263;
  H263PictureType type = kH263PictureI;
  uint32_t width = 0;
  uint32_t height = 0;
  bool umv = false;      // Annex D, either signalling
  bool umv_plus = false; // Annex D with PLUSPTYPE: reversible MVD codes, no wrap-around
  bool ap = false;
  bool sac = false;
  bool pb = false;       // PB-frames (Annex G) or improved PB (Annex M)
  size_t header_bits = 0;  // bits consumed by the header
};

// Reads a picture header starting at the picture start code. `previous` carries the modes of
// the stream's last PLUSPTYPE picture for pictures with UFEP 0 (may be null). Returns false
// when the bits do not form a header (no start code, forbidden values, too short).
bool ReadH263PictureHeader(BitReader& br, int codec_type, const H263Opptype* previous, H263PictureHeader& h);

// Picture size of H.263 source formats 1..5 (sub-QCIF .. 16CIF); false for others.
bool H263StandardSize(int source_format, uint32_t& width, uint32_t& height);

}  // namespace fennik
