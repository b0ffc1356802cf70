#include "codec/audio/CAAC_Parser.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/DebugPrint.h"
#include "codec/audio/AudioViews.h"
#include "sdp/MediaFormat.h"
#include "view/CFieldTree.h"

namespace fennik {
namespace {

constexpr CAudio_Stream::FrameColumn kColumns[] = {{"CH", 5}, {"BITRATE", 12}};

uint32_t ReadBE32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

size_t Id3Length(const uint8_t* p, size_t length) {
  if (length < 10 || p[0] != 'I' || p[1] != 'D' || p[2] != '3') return 0;
  return (size_t{p[6] & 0x7Fu} << 21 | size_t{p[7] & 0x7Fu} << 14 | size_t{p[8] & 0x7Fu} << 7 | (p[9] & 0x7Fu)) + 10;
}

bool EqualsIgnoreCase(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
  }
  return *a == *b;
}

}  // namespace

CAAC_Parser::CAAC_Parser() {
  aacFormat_ = format_;
  aacFormat_.codecType = kCodecType;
  aacFormat_.samples = 1024;
  aacFormat_.frameSize = 0;
}

void CAAC_Parser::SetAudioFormat(int32_t sampleRate, uint16_t bitsPerSample, uint16_t channels, uint32_t,
                                 int32_t bitRate) {
  ApplyStreamAudioFormat(aacFormat_, "[AAC]", sampleRate, bitsPerSample, channels, bitRate);
  if (haveAsc_) TakeConfig(asc_);  // the configuration's values win over the rtpmap's
}

// The decoded format follows the configuration: with SBR the output has twice the rate and
// 2048 samples per frame, with PS two channels.
void CAAC_Parser::TakeConfig(const AudioSpecificConfig& asc) {
  if (haveAsc_ && asc.bytes != asc_.bytes) module_.Destroy();  // a new configuration
  asc_ = asc;
  haveAsc_ = true;
  if (const uint32_t rate = asc.OutputRate()) aacFormat_.sampleRate = rate;
  if (const uint32_t ch = AacChannels(asc.channelConfiguration)) aacFormat_.channels = asc.psPresentFlag ? 2 : ch;
  aacFormat_.samples = asc.OutputSamples();
}

// RTP: the encoding name decides the payload format; config=, cpresent and the AU-header
// field widths come from the fmtp line.
void CAAC_Parser::OnMediaFormat() {
  const MediaFormat& mf = GetMediaFormat();
  const std::optional<std::string_view> config = Fmtp("config");
  if (EqualsIgnoreCase(mf.encodingName, "MP4A-LATM")) {
    transport_ = AacTransport::kRtpLatm;
    if (auto cpresent = mf.FmtpNumber("cpresent")) muxConfigPresent_ = *cpresent != 0;
    if (config) {
      // RFC 6416 6.1: config= is the hexadecimal StreamMuxConfig.
      const std::vector<uint8_t> bytes = HexBytes(config->data(), config->size());
      BitReader r(bytes.data(), bytes.size());
      if (!bytes.empty() && ReadStreamMuxConfig(r, muxConfig_)) {
        haveMuxConfig_ = true;
        TakeConfig(muxConfig_.asc);
      }
    }
  } else if (EqualsIgnoreCase(mf.encodingName, "mpeg4-generic")) {
    transport_ = AacTransport::kRtpAuHeaders;
    sizeLength_ = mf.FmtpNumber("sizeLength").value_or(0);
    indexLength_ = mf.FmtpNumber("indexLength").value_or(0);
    indexDeltaLength_ = mf.FmtpNumber("indexDeltaLength").value_or(0);
    ctsDeltaLength_ = mf.FmtpNumber("CTSDeltaLength").value_or(0);
    dtsDeltaLength_ = mf.FmtpNumber("DTSDeltaLength").value_or(0);
    randomAccessIndication_ = mf.FmtpNumber("randomAccessIndication").value_or(0);
    streamStateIndication_ = mf.FmtpNumber("streamStateIndication").value_or(0);
    if (sizeLength_ == 0 || sizeLength_ > 16) {
      // RFC 3640 3.3.6 (AAC-hbr) is the common case; without sizeLength the packets cannot be cut.
      DebugPrint("[AAC] mpeg4-generic without a usable sizeLength (%u)\n", sizeLength_);
    }
    if (config) {
      // RFC 3640 4.1: config= is the hexadecimal AudioSpecificConfig.
      const std::vector<uint8_t> bytes = HexBytes(config->data(), config->size());
      BitReader r(bytes.data(), bytes.size());
      AudioSpecificConfig asc;
      if (!bytes.empty() && ReadAudioSpecificConfig(r, asc)) TakeConfig(asc);
    }
  }
}

