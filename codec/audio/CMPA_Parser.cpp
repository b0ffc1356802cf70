#include "codec/audio/CMPA_Parser.h"

#include <cstdio>
#include <string>

#include "base/DebugPrint.h"
#include "codec/audio/AudioViews.h"
#include "view/CFieldTree.h"

namespace fennik {
namespace {

uint32_t ReadBE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// The length of an ID3v2 tag at `p` (10 header bytes + its 28-bit sync-safe size), or 0.
// Only a plausible tag header counts (major version 2 to 4, size bytes below 0x80), so that
// "ID3" inside other bytes does not swallow the frames after it.
size_t Id3Length(const uint8_t* p, size_t length) {
  if (length < 10 || p[0] != 'I' || p[1] != 'D' || p[2] != '3') return 0;
  if (p[3] < 2 || p[3] > 4 || ((p[6] | p[7] | p[8] | p[9]) & 0x80) != 0) return 0;
  return (size_t{p[6] & 0x7Fu} << 21 | size_t{p[7] & 0x7Fu} << 14 | size_t{p[8] & 0x7Fu} << 7 | (p[9] & 0x7Fu)) + 10;
}

bool ValidHeaderAt(const uint8_t* p, MpaHeader& h) {
  const uint32_t word = ReadBE32(p);
  return (word & 0xFFE00000u) == 0xFFE00000u && ParseMpaHeader(word, h) && h.version != kMpaVersionReserved;
}

const char* VersionLabel(uint8_t version) {
  return version == kMpaVersion1 ? "MPEG-1" : version == kMpaVersion2 ? "MPEG-2" : "MPEG-2.5";
}
const char* LayerLabel(uint8_t layer) { return layer == 1 ? "Layer-I" : layer == 2 ? "Layer-II" : "Layer-III"; }
const char* ModeLabel(uint8_t mode) {
  static const char* const kNames[4] = {"stereo", "joint_stereo", "dual_channel", "single_channel"};
  return kNames[mode & 3];
}
const char* EmphasisLabel(uint8_t e) {
  static const char* const kNames[4] = {"none", "50/15 microseconds", "reserved", "CCITT J.17"};
  return kNames[e & 3];
}

// Free-format frames are at most 640 kbit/s (Layer III at 8 kHz: 5,760 bytes).
constexpr size_t kMaxFreeFormatFrame = 16384;

constexpr CAudio_Stream::FrameColumn kColumns[] = {{"CH", 5}, {"BITRATE", 12}, {"DATA_END", 12}, {"GAIN", 8}};

}  // namespace

int CMPA_Parser::Open(const uint8_t* data, size_t length, int32_t codecType) {
  if (HasLayerDecoder()) return 0;
  int layer = 0;
  if (length > 0 || codecType < 1 || codecType > 3) {
    // The payload as the analysis buffer holds it (RTP headers already left out).
    bool found = false;
    for (size_t pos = 0; pos + 4 <= length; ++pos) {
      if (const size_t tag = Id3Length(data + pos, length - pos)) {
        pos += tag - 1;
        continue;
      }
      MpaHeader h;
      if (ValidHeaderAt(data + pos, h)) {
        SetHeader(h);
        layer = h.layer;
        found = true;
        break;
      }
    }
    if (!found) return 0;
  }
  if (codecType >= 1 && codecType <= 3) layer = codecType;
  if (!CreateLayerDecoder(layer)) return 0;
  return 1;
}

int32_t CMPA_Parser::GetCodecType() const {
  if (!HaveHeader()) return requestedType_;
  const MpaHeader& h = Header();
  return (h.version == kMpaVersion1 ? 81 : 84) + h.layer;
}

const char* CMPA_Parser::GetCodecName() const {
  if (!HaveHeader()) return "MPEG Audio";
  static const char* const kNames[3] = {"MP1 Audio", "MP2 Audio", "MP3 Audio"};
  return kNames[(Header().layer - 1) % 3];
}

int CMPA_Parser::GetAudioFormat(AudioFormat& format) const {
  format = format_;
  if (!HaveHeader()) return 1;
  const MpaHeader& h = Header();
  format.codecType = GetCodecType();
  format.channels = h.channels;
  format.sampleRate = h.sampleRate;
  format.bitsPerSample = 16;
  format.blockSize = h.channels * 2u;
  format.bitRate = h.bitRate;
  format.frameSize = h.frameSize;
  format.samples = h.samples;
  std::fill(std::begin(format.channelPositions), std::end(format.channelPositions), uint8_t{0});
  if (h.mode == kMpaDualChannel) {
    format.channelPositions[0] = format.channelPositions[1] = 7;
  } else if (h.mode == kMpaSingleChannel) {
    format.channelPositions[0] = 7;
  } else {
    format.channelPositions[0] = kChannelLeft;
    format.channelPositions[1] = kChannelRight;
  }
  return 1;
}

// RFC 2250 3.5: MBZ (16 bits, zero) and Frag_offset (16 bits) open every payload. An MPEG
// audio frame starts with the sync bits 0xFFE, so a payload starting with two zero bytes
// carries the header and one starting with a frame does not.
uint32_t CMPA_Parser::PayloadHeaderLength(const uint8_t* payload, uint32_t length) const {
  if (length < 4 || payload[0] != 0 || payload[1] != 0) return 0;
  return 4;
}

void CMPA_Parser::OnPayloadHeader(const uint8_t* header, uint32_t length, uint32_t, uint32_t packetNumber) {
  if (length < 4) return;
  rtpHeaders_.push_back({packetNumber, static_cast<uint16_t>(header[0] << 8 | header[1]),
                         static_cast<uint16_t>(header[2] << 8 | header[3])});
  if (rtpHeaders_.size() > CAnarizeBuffer::kMaxPackets) rtpHeaders_.pop_front();
}

size_t CMPA_Parser::Parse(uint32_t streamId, CPayloadDescriptor& descriptor) {
  CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer == nullptr || buffer->Pending() == 0) return 0;
  const uint8_t* data = buffer->Data() + buffer->Consumed();
  const size_t length = buffer->Pending();
  size_t pos = 0;
  while (pos + 4 <= length) {
    if (data[pos] == 'I' && data[pos + 1] == 'D' && data[pos + 2] == '3') {
      if (length - pos < 10) break;  // wait for the tag header
      if (const size_t tag = Id3Length(data + pos, length - pos)) {
        if (tag > length - pos) break;  // wait for the rest of the tag
        pos += tag;
        continue;
      }
    }
    MpaHeader h;
    if (!ValidHeaderAt(data + pos, h)) {
      ++pos;
      continue;
    }
    size_t size = h.frameSize;
    if (h.FreeFormat()) {
      size = MpaFreeFormatSize(data + pos, length - pos, h);
      // The next header decides its length; without one in reach this is no frame.
      if (size == 0 && length - pos > kMaxFreeFormatFrame) {
        ++pos;
        continue;
      }
      if (size == 0) break;
      h.bitRate = static_cast<uint32_t>(uint64_t{size - h.paddingBit} * h.sampleRate /
                                        (h.layer == 1 ? 48 : (h.layer == 3 && h.Lsf() ? 72 : 144)));
    }
    if (size > length - pos) break;  // completed by later packets
    if (!HaveHeader()) SetHeader(h);
    FrameEntry entry;
    entry.size = static_cast<uint32_t>(size);
    entry.frameNumber = static_cast<uint32_t>(frames_.GetCount());
    entry.streamId = streamId_;
    MpaFrameFields f{};
    f.bitRate = h.bitRate;
    f.channels = h.channels;
    f.layer = h.layer;
    if (h.layer == 3 && size > h.headerLength) {
      BitReader reader(data + pos + h.headerLength, size - h.headerLength);
      MpaSideInfo side;
      if (ReadMpaSideInfo(reader, h, side)) {
        f.globalGain = side.gr[0][0].global_gain;
        f.mainDataEnd = side.main_data_begin;
        f.flags |= kMpaHasSideInfo;
      }
    }
    // The RFC 2250 header of the packet the frame starts in.
    size_t before = 0;
    for (const AnarizePacket& p : buffer->Packets()) {
      if (before + p.payloadSize > buffer->Consumed() + pos) {
        while (!rtpHeaders_.empty() && rtpHeaders_.front().packetNumber < p.packetNumber) rtpHeaders_.pop_front();
        if (!rtpHeaders_.empty() && rtpHeaders_.front().packetNumber == p.packetNumber) {
          f.rtpMbz = rtpHeaders_.front().mbz;
          f.rtpFragOffset = rtpHeaders_.front().fragOffset;
          f.flags |= kMpaHasRtpHeader;
        }
        break;
      }
      before += p.payloadSize;
    }
    SetCodecFields(entry, f);
    AddFrame(streamId, pos, entry, descriptor);
    pos += size;
  }
  return pos;
}

