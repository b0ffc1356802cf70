// Stream extraction: copies the payloads of one or two RTP streams, between two packet
// numbers, from an analysed capture into a raw payload file or an AVI file. The range is
// re-read from the capture file in 1 MiB chunks; the packet table tells where each RTP
// packet's record lies, so extraction needs no stream object.
#pragma once

#include <cstdint>
#include <string>

namespace fennik {

class CRTP_Parser;
class CMediaFile;
struct RtpStreamEntry;
struct MediaAudioFormat;
struct MediaVideoFormat;

// The worker's side of an extraction: progress before each chunk, and a cancel request.
class CExtractionListener {
 public:
  virtual ~CExtractionListener() = default;
  // `done` of `total` bytes of the range have been read.
  virtual void OnProgress(uint64_t done, uint64_t total) { (void)done, (void)total; }
  virtual bool IsCancelled() const { return false; }
};

constexpr uint32_t kNoStreamId = 0xFFFFFFFF;

struct ExtractionRequest {
  uint32_t method = 0;  // 0 raw payload bytes, 1 AVI
  int32_t start = 0;    // first packet number (counted over the file's records, from 1)
  int32_t end = 0;      // packet number where the range ends; that packet is not included
  uint32_t streamIds[2] = {kNoStreamId, kNoStreamId};  // stream index + 1
  std::string fileName;
  bool replace = true;  // an existing output file is replaced
};

enum class ExtractStatus {
  kOk,
  kBadRange,         // start not below end
  kNoPacketInRange,  // no RTP packet at or after start
  kBadStream,        // no stream selected, or an id the capture does not have
  kNotForAvi,        // a stream AVI cannot hold, or two of the same kind
  kCreateFailed,
  kOutputIsCapture,  // the output names the capture file itself, which would be truncated
  kReadFailed,
  kWriteFailed,
  kFrameTooLarge,    // a video frame without a marker bit outgrew the assembly limit
  kCancelled,
};

struct ExtractionResult {
  ExtractStatus status = ExtractStatus::kOk;
  int systemError = 0;      // errno of a failed creation
  uint64_t packets = 0;     // packets of the selected streams written
  uint64_t bytes = 0;       // payload bytes handed to the writer
  uint64_t videoFrames = 0;
  uint64_t unreadPackets = 0;  // packet-table entries whose record could not be read again
  bool Ok() const { return status == ExtractStatus::kOk; }
};

// A one-line English reason for a status.
const char* ExtractStatusText(ExtractStatus status);

class CStreamExtractor {
 public:
  static constexpr uint32_t kChunkSize = 1u << 20;

  explicit CStreamExtractor(CRTP_Parser& capture) : capture_(capture) {}

  // Runs the extraction. The output file is created only once the request was checked;
  // after a failed write or a cancellation it is closed as it is.
  ExtractionResult Extract(const ExtractionRequest& request, CExtractionListener* listener);

  // Whether extraction treats the stream as video (frames gathered up to the marker bit):
  // a stream not announced as audio whose codec is known. Streams of unknown codec are
  // written packet by packet, so no byte is held back waiting for a marker.
  static bool IsVideoStream(const RtpStreamEntry& stream);
  // The AVI formats of a stream; false when AVI has no code for its codec.
  static bool AviAudioFormat(const RtpStreamEntry& stream, MediaAudioFormat& format);
  bool AviVideoFormat(uint32_t streamIndex, uint64_t first, uint64_t last,
                      MediaVideoFormat& format) const;

 private:
  struct Selected;
  struct Run;
  ExtractStatus SelectStreams(const ExtractionRequest& request, Run& run) const;
  ExtractStatus SelectRange(const ExtractionRequest& request, Run& run) const;
  ExtractStatus CreateWriter(const ExtractionRequest& request, Run& run);
  ExtractStatus CopyPackets(Run& run, CExtractionListener* listener);
  ExtractStatus WritePayload(Selected& s, const uint8_t* payload, uint32_t length, bool marker, Run& run);

  CRTP_Parser& capture_;
};

}  // namespace fennik