int32_t CAAC_Parser::GetCodecType() const {
  switch (transport_) {
    case AacTransport::kAdif: return 90;
    case AacTransport::kAdts: return 91;
    case AacTransport::kLoas:
    case AacTransport::kLoasEp:
    case AacTransport::kRtpLatm: return 92;
    case AacTransport::kRaw:
    case AacTransport::kRtpAuHeaders: return 89;
    default: return kCodecType;
  }
}

int CAAC_Parser::GetAudioFormat(AudioFormat& format) const {
  format = aacFormat_;
  format.codecType = GetCodecType();
  format.bitsPerSample = 16;
  return 1;
}

// The length of the transport frame starting at `p`, 0 when `p` does not start one.
size_t CAAC_Parser::TransportFrameLength(const uint8_t* p, size_t available, AacFrameFields& f) {
  f.transport = static_cast<uint8_t>(transport_);
  if (transport_ == AacTransport::kAdts) {
    AdtsHeader h;
    if (!ReadAdtsHeader(p, available, h)) return 0;
    f.sampleRate = AacSampleRate(h.sampling_frequency_index);
    f.channels = static_cast<uint16_t>(AacChannels(h.channel_configuration));
    f.samples = static_cast<uint16_t>((h.number_of_raw_data_blocks_in_frame + 1) * 1024);
    return h.frame_length >= 7 ? h.frame_length : 0;  // shorter than its own header: no frame
  }
  if (transport_ == AacTransport::kLoas) {
    if (available < 3) return 0;
    const uint32_t sync = uint32_t{p[0]} << 3 | p[1] >> 5;
    if (sync != 0x2B7) return 0;
    const size_t length = (size_t{p[1] & 0x1Fu} << 8 | p[2]) + 3;
    if (length <= available) {
      AudioMuxElement element;
      ReadAudioMuxElement(p + 3, length - 3, true, muxConfig_, haveMuxConfig_, element);
      if (haveMuxConfig_) TakeConfig(muxConfig_.asc);
    }
    f.sampleRate = aacFormat_.sampleRate;
    f.channels = static_cast<uint16_t>(aacFormat_.channels);
    f.samples = static_cast<uint16_t>(aacFormat_.samples);
    return length;
  }
  if (transport_ == AacTransport::kLoasEp) {
    EpSyncHeader h;
    if (!ReadEpSyncHeader(p, available, h)) return 0;
    return size_t{h.audioMuxLengthBytes} + 7;
  }
  return 0;
}

// Transport detection over the first 512 bytes: ADTS, then AudioSyncStream, then
// EPAudioSyncStream; a candidate counts when the next frame starts with the same sync bits.
bool CAAC_Parser::Detect(const uint8_t* data, size_t length) {
  if (length >= 4 && std::memcmp(data, "ADIF", 4) == 0) {
    transport_ = AacTransport::kAdif;
    return true;
  }
  const size_t limit = std::min<size_t>(length, 512);
  static constexpr struct {
    AacTransport transport;
    uint32_t mask, sync;
  } kKinds[] = {{AacTransport::kAdts, 0xFFF00000u, 0xFFF00000u},
                {AacTransport::kLoas, 0xFFE00000u, 0x56E00000u},
                {AacTransport::kLoasEp, 0xFFFF0000u, 0x4DE10000u}};
  for (const auto& kind : kKinds) {
    for (size_t i = 0; i + 4 <= limit; ++i) {
      const uint32_t w = ReadBE32(data + i);
      if (w == 0x00000001) return false;  // a start code: not AAC
      if ((w & kind.mask) != kind.sync) continue;
      transport_ = kind.transport;
      AacFrameFields f{};
      const size_t frame = TransportFrameLength(data + i, length - i, f);
      if (frame > 0 && i + frame + 4 <= length && (ReadBE32(data + i + frame) & kind.mask) == kind.sync) return true;
      transport_ = AacTransport::kUnknown;
    }
  }
  return false;
}

