// Picture-layer reading, ITU-T H.263 5.1 (and 5.1.4 PLUSPTYPE), and the Sorenson H.263
// picture header.
#include "codec/video/H263Syntax.h"

#include "base/DebugPrint.h"

namespace fennik {

bool H263StandardSize(int source_format, uint32_t& width, uint32_t& height) {
  static const uint16_t kSizes[6][2] = {{0, 0}, {128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}};
  if (source_format < 1 || source_format > 5) return false;
  width = kSizes[source_format][0];
  height = kSizes[source_format][1];
  return true;
}

namespace {

// Sorenson H.263: PSC (17) version (5) TR (8) size (3) [custom width/height 8+8 or 16+16]
// type (2) deblocking (1) quantizer (5) {extra flag (1) byte (8)} flag 0.
bool ReadSorensonHeader(BitReader& br, H263PictureHeader& h) {
  const size_t start = br.BitPosition();
  h.psc = br.Read(17);
  if (h.psc != 1) return false;
  h.version = static_cast<uint8_t>(br.Read(5));
  if (h.version > 1) {
    DebugPrint("[H.263] Sorenson version %d not supported\n", h.version);
    return false;
  }
  h.tr = static_cast<uint16_t>(br.Read(8));
  h.picture_size = static_cast<uint8_t>(br.Read(3));
  // Sizes 2..6 are CIF, QCIF, sub-QCIF, 320x240 and 160x120.
  static const uint16_t kSizes[7][2] = {{0, 0}, {0, 0}, {352, 288}, {176, 144}, {128, 96}, {320, 240}, {160, 120}};
  if (h.picture_size == 0) {
    h.width = br.Read(8);
    h.height = br.Read(8);
  } else if (h.picture_size == 1) {
    h.width = br.Read(16);
    h.height = br.Read(16);
  } else if (h.picture_size <= 6) {
    h.width = kSizes[h.picture_size][0];
    h.height = kSizes[h.picture_size][1];
  } else {
    return false;
  }
  h.sorenson_type = static_cast<uint8_t>(br.Read(2));
  if (h.sorenson_type > 2) return false;
  h.type = h.sorenson_type == 0 ? kH263PictureI : kH263PictureP;
  h.deblocking_flag = br.ReadBit() != 0;
  h.pquant = static_cast<uint8_t>(br.Read(5));
  unsigned extra = 0;
  while (br.ReadBit() != 0 && br.Ok()) {
    br.Skip(8);
    if (extra < 255) ++extra;
  }
  h.pei_count = static_cast<uint8_t>(extra);
  h.header_bits = br.BitPosition() - start;
  return br.Ok() && h.width > 0 && h.height > 0 && h.pquant > 0;
}

}  // namespace

bool ReadH263PictureHeader(BitReader& br, int codec_type, const H263Opptype* previous, H263PictureHeader& h) {
  h = H263PictureHeader{};
  h.codec_type = codec_type;
  if (codec_type == kCodecTypeSorenson) return ReadSorensonHeader(br, h);
  const size_t start = br.BitPosition();
  h.psc = br.Read(22);
  if (h.psc != 0x20) return false;
  h.tr = static_cast<uint16_t>(br.Read(8));
  h.ptype_marker = static_cast<uint8_t>(br.Read(2));
  if (h.ptype_marker != 2) {
    DebugPrint("[H.263] PTYPE marker bits %d (expected 10)\n", h.ptype_marker);
    return false;
  }
  h.split_screen = br.ReadBit() != 0;
  h.document_camera = br.ReadBit() != 0;
  h.freeze_release = br.ReadBit() != 0;
  h.source_format = static_cast<uint8_t>(br.Read(3));
  if (h.source_format == 0) return false;  // forbidden
  if (h.source_format != 7) {
    if (!H263StandardSize(h.source_format, h.width, h.height)) return false;  // 6 is reserved
    h.ptype_coding_type = static_cast<uint8_t>(br.ReadBit());
    h.ptype_umv = br.ReadBit() != 0;
    h.ptype_sac = br.ReadBit() != 0;
    h.ptype_ap = br.ReadBit() != 0;
    h.ptype_pb = br.ReadBit() != 0;
    h.type = h.ptype_coding_type ? kH263PictureP : kH263PictureI;
    h.umv = h.ptype_umv;
    h.sac = h.ptype_sac;
    h.ap = h.ptype_ap;
    h.pb = h.ptype_pb;
    h.pquant = static_cast<uint8_t>(br.Read(5));
    h.cpm = br.ReadBit() != 0;
    if (h.cpm) h.psbi = static_cast<uint8_t>(br.Read(2));
    if (h.pb) {
      h.trb = static_cast<uint8_t>(br.Read(3));
      h.dbquant = static_cast<uint8_t>(br.Read(2));
    }
  } else {
    h.plusptype = true;
    h.ufep = static_cast<uint8_t>(br.Read(3));
    H263Opptype& o = h.opptype;
    if (h.ufep == 1) {
      o.present = true;
      o.source_format = static_cast<uint8_t>(br.Read(3));
      o.custom_pcf = br.ReadBit() != 0;
      o.umv = br.ReadBit() != 0;
      o.sac = br.ReadBit() != 0;
      o.ap = br.ReadBit() != 0;
      o.aic = br.ReadBit() != 0;
      o.df = br.ReadBit() != 0;
      o.ss = br.ReadBit() != 0;
      o.rps = br.ReadBit() != 0;
      o.isd = br.ReadBit() != 0;
      o.aiv = br.ReadBit() != 0;
      o.mq = br.ReadBit() != 0;
      o.reserved = static_cast<uint8_t>(br.Read(4));
      if (o.source_format == 0 || o.source_format == 7) return false;
    } else if (h.ufep == 0) {
      if (previous == nullptr || !previous->present) {
        DebugPrint("[H.263] UFEP 0 without an earlier OPPTYPE\n");
        return false;
      }
      o = *previous;
    } else {
      DebugPrint("[H.263] UFEP %d is reserved\n", h.ufep);
      return false;
    }
    h.mpptype_type = static_cast<uint8_t>(br.Read(3));
    h.rpr = br.ReadBit() != 0;
    h.rru = br.ReadBit() != 0;
    h.rtype = br.ReadBit() != 0;
    h.mpptype_reserved = static_cast<uint8_t>(br.Read(3));
    if (h.mpptype_reserved != 1) {
      DebugPrint("[H.263] MPPTYPE bits 7-9 %d (expected 001)\n", h.mpptype_reserved);
      return false;
    }
    h.type = h.mpptype_type <= 5 ? static_cast<H263PictureType>(h.mpptype_type) : kH263PictureReserved;
    h.cpm = br.ReadBit() != 0;
    if (h.cpm) h.psbi = static_cast<uint8_t>(br.Read(2));
    if (h.ufep == 1 && o.source_format == 6) {
      o.par = static_cast<uint8_t>(br.Read(4));
      o.pwi = static_cast<uint16_t>(br.Read(9));
      if (br.ReadBit() != 1) return false;  // CPFMT bit 14 is always 1
      o.phi = static_cast<uint16_t>(br.Read(9));
      if (o.par == 15) {
        o.epar_width = static_cast<uint8_t>(br.Read(8));
        o.epar_height = static_cast<uint8_t>(br.Read(8));
      }
    }
    if (h.ufep == 1 && o.custom_pcf) {
      o.clock_conversion = br.ReadBit() != 0;
      o.clock_divisor = static_cast<uint8_t>(br.Read(7));
    }
    if (o.custom_pcf) {
      h.has_etr = true;
      h.etr = static_cast<uint8_t>(br.Read(2));
      h.tr = static_cast<uint16_t>(h.tr | (h.etr << 8));
    }
    if (h.ufep == 1 && o.umv) o.uui = br.ReadBit() ? 1 : (br.ReadBit(), 2);
    if (h.ufep == 1 && o.ss) o.sss = static_cast<uint8_t>(br.Read(2));
    if (h.type == kH263PictureB || h.type == kH263PictureEI || h.type == kH263PictureEP) {
      h.elnum = static_cast<uint8_t>(br.Read(4));
      if (h.ufep == 1) h.rlnum = static_cast<uint8_t>(br.Read(4));
    }
    if (o.source_format == 6) {
      h.width = (o.pwi + 1u) * 4u;
      h.height = o.phi * 4u;
    } else if (!H263StandardSize(o.source_format, h.width, h.height)) {
      return false;
    }
    h.umv = o.umv;
    h.umv_plus = o.umv;
    h.ap = o.ap;
    h.sac = o.sac;
    h.pb = h.type == kH263PictureImprovedPB;
    if (o.rps || h.rpr) {
      // The RPS and RPR fields that follow are not read: such pictures are not decoded.
      h.header_bits = br.BitPosition() - start;
      return br.Ok() && h.width > 0 && h.height > 0;
    }
    h.pquant = static_cast<uint8_t>(br.Read(5));
    if (h.pb) {
      h.trb = static_cast<uint8_t>(br.Read(o.custom_pcf ? 5 : 3));
      h.dbquant = static_cast<uint8_t>(br.Read(2));
    }
  }
  unsigned pei = 0;
  while (br.ReadBit() != 0 && br.Ok()) {
    br.Skip(8);  // PSUPP
    if (pei < 255) ++pei;
  }
  h.pei_count = static_cast<uint8_t>(pei);
  h.header_bits = br.BitPosition() - start;
  if (h.pquant == 0) {
    DebugPrint("[H.263] PQUANT 0 is forbidden\n");
    return false;
  }
  return br.Ok() && h.width > 0 && h.height > 0;
}

}  // namespace fennik
