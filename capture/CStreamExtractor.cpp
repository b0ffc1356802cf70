#include "capture/CStreamExtractor.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <memory>
#include <numeric>
#include <vector>

#include "base/ByteOrder.h"
#include "base/DebugPrint.h"
#include "capture/CRTP_Parser.h"
#include "capture/CVideoFrameAssembler.h"
#include "capture/H264PictureSize.h"
#include "media/CAVIFile.h"
#include "media/CMediaFile.h"
#include "stream/CodecType.h"

namespace fennik {
namespace {

bool SameTuple(const PacketRecord& p, const RtpStreamEntry& s) {
  return p.sourceAddress == s.sourceAddress && p.destinationAddress == s.destinationAddress &&
         p.sourcePort == s.sourcePort && p.destinationPort == s.destinationPort;
}

// The first packet-table entry whose packet number is at least `number` (packet numbers
// grow with the table index), or the entry count.
uint64_t FirstEntryAtLeast(const CPacketTable& table, int64_t number) {
  uint64_t lo = 0, hi = table.GetCount();
  while (lo < hi) {
    const uint64_t mid = lo + (hi - lo) / 2;
    const RtpPacketEntry* e = table.GetEntry(mid, nullptr);
    if (e != nullptr && int64_t{e->packetNumber} < number) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

uint64_t EntryAddress(const CPacketTable& table, uint64_t index) {
  uint64_t address = 0;
  table.GetEntry(index, &address);
  return address;
}


}  // namespace

// One selected stream while extracting.
struct CStreamExtractor::Selected {
  const RtpStreamEntry* stream = nullptr;
  bool video = false;
  bool swapToLittleEndian = false;  // L16 into AVI, whose PCM is little-endian
  std::unique_ptr<CVideoFrameAssembler> assembler;
};

const char* ExtractStatusText(ExtractStatus status) {
  switch (status) {
    case ExtractStatus::kOk: return "extracted";
    case ExtractStatus::kBadRange: return "Start position or end position is wrong";
    case ExtractStatus::kNoPacketInRange: return "no RTP packet at or after the start packet";
    case ExtractStatus::kBadStream: return "unknown stream id";
    case ExtractStatus::kNotForAvi: return "the streams cannot be stored in an AVI file";
    case ExtractStatus::kCreateFailed: return "Can't create file";
    case ExtractStatus::kOutputIsCapture: return "the output file is the capture being read";
    case ExtractStatus::kReadFailed: return "reading the capture failed";
    case ExtractStatus::kWriteFailed: return "writing the output file failed";
    case ExtractStatus::kFrameTooLarge: return "a video frame without a marker bit is too large";
    case ExtractStatus::kCancelled: return "cancelled";
  }
  return "?";
}

bool CStreamExtractor::IsVideoStream(const RtpStreamEntry& stream) {
  return stream.mediaKind != 1 && stream.codecType != 0;
}

bool CStreamExtractor::AviAudioFormat(const RtpStreamEntry& stream, MediaAudioFormat& format) {
  const int32_t codec = static_cast<int32_t>(stream.codecType);
  format = {};
  format.formatTag = AviAudioFormatTag(codec);
  if (format.formatTag == 0) return false;
  format.channels = stream.channels != 0 ? stream.channels : 1;
  format.sampleRate = stream.clockRate;
  format.bitsPerSample = codec == kCodecL16 ? 16 : 8;
  if (codec == kCodecG722) {
    // RTP keeps an 8000 Hz clock for G.722 (RFC 3551 4.5.2); the audio is 16 kHz at
    // 64 kbit/s, one byte per two samples. Bits 8 names the 64 kbit/s mode.
    format.sampleRate = 16000;
    format.byteRate = 8000 * format.channels;
  }
  if (format.sampleRate == 0) return false;
  format.bitRate = (format.byteRate != 0 ? format.byteRate
                                         : format.sampleRate * format.channels * format.bitsPerSample / 8) * 8;
  return true;
}

// The frame rate comes from the RTP timestamps of the stream's marker packets in the range:
// the most common step between consecutive frames, over the stream's clock rate.
bool CStreamExtractor::AviVideoFormat(uint32_t streamIndex, uint64_t first, uint64_t last,
                                      MediaVideoFormat& format) const {
  const RtpStreamEntry& stream = capture_.Streams()[streamIndex];
  format = {};
  format.fourCC = AviVideoFourCC(static_cast<int32_t>(stream.codecType));
  if (format.fourCC == 0) return false;
  const uint32_t clock = stream.clockRate != 0 ? stream.clockRate : 90000;
  std::map<uint32_t, uint32_t> steps;
  bool have = false;
  uint32_t previous = 0;
  for (uint64_t i = first; i < last; ++i) {
    const RtpPacketEntry* e = capture_.Packets().GetEntry(i, nullptr);
    if (e == nullptr || e->streamIndex != streamIndex || e->marker == 0) continue;
    const uint32_t step = e->rtpTimestamp - previous;
    if (have && step != 0 && step <= clock * 10) ++steps[step];
    previous = e->rtpTimestamp;
    have = true;
  }
  uint32_t scale = clock / 25;  // 25 frames per second when the timestamps do not tell
  uint32_t best = 0;
  for (const auto& [step, count] : steps) {
    if (count > best) best = count, scale = step;
  }
  uint32_t rate = clock;
  const uint32_t divisor = std::gcd(rate, scale);
  rate /= divisor;
  scale /= divisor;
  format.rate = rate;
  format.scale = scale;
  format.frameRate = static_cast<double>(rate) / scale;
  format.microsecondsPerFrame = static_cast<uint32_t>(uint64_t{scale} * 1000000 / rate);
  return true;
}

// The state of one extraction: the selected streams, the packet-table range, the writer
// and the running result.
struct CStreamExtractor::Run {
  Selected selected[2];
  int count = 0;
  uint64_t first = 0, last = 0;              // packet-table entries [first, last)
  uint64_t startAddress = 0, endAddress = 0;  // their file range
  std::unique_ptr<CMediaFile> writer;
  // The packet table does not know an H.264 stream's picture size: it is read from the
  // first sequence parameter set written, and the AVI header is patched at close.
  CAVIFile* aviWriter = nullptr;
  bool pictureSizeKnown = false;
  std::vector<uint8_t> swapped;
  ExtractionResult result;
};

ExtractStatus CStreamExtractor::SelectStreams(const ExtractionRequest& request, Run& run) const {
  const std::vector<RtpStreamEntry>& streams = capture_.Streams();
  const bool avi = request.method == 1;
  for (uint32_t id : request.streamIds) {
    if (id == kNoStreamId) continue;
    if (id == 0 || id > streams.size()) return ExtractStatus::kBadStream;
    Selected& s = run.selected[run.count++];
    s.stream = &streams[id - 1];
    s.video = IsVideoStream(*s.stream);
    s.swapToLittleEndian = avi && !s.video && static_cast<int32_t>(s.stream->codecType) == kCodecL16;
    if (s.video) s.assembler = std::make_unique<CVideoFrameAssembler>(s.stream->codecType);
  }
  if (run.count == 0) return ExtractStatus::kBadStream;
  if (avi && run.count == 2 && run.selected[0].video == run.selected[1].video) return ExtractStatus::kNotForAvi;
  return ExtractStatus::kOk;
}

ExtractStatus CStreamExtractor::SelectRange(const ExtractionRequest& request, Run& run) const {
  const CPacketTable& table = capture_.Packets();
  if (request.start >= request.end) return ExtractStatus::kBadRange;
  run.first = FirstEntryAtLeast(table, request.start);
  if (run.first >= table.GetCount()) return ExtractStatus::kNoPacketInRange;
  run.last = FirstEntryAtLeast(table, request.end);
  run.startAddress = EntryAddress(table, run.first);
  run.endAddress = run.last < table.GetCount() ? EntryAddress(table, run.last) : capture_.FileSize();
  return ExtractStatus::kOk;
}

// Formats are worked out before the file is created, so a refused request leaves no file.
ExtractStatus CStreamExtractor::CreateWriter(const ExtractionRequest& request, Run& run) {
  const bool avi = request.method == 1;
  const std::vector<RtpStreamEntry>& streams = capture_.Streams();
  MediaAudioFormat audioFormat;
  MediaVideoFormat videoFormat;
  if (avi) {
    for (int i = 0; i < run.count; ++i) {
      const Selected& s = run.selected[i];
      const bool ok = s.video ? AviVideoFormat(static_cast<uint32_t>(s.stream - streams.data()), run.first,
                                               run.last, videoFormat)
                              : AviAudioFormat(*s.stream, audioFormat);
      if (!ok) return ExtractStatus::kNotForAvi;
    }
  }
  // Replacing the capture itself would destroy it while it is being read.
  struct stat output {}, input {};
  if (::stat(request.fileName.c_str(), &output) == 0 && ::stat(capture_.FileName().c_str(), &input) == 0 &&
      output.st_dev == input.st_dev && output.st_ino == input.st_ino) {
    return ExtractStatus::kOutputIsCapture;
  }
  run.writer = avi ? std::make_unique<CAVIFile>() : std::make_unique<CMediaFile>();
  run.aviWriter = avi ? static_cast<CAVIFile*>(run.writer.get()) : nullptr;
  if (int error = run.writer->Create(request.fileName, request.replace); error != 0) {
    run.result.systemError = error;
    return ExtractStatus::kCreateFailed;
  }
  for (int i = 0; i < run.count; ++i) {
    if (run.selected[i].video) {
      run.writer->SetVideoFormat(0, avi ? &videoFormat : nullptr);
    } else {
      run.writer->SetAudioFormat(0, avi ? &audioFormat : nullptr);
    }
  }
  return ExtractStatus::kOk;
}

// One packet's payload into a selected stream's output: audio at once (L16 byte-swapped
// for AVI), video gathered until the packet with the marker bit ends the frame.
ExtractStatus CStreamExtractor::WritePayload(Selected& s, const uint8_t* payload, uint32_t length, bool marker,
                                             Run& run) {
  ++run.result.packets;
  run.result.bytes += length;
  if (!s.video) {
    const uint8_t* data = payload;
    if (s.swapToLittleEndian) {
      run.swapped.assign(payload, payload + length);
      for (uint32_t k = 0; k + 1 < length; k += 2) std::swap(run.swapped[k], run.swapped[k + 1]);
      data = run.swapped.data();
    }
    return run.writer->WriteAudio(data, length) == 0 ? ExtractStatus::kWriteFailed : ExtractStatus::kOk;
  }
  if (!s.assembler->Add(payload, length)) return ExtractStatus::kFrameTooLarge;
  if (!marker) return ExtractStatus::kOk;
  ExtractStatus status = ExtractStatus::kOk;
  const std::vector<uint8_t>& frame = s.assembler->Frame();
  if (!frame.empty()) {
    if (run.writer->WriteVideo(frame.data(), static_cast<uint32_t>(frame.size()), s.assembler->KeyFrame()) == 0) {
      status = ExtractStatus::kWriteFailed;
    }
    ++run.result.videoFrames;
    uint32_t width = 0, height = 0;
    if (run.aviWriter != nullptr && !run.pictureSizeKnown && s.stream->codecType == kCodecH264Rtp &&
        H264PictureSizeInStream(frame.data(), frame.size(), width, height)) {
      run.aviWriter->SetVideoSize(width, height);
      run.pictureSizeKnown = true;
    }
  }
  s.assembler->Clear();
  return status;
}

// Reads the range chunk by chunk and hands the selected streams' payloads to WritePayload.
ExtractStatus CStreamExtractor::CopyPackets(Run& run, CExtractionListener* listener) {
  const CPacketTable& table = capture_.Packets();
  const CaptureFormatInfo format = capture_.Format();
  auto chunk = std::make_unique_for_overwrite<uint8_t[]>(kChunkSize);
  CRTP_LoadPacket decoder;
  ExtractStatus status = ExtractStatus::kOk;
  uint64_t index = run.first;
  while (index < run.last && status == ExtractStatus::kOk) {
    if (listener != nullptr && listener->IsCancelled()) return ExtractStatus::kCancelled;
    const uint64_t chunkAddress = EntryAddress(table, index);
    if (listener != nullptr) listener->OnProgress(chunkAddress - run.startAddress, run.endAddress - run.startAddress);
    const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(kChunkSize, run.endAddress - chunkAddress));
    const uint32_t valid = chunkAddress < run.endAddress ? capture_.ReadAt(chunkAddress, chunk.get(), wanted) : 0;
    if (valid == 0) return ExtractStatus::kReadFailed;
    const uint64_t before = index;
    for (; index < run.last && status == ExtractStatus::kOk; ++index) {
      uint64_t address = 0;
      const RtpPacketEntry* entry = table.GetEntry(index, &address);
      if (entry == nullptr || address < chunkAddress || address - chunkAddress >= valid) break;
      const uint32_t pos = static_cast<uint32_t>(address - chunkAddress);
      const RecordSpan r = ReadRecordSpan(chunk.get() + pos, valid - pos, format.format, format.bigEndian);
      if (r.status != RecordSpan::kComplete) break;  // the record goes on past this chunk
      if (r.frameOffset == 0) continue;              // not a packet record
      const uint8_t* rec = chunk.get() + pos;
      PacketRecord packet;
      const uint32_t payloadOffset = decoder.Decode(rec, r.usable, r.frameOffset, packet, LinkTypeOfCode(entry->linkCode), false);
      if (payloadOffset == 0 || payloadOffset > r.usable) {
        ++run.result.unreadPackets;
        continue;
      }
      // Only the captured bytes exist, even when the UDP length announces more.
      const uint32_t length = std::min(packet.payloadLength, r.usable - payloadOffset);
      for (int i = 0; i < run.count && status == ExtractStatus::kOk; ++i) {
        if (SameTuple(packet, *run.selected[i].stream))
          status = WritePayload(run.selected[i], rec + payloadOffset, length, packet.marker != 0, run);
      }
    }
    if (index == before && status == ExtractStatus::kOk) {
      // A record that does not fit into a chunk (or is not a packet record any more) cannot
      // be an RTP packet the analysis listed: step over it.
      DebugPrint("[RTP] extraction: record at %llu not readable\n", static_cast<unsigned long long>(chunkAddress));
      ++run.result.unreadPackets;
      ++index;
    }
  }
  if (status == ExtractStatus::kOk && listener != nullptr) {
    listener->OnProgress(run.endAddress - run.startAddress, run.endAddress - run.startAddress);
  }
  return status;
}

ExtractionResult CStreamExtractor::Extract(const ExtractionRequest& request, CExtractionListener* listener) {
  Run run;
  ExtractStatus status = SelectStreams(request, run);
  if (status == ExtractStatus::kOk) status = SelectRange(request, run);
  if (status == ExtractStatus::kOk) status = CreateWriter(request, run);
  if (status != ExtractStatus::kOk) {
    run.result.status = status;
    return run.result;
  }
  status = CopyPackets(run, listener);
  for (const Selected& s : run.selected) {
    if (s.assembler != nullptr && s.assembler->Dropped() != 0) {
      DebugPrint("[RTP] extraction: %u H.264 fragments dropped\n", s.assembler->Dropped());
    }
  }
  const bool closed = run.writer->Close();
  if (status == ExtractStatus::kOk && !closed) status = ExtractStatus::kWriteFailed;
  run.result.status = status;
  return run.result;
}

}  // namespace fennik