int CAAC_Parser::Open(const uint8_t* data, size_t length, int32_t codecType) {
  if (transport_ == AacTransport::kRtpLatm || transport_ == AacTransport::kRtpAuHeaders) return 1;
  if (const size_t tag = Id3Length(data, length)) {
    if (tag >= length) return 0;
    data += tag;
    length -= tag;
  }
  if (codecType == 90) {
    transport_ = AacTransport::kAdif;
  } else if (codecType == 91) {
    transport_ = AacTransport::kAdts;
  } else if (codecType == 92) {
    transport_ = AacTransport::kLoas;
  } else if (!Detect(data, length)) {
    if (codecType != kCodecType) return 0;
    transport_ = AacTransport::kRaw;
  }
  // Take the stream's rate and channels from its first header.
  for (size_t i = 0; i + 7 <= length; ++i) {
    AacFrameFields f{};
    if (TransportFrameLength(data + i, length - i, f) > 0 && f.sampleRate) {
      aacFormat_.sampleRate = f.sampleRate;
      if (f.channels) aacFormat_.channels = f.channels;
      if (f.samples) aacFormat_.samples = f.samples;
      DebugPrint("frequency = %d, channels=%d\n", aacFormat_.sampleRate, aacFormat_.channels);
      break;
    }
  }
  return 1;
}

AacFrameFields CAAC_Parser::BaseFields(uint32_t bytes) const {
  AacFrameFields f{};
  f.transport = static_cast<uint8_t>(transport_);
  f.sampleRate = aacFormat_.sampleRate;
  f.channels = static_cast<uint16_t>(aacFormat_.channels);
  f.samples = static_cast<uint16_t>(aacFormat_.samples);
  if (f.samples) f.bitRate = static_cast<uint32_t>(uint64_t{bytes} * 8 * f.sampleRate / f.samples);
  return f;
}

// RFC 3640 3.2.1: the AU-header section opens the payload with its length in bits.
uint32_t CAAC_Parser::PayloadHeaderLength(const uint8_t* payload, uint32_t length) const {
  if (transport_ != AacTransport::kRtpAuHeaders || length < 2) return 0;
  const uint32_t bits = uint32_t{payload[0]} << 8 | payload[1];
  return std::min(length, 2 + (bits + 7) / 8);
}

void CAAC_Parser::OnPayloadHeader(const uint8_t* header, uint32_t length, uint32_t payloadBytes, uint32_t) {
  if (length < 2 || sizeLength_ == 0 || sizeLength_ > 16) return;
  const uint32_t bits = uint32_t{header[0]} << 8 | header[1];
  BitReader r(header + 2, length - 2);
  std::vector<AccessUnit> units;
  while (r.BitPosition() + sizeLength_ <= bits && r.Ok()) {
    AccessUnit u{};
    u.size = r.Read(static_cast<int>(sizeLength_));
    u.index = static_cast<uint16_t>(r.Read(static_cast<int>(units.empty() ? indexLength_ : indexDeltaLength_)));
    if (ctsDeltaLength_ && !units.empty() && r.ReadBit()) r.Skip(ctsDeltaLength_);
    if (dtsDeltaLength_ && r.ReadBit()) r.Skip(dtsDeltaLength_);
    if (randomAccessIndication_) r.ReadBit();
    r.Skip(streamStateIndication_);
    u.headersLength = static_cast<uint16_t>(bits);
    u.firstOfPacket = units.empty();
    units.push_back(u);
  }
  if (!r.Ok() || units.empty()) return;
  if (fragmentLeft_ > 0) {
    // RFC 3640 3.2.3: the next fragment repeats the access unit's size. Anything else means
    // fragments were lost: the part received is dropped.
    if (units.size() == 1 && units[0].size == fragmentSize_ && payloadBytes <= fragmentLeft_) {
      fragmentLeft_ -= payloadBytes;
      return;
    }
    for (auto it = units_.rbegin(); it != units_.rend(); ++it) {
      if (!it->skip) {
        it->skip = true;
        it->size = fragmentSize_ - fragmentLeft_;
        break;
      }
    }
    fragmentLeft_ = 0;
  }
  uint64_t total = 0;
  for (const AccessUnit& u : units) total += u.size;
  if (units.size() == 1 && units[0].size > payloadBytes) {
    fragmentSize_ = units[0].size;
    fragmentLeft_ = units[0].size - payloadBytes;
  } else if (total > payloadBytes) {
    DebugPrint("[AAC] AU sizes (%llu) beyond the payload (%u)\n", static_cast<unsigned long long>(total), payloadBytes);
    units_.push_back({payloadBytes, 0, 0, false, true});
    return;
  }
  for (const AccessUnit& u : units) units_.push_back(u);
  // Sizes that never match the bytes would pile up: the parse then starts afresh.
  if (units_.size() > CAnarizeBuffer::kMaxPackets * 4) units_.clear();
}

