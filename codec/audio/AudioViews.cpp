#include "codec/audio/AudioViews.h"

#include <cinttypes>
#include <cstdio>

#include "base/IpAddress.h"
#include "view/NumberFormat.h"

namespace fennik {
const char* AudioFormatLabel(int32_t codecType) {
  switch (codecType) {
    case 82: return "MPEG-1 (Layer-I)";
    case 83: return "MPEG-1 (Layer-II)";
    case 84: return "MPEG-1 (Layer-III)";
    case 85: return "MPEG-2 (Layer-I)";
    case 86: return "MPEG-2 (Layer-II)";
    case 87: return "MPEG-2 (Layer-III)";
    case 88: return "AC-3";
    case 89: return "AAC";
    case 94: return "Liner-PCM";
    case 103: return "ADPCM";
    case 104: return "Vorbis";
    case 105: return "G.711 (A-law)";
    case 106: return "G.711 (u-law)";
    case 107: return "G.722";
    case 108: return "G.726";
    case 109: return "AAL2-G.726";
    case 110: return "G.729";
    case 111: return "FLAC";
    case 113: return "Opus";
    case 114: return "Speex";
    case 115: return "GSM 06.10";
    default: return "---";
  }
}

std::string FormatSamplingFrequency(uint32_t rate) {
  char text[32];
  if (rate % 1000 == 0) {
    std::snprintf(text, sizeof text, "%ukHz", rate / 1000);
  } else {
    std::snprintf(text, sizeof text, "%6.3fkHz", rate / 1000.0);
  }
  return text;
}

std::string FormatStreamTime(uint64_t microseconds) {
  return FormatTime(static_cast<int64_t>(microseconds), 1000, kTimeSigned);
}

namespace {

// The rows that place a frame: File Address and Number of Frame.
void PrintFrameAddress(CAudio_Stream& stream, uint32_t index, CFieldTree& tree) {
  uint64_t address = 0;
  FrameEntry e;
  stream.Frames().Get(index, &address, &e);
  tree.Field(0, "File Address", 48, kModeHex, colour::kField, address + e.frameOffset,
             static_cast<int64_t>(address + e.frameOffset));
  tree.Field(0, "Number of Frame", 0, kModeDecimal, colour::kField, 0, index);
}

// Samples and Timecode.
void PrintFrameTime(CAudio_Stream& stream, uint32_t index, const AudioFormat& f, CFieldTree& tree) {
  tree.Field(0, "Samples", 0, kModeDecimal, colour::kField, 0, f.samples, {}, "samples");
  tree.FieldText(0, "Timecode", 0, colour::kField, FormatStreamTime(stream.GetTime(index)));
}

}  // namespace

void PrintCommonAudioFrameBlock(CAudio_Stream& stream, uint32_t index, CFieldTree& tree) {
  AudioFormat f;
  stream.GetAudioFormat(f);
  PrintFrameAddress(stream, index, tree);
  PrintAudioFormatBlock(f, AudioFormatLabel(f.codecType), tree, true);
  PrintFrameTime(stream, index, f, tree);
}

void PrintAudioFramePlace(CAudio_Stream& stream, uint32_t index, CFieldTree& tree) {
  AudioFormat f;
  stream.GetAudioFormat(f);
  PrintFrameAddress(stream, index, tree);
  PrintFrameTime(stream, index, f, tree);
}

void PrintAudioFormatBlock(const AudioFormat& f, const char* label, CFieldTree& tree, bool withBitrate) {
  tree.FieldText(0, "Format", 0, colour::kField, label);
  tree.Field(0, "Frame size", 0, kModeDecimal, colour::kField, 0, f.frameSize, {}, "bytes");
  tree.Field(0, "Channels", 0, kModeDecimal, colour::kField, 0, f.channels);
  tree.FieldText(0, "Sampling Frequency", 0, colour::kField, FormatSamplingFrequency(f.sampleRate));
  if (withBitrate && f.bitRate > 0) {
    tree.FieldText(0, "Bitrate", 0, colour::kField, std::to_string(f.bitRate / 1000) + "kbps");
  }
}

void CView_AudioFrameList::PrintHeader(const CListModel&, CFieldTree& tree) const {
  tree.Title("LIST OF AUDIO FRAME");
  if (stream_.HasEndpoints()) {
    PrintEndpointRows(tree, stream_.SourceAddress(), stream_.SourcePort(), stream_.DestinationAddress(),
                      stream_.DestinationPort());
  }
  tree.FieldText(0, "Duration", 0, colour::kField, FormatStreamTime(stream_.GetTime(CAvStream::kNone)));
}

void CView_AudioFrameList::ColumnTitle(CRowLine& line) const {
  int column = PutColumnTitles(line, kColumns);
  for (const CAudio_Stream::FrameColumn& c : stream_.FrameListColumns()) {
    line.PutRight(column, c.width - 1, c.title);
    column += c.width;
  }
}

bool CView_AudioFrameList::ItemRow(uint64_t index, CRowLine& line, int& colour) const {
  uint64_t address;
  FrameEntry e;
  if (!stream_.Frames().Get(index, &address, &e)) return false;
  char cell[40];
  int column = 0;
  auto put = [&](const char* text, int width) {
    line.PutRight(column, width - 1, text);
    column += width;
  };
  std::snprintf(cell, sizeof cell, "%9" PRIu64, index);
  put(cell, kColumns[0].width);
  std::snprintf(cell, sizeof cell, "0x%010" PRIX64, address + e.frameOffset);
  put(cell, kColumns[1].width);
  put(FormatDecimalUnsigned(e.size).c_str(), kColumns[2].width);
  put(FormatStreamTime(stream_.GetTime(static_cast<uint32_t>(index))).c_str(), kColumns[3].width);
  const std::span<const CAudio_Stream::FrameColumn> extra = stream_.FrameListColumns();
  if (!extra.empty()) {
    std::vector<std::string> cells;
    stream_.FrameListCells(e, cells);
    for (size_t i = 0; i < extra.size(); ++i) put(i < cells.size() ? cells[i].c_str() : "", extra[i].width);
  }
  colour = colour::kListRow;
  if (markers_ != nullptr && markers_->IsMarked(address + e.frameOffset, ~0u)) {
    colour = colour::kListMarker;
    line.Put(0, "*");
  }
  return true;
}

}  // namespace fennik