bool CMPA_Parser::GetFrameHeader(uint32_t index, MpaFrameHeader& out) {
  uint32_t size = 0;
  uint64_t address = 0;
  const uint8_t* data = GetFrameData(index, &size, &address);
  out = MpaFrameHeader();
  out.index = index;
  if (data == nullptr || size < 4 || !ValidHeaderAt(data, out.header)) return false;
  MpaHeader& h = out.header;
  if (h.FreeFormat()) h.frameSize = size;
  BitReader reader(data + 4, size - 4);
  if (h.protectionBit == 0 && size >= 6) {
    h.crc = static_cast<uint16_t>(reader.Read(16));
    out.haveCrc = true;
  }
  if (h.layer == 3) out.haveSideInfo = ReadMpaSideInfo(reader, h, out.side);
  return true;
}

size_t CMPA_Parser::Decode(const uint8_t* data, size_t length, int16_t* out, size_t capacityBytes) {
  size_t consumed = 0;
  if (DecodeToInternal(data, length, &consumed) <= 0) return 0;
  return CopyPcm(out, capacityBytes);
}

std::span<const CAudio_Stream::FrameColumn> CMPA_Parser::FrameListColumns() const { return kColumns; }

void CMPA_Parser::FrameListCells(const FrameEntry& entry, std::vector<std::string>& cells) const {
  const MpaFrameFields f = GetCodecFields<MpaFrameFields>(entry);
  cells.push_back(std::to_string(f.channels));
  cells.push_back(FormatDecimalUnsigned(f.bitRate));
  if (f.flags & kMpaHasSideInfo) {
    cells.push_back(std::to_string(f.mainDataEnd));
    cells.push_back(std::to_string(f.globalGain));
  }
}