size_t CAAC_Parser::Parse(uint32_t streamId, CPayloadDescriptor& descriptor) {
  CAnarizeBuffer* buffer = descriptor.Find(streamId);
  if (buffer == nullptr || buffer->Pending() == 0) return 0;
  const uint8_t* data = buffer->Data() + buffer->Consumed();
  const size_t length = buffer->Pending();
  auto add = [&](size_t offset, uint32_t size, const AacFrameFields& f) {
    FrameEntry entry;
    entry.size = size;
    entry.frameNumber = static_cast<uint32_t>(frames_.GetCount());
    entry.streamId = streamId_;
    SetCodecFields(entry, f);
    AddFrame(streamId, offset, entry, descriptor);
  };
  switch (transport_) {
    case AacTransport::kRaw: {
      add(0, static_cast<uint32_t>(length), BaseFields(static_cast<uint32_t>(length)));
      return length;
    }
    case AacTransport::kRtpLatm: {
      // One AudioMuxElement per run of packets sharing an RTP timestamp (RFC 6416 4.1).
      size_t before = 0, start = 0;
      const size_t consumed = buffer->Consumed();
      std::vector<size_t> bounds;
      for (const AnarizePacket& p : buffer->Packets()) {
        const size_t end = before + p.payloadSize;
        if (end > consumed && p.firstOfAccessUnit && before > consumed) bounds.push_back(before - consumed);
        before = end;
      }
      bounds.push_back(length);
      for (size_t end : bounds) {
        if (end <= start) continue;
        AudioMuxElement element;
        ReadAudioMuxElement(data + start, end - start, muxConfigPresent_, muxConfig_, haveMuxConfig_, element);
        if (element.haveConfig) TakeConfig(muxConfig_.asc);
        add(start, static_cast<uint32_t>(end - start), BaseFields(static_cast<uint32_t>(end - start)));
        start = end;
      }
      return length;
    }
    case AacTransport::kRtpAuHeaders: {
      size_t pos = 0;
      while (!units_.empty() && units_.front().size <= length - pos) {
        const AccessUnit u = units_.front();
        units_.pop_front();
        if (!u.skip) {
          AacFrameFields f = BaseFields(u.size);
          f.auSize = static_cast<uint16_t>(u.size);
          f.auIndex = u.index;
          f.auHeadersLength = u.headersLength;
          f.flags = static_cast<uint8_t>(kAacHasAuHeader | (u.firstOfPacket ? kAacFirstAuOfPacket : 0));
          add(pos, u.size, f);
        }
        pos += u.size;
      }
      return pos;
    }
    case AacTransport::kAdts:
    case AacTransport::kLoas:
    case AacTransport::kLoasEp: {
      size_t pos = 0;
      while (pos + 4 <= length) {
        AacFrameFields f = BaseFields(0);
        const size_t frame = TransportFrameLength(data + pos, length - pos, f);
        if (frame == 0) {
          // Not a frame header here: look for the next syncword.
          const uint32_t w = ReadBE32(data + pos);
          const bool sync = transport_ == AacTransport::kAdts ? (w >> 20) == 0xFFF
                            : transport_ == AacTransport::kLoas ? (w >> 21) == 0x2B7
                                                                 : (w >> 16) == 0x4DE1;
          if (sync && length - pos >= 7) {
            DebugPrint("AAC: syncword position error (%d) --> retry\n", static_cast<int>(frames_.GetCount()));
          }
          ++pos;
          continue;
        }
        if (frame > length - pos) break;  // completed by later packets
        if (f.samples && f.sampleRate) f.bitRate = static_cast<uint32_t>(uint64_t{frame} * 8 * f.sampleRate / f.samples);
        if (f.sampleRate) {
          aacFormat_.sampleRate = f.sampleRate;
          if (f.channels) aacFormat_.channels = f.channels;
          if (f.samples) aacFormat_.samples = f.samples;
        }
        add(pos, static_cast<uint32_t>(frame), f);
        pos += frame;
      }
      return pos;
    }
    default:
      return length;  // ADIF and undetected streams yield no frames
  }
}

