// The content of the views every audio stream shows: the frame list (header block, columns
// No. / ADDRESS / SIZE / TIME, one row per frame) and the common frame block of the
// information view.
#pragma once

#include <cstdint>
#include <string>

#include "stream/CAudio_Stream.h"
#include "view/CFieldTree.h"
#include "view/CListModel.h"

namespace fennik {

// The "Format" label of a codec type ("G.711 (A-law)", "G.722" ...; "---" for others).
const char* AudioFormatLabel(int32_t codecType);
// "8kHz", or "11.025kHz" when the rate is not a whole number of kHz.
std::string FormatSamplingFrequency(uint32_t rate);
// A stream time in microseconds as the audio views show it.
std::string FormatStreamTime(uint64_t microseconds);

// File Address, Number of Frame, Format, Frame size, Channels, Sampling Frequency,
// Bitrate (when known), Samples and Timecode of frame `index`.
void PrintCommonAudioFrameBlock(CAudio_Stream& stream, uint32_t index, CFieldTree& tree);
// The frame's place: File Address, Number of Frame, Samples and Timecode (for codecs that
// show their format in a block of their own).
void PrintAudioFramePlace(CAudio_Stream& stream, uint32_t index, CFieldTree& tree);
// Format (`label`), Frame size, Channels, Sampling Frequency and, with `withBitrate` and a
// known bit rate, Bitrate.
void PrintAudioFormatBlock(const AudioFormat& format, const char* label, CFieldTree& tree,
                           bool withBitrate = false);

class CView_AudioFrameList : public CListSource {
 public:
  using Column = ListColumn;
  static constexpr Column kColumns[] = {{"No.", 14}, {"ADDRESS", 14}, {"SIZE", 11}, {"TIME", 15}};

  explicit CView_AudioFrameList(CAudio_Stream& stream) : stream_(stream) {}

  uint64_t Count() const override { return stream_.Frames().GetCount(); }
  void PrintHeader(const CListModel& list, CFieldTree& tree) const override;
  void ColumnTitle(CRowLine& line) const override;
  bool ItemRow(uint64_t index, CRowLine& line, int& colour) const override;
  // Marked frames (by their payload's file address) are drawn in the marker colour.
  void SetMarkers(const CMarkerQuery* markers) { markers_ = markers; }

 private:
  CAudio_Stream& stream_;
  const CMarkerQuery* markers_ = nullptr;
};

}  // namespace fennik