void CMPA_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  MpaFrameHeader fh;
  const bool have = GetFrameHeader(index, fh);
  const MpaHeader& h = have ? fh.header : Header();
  tree.Title(h.version == kMpaVersion1 ? "MPEG-1 AUDIO INFORMATION" : "MPEG-2 AUDIO INFORMATION");
  uint64_t address = 0;
  FrameEntry e;
  Frames().Get(index, &address, &e);
  tree.Field(0, "File Address", 48, kModeHex, colour::kField, address + e.frameOffset,
             static_cast<int64_t>(address + e.frameOffset));
  tree.Field(0, "Number of Frame", 0, kModeDecimal, colour::kField, 0, index);
  tree.Field(0, "Samples", 0, kModeDecimal, colour::kField, 0, h.samples, {}, "samples");
  tree.FieldText(0, "Timecode", 0, colour::kField, FormatStreamTime(GetTime(index)));
  if (!have) return;
  const std::string format = std::string(VersionLabel(h.version)) + " (" + LayerLabel(h.layer) + ")";
  tree.FieldText(0, "Format", 0, colour::kField, format);
  tree.Field(0, "Frame size", 0, kModeDecimal, colour::kField, 0, e.size, {}, "bytes");
  tree.Field(0, "Channels", 0, kModeDecimal, colour::kField, 0, h.channels);
  tree.FieldText(0, "Sampling Frequency", 0, colour::kField, FormatSamplingFrequency(h.sampleRate));
  const uint32_t bitRate = GetCodecFields<MpaFrameFields>(e).bitRate;
  tree.FieldText(0, "Bitrate", 0, colour::kField, std::to_string(bitRate / 1000) + "kbps");
}