size_t CAAC_Parser::DecodeAccessUnit(const uint8_t* unit, size_t length, int16_t* out, size_t capacitySamples) {
  if (!haveAsc_ || asc_.bytes.empty() || asc_.bytes.size() > sizeof(CodecModuleConfig::reserved)) return 0;
  if (!module_.IsOpen()) {
    if (!module_.IsAvailable()) return 0;
    CodecModuleConfig config;
    config.channels = aacFormat_.channels;
    config.sampleRate = aacFormat_.sampleRate;
    config.frameMode = static_cast<uint32_t>(asc_.bytes.size());
    std::memcpy(config.reserved, asc_.bytes.data(), asc_.bytes.size());
    if (!module_.Create(config)) return 0;
  }
  return module_.Decode(unit, length, out, capacitySamples);
}

// The frame's access units through the module; silence for the frame's duration where
// there is no module, no configuration or a unit does not decode.
size_t CAAC_Parser::Decode(const uint8_t* data, size_t length, int16_t* out, size_t capacityBytes) {
  if (data == nullptr || length == 0 || out == nullptr) return 0;
  std::vector<std::pair<const uint8_t*, size_t>> units;
  AudioMuxElement element;
  switch (transport_) {
    case AacTransport::kAdts: {
      AdtsHeader h;
      if (!ReadAdtsHeader(data, length, h) || h.frame_length > length) break;
      if (!haveAsc_) {
        const std::vector<uint8_t> bytes = AdtsAudioSpecificConfig(h);
        BitReader r(bytes.data(), bytes.size());
        AudioSpecificConfig asc;
        if (ReadAudioSpecificConfig(r, asc)) TakeConfig(asc);
      }
      const size_t header = h.protection_absent ? 7 : 9;
      if (header < h.frame_length) units.emplace_back(data + header, h.frame_length - header);
      break;
    }
    case AacTransport::kLoas:
      if (length > 3 && ReadAudioMuxElement(data + 3, length - 3, true, muxConfig_, haveMuxConfig_, element)) {
        if (element.haveConfig) TakeConfig(muxConfig_.asc);
      }
      break;
    case AacTransport::kRtpLatm:
      if (ReadAudioMuxElement(data, length, muxConfigPresent_, muxConfig_, haveMuxConfig_, element)) {
        if (element.haveConfig) TakeConfig(muxConfig_.asc);
      }
      break;
    case AacTransport::kRaw:
    case AacTransport::kRtpAuHeaders:
      units.emplace_back(data, length);
      break;
    default:
      break;
  }
  for (const AudioMuxElement::Payload& p : element.payloads) units.emplace_back(p.bytes.data(), p.bytes.size());
  AudioFormat f;
  GetAudioFormat(f);
  const size_t frameSamples = size_t{f.samples} * std::max<uint32_t>(f.channels, 1);
  size_t written = 0;
  const size_t capacity = capacityBytes / 2;
  for (const auto& [unit, size] : units) {
    if (written + frameSamples > capacity) break;
    size_t n = DecodeAccessUnit(unit, size, out + written, capacity - written);
    if (n == 0) {
      n = frameSamples;
      std::memset(out + written, 0, n * 2);
    }
    written += n;
  }
  if (units.empty()) {
    written = std::min(frameSamples, capacity);
    std::memset(out, 0, written * 2);
  }
  return written * 2;
}

