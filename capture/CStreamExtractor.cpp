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

// One packet record inside a chunk: its length, where its frame starts and how many of its
// bytes the frame may use; length 0 when the record does not lie wholly inside the chunk.
struct RecordSpan {
  uint32_t length = 0;
  uint32_t frameOffset = 0;
  uint32_t usable = 0;
};

// Classic record: 16-byte header (seconds, fraction, captured length, original length).
// pcapng Enhanced Packet Block: type 6, total length, interface, timestamp (2 x 32),
// captured length, original length, then the frame.
RecordSpan RecordAt(const uint8_t* p, uint64_t available, const CaptureFormatInfo& format) {
  const bool big = format.bigEndian;
  if (format.format == CaptureFormat::kPcap) {
    if (available < kPcapRecordHeader) return {};
    const uint64_t length = uint64_t{Read32(p + 8, big)} + kPcapRecordHeader;
    if (length > available) return {};
    return {static_cast<uint32_t>(length), kPcapRecordHeader, static_cast<uint32_t>(length)};
  }
  if (available < kEnhancedPacketHeader + 4) return {};
  const uint32_t type = Read32(p, big);
  const uint32_t length = Read32(p + 4, big);
  if (type != 6 || length < kEnhancedPacketHeader + 4 || length > available) return {};
  const uint32_t captured = Read32(p + 20, big);
  const uint32_t room = length - kEnhancedPacketHeader - 4;
  return {length, kEnhancedPacketHeader, kEnhancedPacketHeader + std::min(captured, room)};
}

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

// One selected stream while extracting.
struct Selected {
  const RtpStreamEntry* stream = nullptr;
  bool video = false;
  bool swapToLittleEndian = false;  // L16 into AVI, whose PCM is little-endian
  std::unique_ptr<CVideoFrameAssembler> assembler;
};

}  // namespace

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

