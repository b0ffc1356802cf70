// The audio stream base: fetches frame bytes through the stream's loader (with a one-frame
// read cache), decodes frames to 16-bit PCM through the codec's Decode, and hands PCM to
// the playback, mono widened to stereo.
#pragma once

#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "stream/CAvStream.h"

namespace fennik {

class CFieldTree;

class CAudio_Stream : public CAvStream {
 public:
  static constexpr uint32_t kReadBufferSize = 65536;

  CAudio_Stream();

  bool IsVideo() const override { return false; }
  void AttachView(CViewHost* host) override;
  uint64_t DecodeFrame(uint32_t index) override;
  uint64_t GetTime(uint32_t index) override;
  const uint8_t* GetFrameData(uint32_t index, uint32_t* size, uint64_t* address) override;
  int GetAudioFrame(uint32_t index, AudioFrame& frame) override;

  // The information view of frame `index`: the codec's title row, the common frame block
  // and the codec's own block.
  virtual void ShowFrameInfo(CFieldTree& tree, uint32_t index) = 0;
  // A second, codec-specific block (parameter groups); most codecs have none.
  virtual void ShowFrameDetail(CFieldTree& tree, uint32_t index) { (void)tree, (void)index; }

  // Columns the codec adds to the frame list after No., ADDRESS, SIZE and TIME, and the
  // cells of one frame (one per column; empty cells stay blank).
  struct FrameColumn {
    const char* title;
    int width;
  };
  virtual std::span<const FrameColumn> FrameListColumns() const { return {}; }
  virtual void FrameListCells(const FrameEntry& entry, std::vector<std::string>& cells) const {
    (void)entry, (void)cells;
  }

  // Samples per channel that a frame of `size` bytes decodes to, for codecs where the size
  // tells (0: not known without decoding; frame times then take the RTP timestamp step).
  virtual uint64_t FrameSamples(uint32_t size) const { (void)size; return 0; }
  // The frame's first sample on the stream's output (the RTP timeline, or the frames
  // concatenated), and the output's length for kNone; in samples per channel. Decoding
  // places frames by the same rule (CAudioTimeline), so these agree with the decoded PCM.
  uint64_t FramePosition(uint32_t index);

  // The codec's decoder: PCM bytes written to `out` (0 on failure).
  virtual size_t Decode(const uint8_t* data, size_t length, int16_t* out, size_t capacityBytes) = 0;
  // Bytes of the last decoded frame, and their count.
  const int16_t* Pcm() const { return pcm_.data(); }
  uint32_t PcmBytes() const { return pcmBytes_; }

 protected:
  // Reads a frame's payload bytes into the read buffer; returns the frame's first byte or
  // nullptr when not all of them could be read.
  const uint8_t* ReadFrame(const FrameEntry& entry, uint64_t address);

  std::vector<uint8_t> readBuffer_;
  uint64_t cachedAddress_ = ~uint64_t{0};
  uint32_t cachedBytes_ = 0;
  AudioFormat format_;          // the format as the stream last saw it
  std::vector<int16_t> pcm_;
  uint32_t pcmBytes_ = 0;

 private:
  // Frame positions, computed for the frames present when first asked.
  std::mutex positionsMutex_;
  std::vector<uint64_t> positions_;
  uint64_t positionsEnd_ = 0;
  bool positionsConcatenated_ = false;
};

}  // namespace fennik