std::span<const CAudio_Stream::FrameColumn> CAAC_Parser::FrameListColumns() const { return kColumns; }

void CAAC_Parser::FrameListCells(const FrameEntry& entry, std::vector<std::string>& cells) const {
  const AacFrameFields f = GetCodecFields<AacFrameFields>(entry);
  cells.push_back(f.channels ? std::to_string(f.channels) : std::string());
  cells.push_back(f.bitRate ? FormatDecimalUnsigned(f.bitRate) : std::string());
}

void CAAC_Parser::ShowFrameInfo(CFieldTree& tree, uint32_t index) {
  tree.Title("AAC AUDIO INFORMATION");
  uint64_t address = 0;
  FrameEntry e;
  Frames().Get(index, &address, &e);
  const AacFrameFields f = GetCodecFields<AacFrameFields>(e);
  tree.Field(0, "File Address", 48, kModeHex, colour::kField, address + e.frameOffset,
             static_cast<int64_t>(address + e.frameOffset));
  tree.Field(0, "Number of Frame", 0, kModeDecimal, colour::kField, 0, index);
  tree.Field(0, "Samples", 0, kModeDecimal, colour::kField, 0, f.samples, {}, "samples");
  tree.FieldText(0, "Timecode", 0, colour::kField, FormatStreamTime(GetTime(index)));
  tree.FieldText(0, "Format", 0, colour::kField, "AAC");
  tree.Field(0, "Frame size", 0, kModeDecimal, colour::kField, 0, e.size, {}, "bytes");
  tree.Field(0, "Channels", 0, kModeDecimal, colour::kField, 0, f.channels);
  tree.FieldText(0, "Sampling Frequency", 0, colour::kField, FormatSamplingFrequency(f.sampleRate));
  if (f.bitRate) tree.FieldText(0, "Bitrate", 0, colour::kField, std::to_string(f.bitRate / 1000) + "kbps");
}

