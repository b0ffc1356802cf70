#include "codec/audio/AacSyntax.h"

#include "base/DebugPrint.h"

namespace fennik {

uint32_t AacSampleRate(uint32_t index) {
  static constexpr uint32_t kRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                          22050, 16000, 12000, 11025, 8000, 7350};
  return index < 13 ? kRates[index] : 0;
}

uint32_t AacChannels(uint32_t configuration) {
  static constexpr uint32_t kChannels[8] = {0, 1, 2, 3, 4, 5, 6, 8};
  return configuration < 8 ? kChannels[configuration] : 0;
}

namespace {

uint32_t ReadObjectType(BitReader& r) {
  uint32_t type = r.Read(5);
  if (type == 31) type = 32 + r.Read(6);
  return type;
}
uint32_t ReadFrequency(BitReader& r, uint32_t& index) {
  index = r.Read(4);
  return index == 15 ? r.Read(24) : AacSampleRate(index);
}
// LatmGetValue (14496-3 1.7.3.1): bytesForValue + 1 bytes.
uint32_t LatmGetValue(BitReader& r) {
  const int bytes = static_cast<int>(r.Read(2)) + 1;
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | r.Read(8);
  return value;
}

}  // namespace

namespace {
// The bits from `from` to the reader's position, byte-aligned (zero-padded).
std::vector<uint8_t> BitsSince(BitReader from, size_t bits) {
  std::vector<uint8_t> bytes;
  for (size_t done = 0; done < bits; done += 8) {
    const int n = static_cast<int>(bits - done < 8 ? bits - done : 8);
    bytes.push_back(static_cast<uint8_t>(from.Read(n) << (8 - n)));
  }
  return bytes;
}
}  // namespace

bool ReadAudioSpecificConfig(BitReader& r, AudioSpecificConfig& asc) {
  asc = AudioSpecificConfig();
  const BitReader origin = r;
  const size_t start = r.BitPosition();
  asc.audioObjectType = ReadObjectType(r);
  asc.samplingFrequency = ReadFrequency(r, asc.samplingFrequencyIndex);
  asc.channelConfiguration = r.Read(4);
  if (asc.audioObjectType == 5 || asc.audioObjectType == 29) {
    asc.extensionAudioObjectType = 5;
    asc.sbrPresentFlag = 1;
    if (asc.audioObjectType == 29) asc.psPresentFlag = 1;
    asc.extensionSamplingFrequency = ReadFrequency(r, asc.extensionSamplingFrequencyIndex);
    asc.audioObjectType = ReadObjectType(r);
  }
  switch (asc.audioObjectType) {
    case 1: case 2: case 3: case 4: case 6: case 7: case 17: case 19: case 20: case 21: case 22: case 23: {
      asc.frameLengthFlag = r.ReadBit();
      if (r.ReadBit()) r.Read(14);  // dependsOnCoreCoder: coreCoderDelay
      const uint32_t extensionFlag = r.ReadBit();
      if (asc.channelConfiguration == 0) {
        // A program_config_element follows; its channel layout is not read here.
        DebugPrint("[AAC] AudioSpecificConfig with a program_config_element\n");
        asc.bits = r.BitPosition() - start;
        asc.bytes = BitsSince(origin, asc.bits);
        return r.Ok();
      }
      if (asc.audioObjectType == 6 || asc.audioObjectType == 20) r.Read(3);  // layerNr
      if (extensionFlag) {
        if (asc.audioObjectType == 22) r.Read(16);  // numOfSubFrame, layer_length
        if (asc.audioObjectType == 17 || asc.audioObjectType == 19 || asc.audioObjectType == 20 ||
            asc.audioObjectType == 23) {
          r.Read(3);  // the three resilience flags
        }
        r.ReadBit();  // extensionFlag3
      }
      break;
    }
    default:
      break;
  }
  // Backward-compatible signalling of SBR and PS (14496-3 1.6.6.2) after the config.
  if (asc.extensionAudioObjectType != 5 && r.BitsLeft() >= 16 && r.Peek(11) == 0x2B7) {
    r.Read(11);
    const uint32_t extension = ReadObjectType(r);
    if (extension == 5) {
      asc.extensionAudioObjectType = 5;
      asc.sbrPresentFlag = r.ReadBit();
      if (asc.sbrPresentFlag) {
        asc.extensionSamplingFrequency = ReadFrequency(r, asc.extensionSamplingFrequencyIndex);
        if (r.BitsLeft() >= 12 && r.Peek(11) == 0x548) {
          r.Read(11);
          asc.psPresentFlag = r.ReadBit();
        }
      }
    }
  }
  asc.bits = r.BitPosition() - start;
  if (r.Ok()) asc.bytes = BitsSince(origin, asc.bits);
  return r.Ok();
}

