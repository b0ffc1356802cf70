// MPEG-4 AAC transport syntax (ISO/IEC 14496-3 1.6 and 1.7, ISO/IEC 13818-7 6.2): the
// AudioSpecificConfig, the LATM StreamMuxConfig and AudioMuxElement, the ADTS header and
// the two LOAS sync layers. Records carry the syntax elements under their standard names;
// derived values are marked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/BitReader.h"

namespace fennik {

// Sampling frequency by index (14496-3 Table 1.18); 0 for the reserved 13 and 14.
uint32_t AacSampleRate(uint32_t samplingFrequencyIndex);
// Channels by channelConfiguration (0 = defined by a program_config_element: 0 here).
uint32_t AacChannels(uint32_t channelConfiguration);

struct AudioSpecificConfig {
  uint32_t audioObjectType = 0;
  uint32_t samplingFrequencyIndex = 0;
  uint32_t samplingFrequency = 0;           // explicit (index 15) or from the index
  uint32_t channelConfiguration = 0;
  int32_t extensionAudioObjectType = -1;    // -1: not signalled
  uint32_t sbrPresentFlag = 0;
  uint32_t psPresentFlag = 0;
  uint32_t extensionSamplingFrequencyIndex = 0;
  uint32_t extensionSamplingFrequency = 0;
  uint32_t frameLengthFlag = 0;             // GASpecificConfig: 960-sample frames
  size_t bits = 0;                          // derived: bits read
  std::vector<uint8_t> bytes;               // derived: the config's bits, byte-aligned

  // Derived: what a decoder outputs per frame (the SBR rate and 2048 samples with SBR,
  // two channels with PS).
  uint32_t OutputRate() const { return sbrPresentFlag && extensionSamplingFrequency ? extensionSamplingFrequency : samplingFrequency; }
  uint32_t OutputSamples() const { return (frameLengthFlag ? 960u : 1024u) * (sbrPresentFlag ? 2u : 1u); }
};
// Reads an AudioSpecificConfig (14496-3 1.6.2.1 with the GASpecificConfig of 4.4.1 and the
// backward-compatible SBR/PS signalling of 1.6.6), keeping its bits in `bytes`. False when
// the bits ran out.
bool ReadAudioSpecificConfig(BitReader& r, AudioSpecificConfig& asc);
// Parses a hexadecimal configuration string (SDP config=) into bytes; empty on error.
std::vector<uint8_t> HexBytes(const char* text, size_t length);

struct StreamMuxConfig {
  uint32_t audioMuxVersion = 0;
  uint32_t audioMuxVersionA = 0;
  uint32_t taraBufferFullness = 0;
  uint32_t allStreamsSameTimeFraming = 0;
  uint32_t numSubFrames = 0;
  uint32_t numProgram = 0;
  uint32_t numLayer = 0;
  uint32_t ascLen = 0;
  uint32_t fillBits = 0;
  uint32_t frameLengthType = 0;
  uint32_t latmBufferFullness = 0;
  uint32_t frameLength = 0;
  uint32_t otherDataPresent = 0;
  uint32_t otherDataLenBits = 0;
  uint32_t crcCheckPresent = 0;
  uint32_t crcCheckSum = 0;
  AudioSpecificConfig asc;  // of program 0, layer 0
};
// 14496-3 1.7.3.1; only the first program's first layer is kept.
bool ReadStreamMuxConfig(BitReader& r, StreamMuxConfig& smc);

// One AudioMuxElement (14496-3 1.7.3.1): its configuration when it carries one, and the
// payloads of its sub-frames (frame length type 0).
struct AudioMuxElement {
  uint32_t useSameStreamMux = 1;
  bool haveConfig = false;  // this element carried a StreamMuxConfig
  StreamMuxConfig config;
  struct Payload {
    size_t length;
    std::vector<uint8_t> bytes;  // the payload (PayloadMux), byte-aligned
  };
  std::vector<Payload> payloads;
};
// `config` is the stream's current StreamMuxConfig (from an earlier element or from SDP);
// it is replaced when the element carries its own. False on a syntax error or when the
// element needs a configuration that is not known.
bool ReadAudioMuxElement(const uint8_t* data, size_t size, bool muxConfigPresent, StreamMuxConfig& config,
                         bool& haveConfig, AudioMuxElement& out);

struct AdtsHeader {
  uint32_t syncword, id, layer, protection_absent, profile, sampling_frequency_index, private_bit,
      channel_configuration, original_copy, home, copyright_identification_bit,
      copyright_identification_start, frame_length, adts_buffer_fullness,
      number_of_raw_data_blocks_in_frame;
  uint32_t packed;  // the fields at the bit positions of the frame header record
};
// 13818-7 6.2.2 / 14496-3 1.A.2.2: 7 bytes; valid with syncword 0xFFF and layer 0.
bool ReadAdtsHeader(const uint8_t* data, size_t size, AdtsHeader& h);
// The AudioSpecificConfig an ADTS header stands for (audioObjectType = profile + 1).
std::vector<uint8_t> AdtsAudioSpecificConfig(const AdtsHeader& h);

struct EpSyncHeader {
  uint32_t syncword, futureUse, audioMuxLengthBytes, frameCounter, headerParity;
};
// 14496-3 1.7.2: EPAudioSyncStream header (7 bytes, syncword 0x4DE1).
bool ReadEpSyncHeader(const uint8_t* data, size_t size, EpSyncHeader& h);

}  // namespace fennik