namespace {

void PrintAsc(CFieldTree& tree, const AudioSpecificConfig& a, const char* title) {
  const int c = colour::kField;
  tree.Title(title);
  tree.Field(1, "audioObjectType", 5, kModeDecimal, c, a.audioObjectType, a.audioObjectType);
  tree.Field(1, "samplingFrequencyIndex", 4, kModeDecimal, c, a.samplingFrequencyIndex, a.samplingFrequencyIndex);
  tree.Field(1, "samplingFrequency", 0, kModeDecimal, c, 0, a.samplingFrequency, {}, "Hz");
  tree.Field(1, "channelConfiguration", 4, kModeDecimal, c, a.channelConfiguration, a.channelConfiguration);
  tree.Field(1, "extensionAudioObjectType", 0, kModeDecimal, c, 0, a.extensionAudioObjectType);
  tree.Field(1, "sbrPresentFlag", 1, kModeBinary, c, a.sbrPresentFlag, a.sbrPresentFlag);
  tree.Field(1, "extensionSamplingFrequencyIndex", 4, kModeDecimal, c, a.extensionSamplingFrequencyIndex,
             a.extensionSamplingFrequencyIndex);
  tree.Field(1, "extensionSamplingFrequency", 0, kModeDecimal, c, 0, a.extensionSamplingFrequency, {}, "Hz");
}

void PrintMuxConfig(CFieldTree& tree, const StreamMuxConfig& s, const char* title) {
  const int c = colour::kField;
  tree.Title(title);
  tree.Field(1, "audioMuxVersion", 1, kModeBinary, c, s.audioMuxVersion, s.audioMuxVersion);
  tree.Field(1, "audioMuxVersionA", 1, kModeBinary, c, s.audioMuxVersionA, s.audioMuxVersionA);
  tree.Field(1, "taraBufferFullness", 0, kModeDecimal, c, 0, s.taraBufferFullness);
  tree.Field(1, "allStreamsSameTimeFraming", 1, kModeBinary, c, s.allStreamsSameTimeFraming, s.allStreamsSameTimeFraming);
  tree.Field(1, "numSubFrames", 6, kModeDecimal, c, s.numSubFrames, s.numSubFrames);
  tree.Field(1, "numProgram", 4, kModeDecimal, c, s.numProgram, s.numProgram);
  tree.Field(1, "numLayer", 3, kModeDecimal, c, s.numLayer, s.numLayer);
  tree.Field(1, "ascLen", 0, kModeDecimal, c, 0, s.ascLen);
  tree.Field(1, "fillBits", 0, kModeDecimal, c, 0, s.fillBits);
  tree.Field(1, "frameLengthType", 3, kModeDecimal, c, s.frameLengthType, s.frameLengthType);
  tree.Field(1, "latmBufferFullness", 8, kModeDecimal, c, s.latmBufferFullness, s.latmBufferFullness);
  tree.Field(1, "otherDataPresent", 1, kModeBinary, c, s.otherDataPresent, s.otherDataPresent);
  tree.Field(1, "otherDataLenBits", 0, kModeDecimal, c, 0, s.otherDataLenBits);
  tree.Field(1, "crcCheckPresent", 1, kModeBinary, c, s.crcCheckPresent, s.crcCheckPresent);
  tree.Field(1, "crcCheckSum", 8, kModeDecimal, c, s.crcCheckSum, s.crcCheckSum);
  PrintAsc(tree, s.asc, "AudioSpecificConfig");
}

}  // namespace