std::vector<uint8_t> HexBytes(const char* text, size_t length) {
  std::vector<uint8_t> bytes;
  if (length % 2 != 0) return {};
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < length; i += 2) {
    const int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return {};
    bytes.push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return bytes;
}

bool ReadStreamMuxConfig(BitReader& r, StreamMuxConfig& smc) {
  smc = StreamMuxConfig();
  smc.audioMuxVersion = r.ReadBit();
  if (smc.audioMuxVersion) smc.audioMuxVersionA = r.ReadBit();
  if (smc.audioMuxVersionA) return false;  // reserved for future extensions
  if (smc.audioMuxVersion) smc.taraBufferFullness = LatmGetValue(r);
  smc.allStreamsSameTimeFraming = r.ReadBit();
  smc.numSubFrames = r.Read(6);
  smc.numProgram = r.Read(4);
  for (uint32_t prog = 0; prog <= smc.numProgram; ++prog) {
    const uint32_t numLayer = r.Read(3);
    if (prog == 0) smc.numLayer = numLayer;
    for (uint32_t lay = 0; lay <= numLayer; ++lay) {
      const bool first = prog == 0 && lay == 0;
      const uint32_t useSameConfig = first ? 0 : r.ReadBit();
      if (!useSameConfig) {
        AudioSpecificConfig asc;
        if (smc.audioMuxVersion == 0) {
          if (!ReadAudioSpecificConfig(r, asc)) return false;
        } else {
          const uint32_t ascLen = LatmGetValue(r);
          const size_t before = r.BitPosition();
          if (!ReadAudioSpecificConfig(r, asc)) return false;
          const size_t used = r.BitPosition() - before;
          uint32_t fill = ascLen > used ? static_cast<uint32_t>(ascLen - used) : 0;
          if (fill > r.BitsLeft()) {
            DebugPrint("fillBits = %08X\n", fill);
            fill = static_cast<uint32_t>(r.BitsLeft());
          }
          r.Skip(fill);
          if (first) smc.ascLen = ascLen, smc.fillBits = fill;
        }
        if (first) smc.asc = asc;
      }
      const uint32_t frameLengthType = r.Read(3);
      if (first) smc.frameLengthType = frameLengthType;
      switch (frameLengthType) {
        case 0: {
          const uint32_t fullness = r.Read(8);
          if (first) smc.latmBufferFullness = fullness;
          if (!smc.allStreamsSameTimeFraming) {
            // coreFrameOffset for scalable layers is not signalled here (no core coder).
          }
          break;
        }
        case 1: {
          const uint32_t length = r.Read(9);
          if (first) smc.frameLength = length;
          break;
        }
        case 3: case 4: case 5: r.Read(6); break;  // CELPframeLengthTableIndex
        case 6: case 7: r.Read(1); break;          // HVXCframeLengthTableIndex
        default: break;
      }
    }
  }
  smc.otherDataPresent = r.ReadBit();
  if (smc.otherDataPresent) {
    if (smc.audioMuxVersion) {
      smc.otherDataLenBits = LatmGetValue(r);
    } else {
      uint32_t esc;
      do {
        esc = r.ReadBit();
        smc.otherDataLenBits = smc.otherDataLenBits << 8 | r.Read(8);
      } while (esc && r.Ok());
    }
  }
  smc.crcCheckPresent = r.ReadBit();
  if (smc.crcCheckPresent) smc.crcCheckSum = r.Read(8);
  return r.Ok();
}