void CMPA_Parser::ShowFrameDetail(CFieldTree& tree, uint32_t index) {
  uint64_t address = 0;
  FrameEntry e;
  if (!Frames().Get(index, &address, &e)) return;
  const MpaFrameFields f = GetCodecFields<MpaFrameFields>(e);
  const int c = colour::kField;
  if (f.flags & kMpaHasRtpHeader) {
    tree.Title("MPEG Audio-specific header (RFC 2250)");
    tree.Field(1, "MBZ", 16, kModeDecimal, c, f.rtpMbz, f.rtpMbz);
    tree.Field(1, "Frag_offset", 16, kModeDecimal, c, f.rtpFragOffset, f.rtpFragOffset);
  }
  MpaFrameHeader fh;
  if (!GetFrameHeader(index, fh)) return;
  const MpaHeader& h = fh.header;
  tree.Title("MPEG AUDIO FRAME HEADER");
  tree.Field(1, "syncword", 11, kModeHex, c, 0x7FF, 0x7FF);
  tree.Field(1, "ID", 2, kModeBinary, c, h.version, h.version, VersionLabel(h.version));
  tree.Field(1, "layer", 2, kModeBinary, c, h.layerCode, h.layerCode, LayerLabel(h.layer));
  tree.Field(1, "protection_bit", 1, kModeBinary, c, h.protectionBit, h.protectionBit,
             h.protectionBit ? "no CRC" : "CRC follows");
  tree.Field(1, "bitrate_index", 4, kModeBinary, c, h.bitrateIndex, h.bitrateIndex,
             h.FreeFormat() ? "free format" : std::to_string(h.bitRate / 1000) + " kbit/s");
  tree.Field(1, "sampling_frequency", 2, kModeBinary, c, h.samplingFrequency, h.samplingFrequency,
             std::to_string(h.sampleRate) + " Hz");
  tree.Field(1, "padding_bit", 1, kModeBinary, c, h.paddingBit, h.paddingBit);
  tree.Field(1, "private_bit", 1, kModeBinary, c, h.privateBit, h.privateBit);
  tree.Field(1, "mode", 2, kModeBinary, c, h.mode, h.mode, ModeLabel(h.mode));
  tree.Field(1, "mode_extension", 2, kModeBinary, c, h.modeExtension, h.modeExtension);
  tree.Field(1, "copyright", 1, kModeBinary, c, h.copyright, h.copyright);
  tree.Field(1, "original/home", 1, kModeBinary, c, h.original, h.original);
  tree.Field(1, "emphasis", 2, kModeBinary, c, h.emphasis, h.emphasis, EmphasisLabel(h.emphasis));
  if (fh.haveCrc) tree.Field(1, "cyclic redundancy check", 16, kModeHex, c, h.crc, h.crc);
  if (!fh.haveSideInfo) return;
  const MpaSideInfo& s = fh.side;
  const bool lsf = h.Lsf();
  tree.Title("LAYER III SIDE INFORMATION");
  tree.Field(1, "main_data_end", lsf ? 8 : 9, kModeDecimal, c, s.main_data_begin, s.main_data_begin);
  const int privateBits = lsf ? (s.channels == 1 ? 1 : 2) : (s.channels == 1 ? 5 : 3);
  tree.Field(1, "private_bits", privateBits, kModeBinary, c, s.private_bits, s.private_bits);
  if (!lsf) {
    char name[32];
    for (int ch = 0; ch < s.channels; ++ch) {
      for (int band = 0; band < 4; ++band) {
        std::snprintf(name, sizeof name, "scfsi[%d][%d]", ch, band);
        tree.Field(1, name, 1, kModeBinary, c, s.scfsi[ch][band], s.scfsi[ch][band]);
      }
    }
  }
  for (int gr = 0; gr < s.granules; ++gr) {
    for (int ch = 0; ch < s.channels; ++ch) {
      const MpaGranuleChannel& g = s.gr[gr][ch];
      char name[40];
      std::snprintf(name, sizeof name, "GRANUL[%d], CHANNEL[%d]", gr, ch);
      tree.Title(name);
      tree.Field(1, "part2_3_length", 12, kModeDecimal, c, g.part2_3_length, g.part2_3_length);
      tree.Field(1, "big_values", 9, kModeDecimal, c, g.big_values, g.big_values);
      tree.Field(1, "global_gain", 8, kModeDecimal, c, g.global_gain, g.global_gain);
      tree.Field(1, "scalefac_compress", lsf ? 9 : 4, kModeDecimal, c, g.scalefac_compress, g.scalefac_compress);
      tree.Field(1, "blocksplit_flag", 1, kModeBinary, c, g.window_switching_flag, g.window_switching_flag);
      if (g.window_switching_flag) {
        static const char* const kBlockTypes[4] = {"reserved", "start block", "3 short windows", "end block"};
        tree.Field(1, "block_type", 2, kModeBinary, c, g.block_type, g.block_type, kBlockTypes[g.block_type & 3]);
        tree.Field(1, "switch_point", 1, kModeBinary, c, g.mixed_block_flag, g.mixed_block_flag);
        for (int i = 0; i < 2; ++i) {
          std::snprintf(name, sizeof name, "table_select[%d]", i);
          tree.Field(1, name, 5, kModeDecimal, c, g.table_select[i], g.table_select[i]);
        }
        for (int i = 0; i < 3; ++i) {
          std::snprintf(name, sizeof name, "subblock_gain[%d]", i);
          tree.Field(1, name, 3, kModeDecimal, c, g.subblock_gain[i], g.subblock_gain[i]);
        }
      } else {
        for (int i = 0; i < 3; ++i) {
          std::snprintf(name, sizeof name, "table_select[%d]", i);
          tree.Field(1, name, 5, kModeDecimal, c, g.table_select[i], g.table_select[i]);
        }
        tree.Field(1, "region_address1", 4, kModeDecimal, c, g.region0_count, g.region0_count);
        tree.Field(1, "region_address2", 3, kModeDecimal, c, g.region1_count, g.region1_count);
      }
      if (!lsf) tree.Field(1, "preflag", 1, kModeBinary, c, g.preflag, g.preflag);
      tree.Field(1, "scalefac_scale", 1, kModeBinary, c, g.scalefac_scale, g.scalefac_scale);
      tree.Field(1, "count1table_select", 1, kModeBinary, c, g.count1table_select, g.count1table_select);
    }
  }
}

}  // namespace fennik