void CAAC_Parser::ShowFrameDetail(CFieldTree& tree, uint32_t index) {
  uint64_t address = 0;
  FrameEntry e;
  if (!Frames().Get(index, &address, &e)) return;
  const AacFrameFields f = GetCodecFields<AacFrameFields>(e);
  const int c = colour::kField;
  if (f.flags & kAacHasAuHeader) {
    tree.Title("AU-header-section (RFC 3640)");
    tree.Field(1, "AU-headers-length", 16, kModeDecimal, c, f.auHeadersLength, f.auHeadersLength);
    tree.Field(1, "AU-size", static_cast<int>(sizeLength_), kModeDecimal, c, f.auSize, f.auSize);
    const bool first = (f.flags & kAacFirstAuOfPacket) != 0;
    tree.Field(1, first ? "AU-Index" : "AU-Index-delta", static_cast<int>(first ? indexLength_ : indexDeltaLength_),
               kModeDecimal, c, f.auIndex, f.auIndex);
    if (haveAsc_) PrintAsc(tree, asc_, "AudioSpecificConfig (SDP config)");
    return;
  }
  uint32_t size = 0;
  const uint8_t* data = GetFrameData(index, &size, &address);
  if (data == nullptr) return;
  switch (transport_) {
    case AacTransport::kAdts: {
      AdtsHeader h;
      if (!ReadAdtsHeader(data, size, h)) return;
      tree.Title("ADTS FIXED HEADER");
      tree.Field(1, "syncword", 12, kModeHex, c, h.syncword, h.syncword);
      tree.Field(1, "ID", 1, kModeBinary, c, h.id, h.id, h.id ? "MPEG-2" : "MPEG-4");
      tree.Field(1, "layer", 2, kModeBinary, c, h.layer, h.layer);
      tree.Field(1, "protection_absent", 1, kModeBinary, c, h.protection_absent, h.protection_absent);
      tree.Field(1, "profile", 2, kModeBinary, c, h.profile, h.profile);
      tree.Field(1, "sampling_frequency_index", 4, kModeDecimal, c, h.sampling_frequency_index,
                 h.sampling_frequency_index, std::to_string(AacSampleRate(h.sampling_frequency_index)) + " Hz");
      tree.Field(1, "private_bit", 1, kModeBinary, c, h.private_bit, h.private_bit);
      tree.Field(1, "channel_configuration", 3, kModeDecimal, c, h.channel_configuration, h.channel_configuration);
      tree.Field(1, "original/copy", 1, kModeBinary, c, h.original_copy, h.original_copy);
      tree.Field(1, "home", 1, kModeBinary, c, h.home, h.home);
      tree.Title("ADTS VARIABLE HEADER");
      tree.Field(1, "copyright_identification_bit", 1, kModeBinary, c, h.copyright_identification_bit,
                 h.copyright_identification_bit);
      tree.Field(1, "copyright_identification_start", 1, kModeBinary, c, h.copyright_identification_start,
                 h.copyright_identification_start);
      tree.Field(1, "frame_length", 13, kModeDecimal, c, h.frame_length, h.frame_length);
      tree.Field(1, "adts_buffer_fullness", 11, kModeHex, c, h.adts_buffer_fullness, h.adts_buffer_fullness);
      tree.Field(1, "number_of_raw_data_blocks_in_frame", 2, kModeDecimal, c, h.number_of_raw_data_blocks_in_frame,
                 h.number_of_raw_data_blocks_in_frame);
      char line[40];
      std::snprintf(line, sizeof line, "RAW DATA BLOCKS = %u", h.number_of_raw_data_blocks_in_frame + 1);
      tree.Title(line);
      break;
    }
    case AacTransport::kLoas: {
      if (size < 3) return;
      tree.Title("AudioSyncStream");
      tree.Field(1, "syncword", 11, kModeHex, c, 0x2B7, 0x2B7);
      const uint32_t length = uint32_t{data[1] & 0x1Fu} << 8 | data[2];
      tree.Field(1, "audioMuxLengthBytes", 13, kModeDecimal, c, length, length);
      StreamMuxConfig config;
      bool have = false;
      AudioMuxElement element;
      ReadAudioMuxElement(data + 3, size - 3, true, config, have, element);
      tree.Field(1, "useSameStreamMux", 1, kModeBinary, c, element.useSameStreamMux, element.useSameStreamMux);
      if (element.haveConfig) PrintMuxConfig(tree, element.config, "StreamMuxConfig");
      break;
    }
    case AacTransport::kLoasEp: {
      EpSyncHeader h;
      if (!ReadEpSyncHeader(data, size, h)) return;
      tree.Title("EPAudioSyncStream");
      tree.Field(1, "syncword", 16, kModeHex, c, h.syncword, h.syncword);
      tree.Field(1, "futureUse", 4, kModeDecimal, c, h.futureUse, h.futureUse);
      tree.Field(1, "audioMuxLengthBytes", 13, kModeDecimal, c, h.audioMuxLengthBytes, h.audioMuxLengthBytes);
      tree.Field(1, "frameCounter", 5, kModeDecimal, c, h.frameCounter, h.frameCounter);
      tree.Field(1, "headerParity", 18, kModeHex, c, h.headerParity, h.headerParity);
      break;
    }
    case AacTransport::kRtpLatm: {
      StreamMuxConfig config = muxConfig_;
      bool have = haveMuxConfig_;
      AudioMuxElement element;
      const bool ok = ReadAudioMuxElement(data, size, muxConfigPresent_, config, have, element);
      tree.Title("AudioMuxElement (RFC 6416)");
      if (muxConfigPresent_) {
        tree.Field(1, "useSameStreamMux", 1, kModeBinary, c, element.useSameStreamMux, element.useSameStreamMux);
      }
      for (size_t i = 0; ok && i < element.payloads.size(); ++i) {
        char name[40];
        std::snprintf(name, sizeof name, "PayloadLengthInfo[%zu]", i);
        tree.Field(1, name, 0, kModeDecimal, c, 0, static_cast<int64_t>(element.payloads[i].length), {}, "bytes");
      }
      if (element.haveConfig) {
        PrintMuxConfig(tree, element.config, "StreamMuxConfig");
      } else if (have) {
        PrintMuxConfig(tree, config, "StreamMuxConfig (SDP config)");
      }
      break;
    }
    default:
      break;
  }
}

}  // namespace fennik