bool ReadAudioMuxElement(const uint8_t* data, size_t size, bool muxConfigPresent, StreamMuxConfig& config,
                         bool& haveConfig, AudioMuxElement& out) {
  out = AudioMuxElement();
  BitReader r(data, size);
  if (muxConfigPresent) {
    out.useSameStreamMux = r.ReadBit();
    if (!out.useSameStreamMux) {
      if (!ReadStreamMuxConfig(r, out.config)) return false;
      config = out.config;
      haveConfig = true;
      out.haveConfig = true;
    }
  }
  if (!haveConfig || config.audioMuxVersionA != 0 || config.frameLengthType != 0) return false;
  for (uint32_t sub = 0; sub <= config.numSubFrames; ++sub) {
    // PayloadLengthInfo of the one program and layer: bytes in runs of 255.
    size_t length = 0;
    uint32_t tmp;
    do {
      tmp = r.Read(8);
      length += tmp;
    } while (tmp == 255 && r.Ok());
    if (!r.Ok() || length > r.BitsLeft() / 8) return false;
    AudioMuxElement::Payload payload{length, {}};
    payload.bytes.resize(length);
    for (size_t i = 0; i < length; ++i) payload.bytes[i] = static_cast<uint8_t>(r.Read(8));
    out.payloads.push_back(std::move(payload));
  }
  return r.Ok();
}

bool ReadAdtsHeader(const uint8_t* data, size_t size, AdtsHeader& h) {
  if (size < 7) return false;
  BitReader r(data, 7);
  h.syncword = r.Read(12);
  h.id = r.ReadBit();
  h.layer = r.Read(2);
  h.protection_absent = r.ReadBit();
  h.profile = r.Read(2);
  h.sampling_frequency_index = r.Read(4);
  h.private_bit = r.ReadBit();
  h.channel_configuration = r.Read(3);
  h.original_copy = r.ReadBit();
  h.home = r.ReadBit();
  h.copyright_identification_bit = r.ReadBit();
  h.copyright_identification_start = r.ReadBit();
  h.frame_length = r.Read(13);
  h.adts_buffer_fullness = r.Read(11);
  h.number_of_raw_data_blocks_in_frame = r.Read(2);
  h.packed = h.syncword | h.id << 12 | h.layer << 13 | h.protection_absent << 15 | h.profile << 16 |
             h.sampling_frequency_index << 18 | h.private_bit << 22 | h.channel_configuration << 23 |
             h.original_copy << 26 | h.home << 27 | h.copyright_identification_bit << 28 |
             h.copyright_identification_start << 29 | h.number_of_raw_data_blocks_in_frame << 30;
  return h.syncword == 0xFFF && h.layer == 0;
}

std::vector<uint8_t> AdtsAudioSpecificConfig(const AdtsHeader& h) {
  const uint32_t v = (h.profile + 1) << 11 | h.sampling_frequency_index << 7 | h.channel_configuration << 3;
  return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

bool ReadEpSyncHeader(const uint8_t* data, size_t size, EpSyncHeader& h) {
  if (size < 7) return false;
  BitReader r(data, 7);
  h.syncword = r.Read(16);
  h.futureUse = r.Read(4);
  h.audioMuxLengthBytes = r.Read(13);
  h.frameCounter = r.Read(5);
  h.headerParity = r.Read(18);
  return h.syncword == 0x4DE1;
}

}  // namespace fennik