ExtractionResult CStreamExtractor::Extract(const ExtractionRequest& request,
                                           CExtractionListener* listener) {
  ExtractionResult result;
  auto fail = [&result](ExtractStatus status) {
    result.status = status;
    return result;
  };
  const CPacketTable& table = capture_.Packets();
  const std::vector<RtpStreamEntry>& streams = capture_.Streams();
  const bool avi = request.method == 1;

  // The selected streams.
  Selected selected[2];
  int count = 0;
  for (uint32_t id : request.streamIds) {
    if (id == kNoStreamId) continue;
    if (id == 0 || id > streams.size()) return fail(ExtractStatus::kBadStream);
    Selected& s = selected[count++];
    s.stream = &streams[id - 1];
    s.video = IsVideoStream(*s.stream);
    s.swapToLittleEndian = avi && !s.video && static_cast<int32_t>(s.stream->codecType) == kCodecL16;
    if (s.video) s.assembler = std::make_unique<CVideoFrameAssembler>(s.stream->codecType);
  }
  if (count == 0) return fail(ExtractStatus::kBadStream);
  if (avi && count == 2 && selected[0].video == selected[1].video) return fail(ExtractStatus::kNotForAvi);

  // The range: packet-table entries [first, last).
  if (request.start >= request.end) return fail(ExtractStatus::kBadRange);
  const uint64_t first = FirstEntryAtLeast(table, request.start);
  if (first >= table.GetCount()) return fail(ExtractStatus::kNoPacketInRange);
  const uint64_t last = FirstEntryAtLeast(table, request.end);
  const uint64_t startAddress = EntryAddress(table, first);
  const uint64_t endAddress = last < table.GetCount() ? EntryAddress(table, last) : capture_.FileSize();

  // Formats are worked out before the file is created, so a refused request leaves no file.
  MediaAudioFormat audioFormat;
  MediaVideoFormat videoFormat;
  if (avi) {
    for (int i = 0; i < count; ++i) {
      const bool ok = selected[i].video
                          ? AviVideoFormat(static_cast<uint32_t>(selected[i].stream - streams.data()),
                                           first, last, videoFormat)
                          : AviAudioFormat(*selected[i].stream, audioFormat);
      if (!ok) return fail(ExtractStatus::kNotForAvi);
    }
  }
  // Replacing the capture itself would destroy it while it is being read.
  struct stat output {}, input {};
  if (::stat(request.fileName.c_str(), &output) == 0 && ::stat(capture_.FileName().c_str(), &input) == 0 &&
      output.st_dev == input.st_dev && output.st_ino == input.st_ino) {
    return fail(ExtractStatus::kOutputIsCapture);
  }
  std::unique_ptr<CMediaFile> writer = avi ? std::make_unique<CAVIFile>() : std::make_unique<CMediaFile>();
  // The packet table does not know an H.264 stream's picture size: it is read from the
  // first sequence parameter set written, and the AVI header is patched at close.
  CAVIFile* aviWriter = avi ? static_cast<CAVIFile*>(writer.get()) : nullptr;
  bool pictureSizeKnown = false;
  if (int error = writer->Create(request.fileName, request.replace); error != 0) {
    result.systemError = error;
    return fail(ExtractStatus::kCreateFailed);
  }
  for (int i = 0; i < count; ++i) {
    if (selected[i].video) {
      writer->SetVideoFormat(0, avi ? &videoFormat : nullptr);
    } else {
      writer->SetAudioFormat(0, avi ? &audioFormat : nullptr);
    }
  }

  const CaptureFormatInfo format = capture_.Format();
  auto chunk = std::make_unique_for_overwrite<uint8_t[]>(kChunkSize);
  std::vector<uint8_t> swapped;
  CRTP_LoadPacket decoder;
  ExtractStatus status = ExtractStatus::kOk;
  uint64_t index = first;
  while (index < last && status == ExtractStatus::kOk) {
    if (listener != nullptr && listener->IsCancelled()) {
      status = ExtractStatus::kCancelled;
      break;
    }
    const uint64_t chunkAddress = EntryAddress(table, index);
    if (listener != nullptr) listener->OnProgress(chunkAddress - startAddress, endAddress - startAddress);
    const uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(kChunkSize, endAddress - chunkAddress));
    const uint32_t valid = chunkAddress < endAddress ? capture_.ReadAt(chunkAddress, chunk.get(), wanted) : 0;
    if (valid == 0) {
      status = ExtractStatus::kReadFailed;
      break;
    }
    const uint64_t before = index;
    for (; index < last && status == ExtractStatus::kOk; ++index) {
      uint64_t address = 0;
      const RtpPacketEntry* entry = table.GetEntry(index, &address);
      if (entry == nullptr || address < chunkAddress || address - chunkAddress >= valid) break;
      const uint32_t pos = static_cast<uint32_t>(address - chunkAddress);
      const RecordSpan r = RecordAt(chunk.get() + pos, valid - pos, format);
      if (r.length == 0) break;  // the record goes on past this chunk
      const uint8_t* rec = chunk.get() + pos;
      PacketRecord packet;
      const uint32_t payloadOffset = decoder.Decode(rec, r.usable, r.frameOffset, packet, entry->linkType, false);
      if (payloadOffset == 0 || payloadOffset > r.usable) {
        ++result.unreadPackets;
        continue;
      }
      // Only the captured bytes exist, even when the UDP length announces more.
      const uint32_t length = std::min(packet.payloadLength, r.usable - payloadOffset);
      const uint8_t* payload = rec + payloadOffset;
      for (int i = 0; i < count && status == ExtractStatus::kOk; ++i) {
        Selected& s = selected[i];
        if (!SameTuple(packet, *s.stream)) continue;
        ++result.packets;
        result.bytes += length;
        if (!s.video) {
          const uint8_t* data = payload;
          if (s.swapToLittleEndian) {
            swapped.assign(payload, payload + length);
            for (uint32_t k = 0; k + 1 < length; k += 2) std::swap(swapped[k], swapped[k + 1]);
            data = swapped.data();
          }
          if (writer->WriteAudio(data, length) == 0) status = ExtractStatus::kWriteFailed;
          continue;
        }
        if (!s.assembler->Add(payload, length)) {
          status = ExtractStatus::kFrameTooLarge;
          break;
        }
        if (packet.marker != 0) {
          const std::vector<uint8_t>& frame = s.assembler->Frame();
          if (!frame.empty()) {
            if (writer->WriteVideo(frame.data(), static_cast<uint32_t>(frame.size()), s.assembler->KeyFrame()) == 0) {
              status = ExtractStatus::kWriteFailed;
            }
            ++result.videoFrames;
            uint32_t width = 0, height = 0;
            if (aviWriter != nullptr && !pictureSizeKnown && s.stream->codecType == kCodecH264Rtp &&
                H264PictureSizeInStream(frame.data(), frame.size(), width, height)) {
              aviWriter->SetVideoSize(width, height);
              pictureSizeKnown = true;
            }
          }
          s.assembler->Clear();
        }
      }
    }
    if (index == before && status == ExtractStatus::kOk) {
      // A record that does not fit into a chunk (or is not a packet record any more) cannot
      // be an RTP packet the analysis listed: step over it.
      DebugPrint("[RTP] extraction: record at %llu not readable\n",
                 static_cast<unsigned long long>(chunkAddress));
      ++result.unreadPackets;
      ++index;
    }
  }
  if (status == ExtractStatus::kOk && listener != nullptr) {
    listener->OnProgress(endAddress - startAddress, endAddress - startAddress);
  }
  for (const Selected& s : selected) {
    if (s.assembler != nullptr && s.assembler->Dropped() != 0) {
      DebugPrint("[RTP] extraction: %u H.264 fragments dropped\n", s.assembler->Dropped());
    }
  }
  const bool closed = writer->Close();
  if (status == ExtractStatus::kOk && !closed) status = ExtractStatus::kWriteFailed;
  result.status = status;
  return result;
}

}  // namespace fennik
