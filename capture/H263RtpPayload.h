// H.263 RTP payload formats: removes the payload headers of RFC 2190 (modes A, B and C,
// joining the bit-level SBIT/EBIT boundaries between packets) and RFC 4629 (restoring the
// two zero bytes that the P bit stands for, skipping VRC and the extra picture header), so
// that the payloads of a stream form the H.263 bitstream again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fennik {

enum class H263PayloadFormat : uint8_t {
  kNone = 0,     // not H.263, or payloads taken as they are
  kRfc2190 = 1,  // "H263", static payload type 34
  kRfc4629 = 2,  // "H263-1998", "H263-2000"
};

// The payload format of an H.263 stream from its SDP encoding name (case-insensitive):
// "H263" RFC 2190, "H263-1998" / "H263-2000" RFC 4629, anything else kNone.
H263PayloadFormat H263PayloadFormatFromEncoding(const char* encodingName);

// Guesses the format from a payload that starts a picture (for streams without SDP):
// RFC 4629 with P set and a picture start code after the header, or an RFC 2190 mode A
// header followed by a picture start code. kNone when neither fits.
H263PayloadFormat DetectH263PayloadFormat(const uint8_t* payload, size_t size);

class H263Depacketizer {
 public:
  explicit H263Depacketizer(H263PayloadFormat format = H263PayloadFormat::kNone) : format_(format) {}

  // Appends the H.263 bits of one RTP payload to `out` and returns the number of bytes
  // appended (a first byte merged into the previous payload's last byte is not counted).
  // A malformed payload header appends nothing and returns -1.
  long Append(const uint8_t* payload, size_t size, std::vector<uint8_t>& out);
  // Same, into a caller's buffer of `capacity` bytes of which `used` are filled; returns the
  // new fill level, or -1 for a malformed header or when the bytes do not fit.
  long Append(const uint8_t* payload, size_t size, uint8_t* buffer, size_t used, size_t capacity);
  // Forgets the pending partial byte (the next payload starts a fresh byte).
  void Reset() { partial_bits_ = 0; }
  // The last byte appended holds only the high bits of its payload's last byte (EBIT).
  bool HasPartialByte() const { return partial_bits_ != 0; }

  H263PayloadFormat Format() const { return format_; }

 private:
  H263PayloadFormat format_;
  int partial_bits_ = 0;  // valid high bits of the last byte written (0: the byte is whole)
};

}  // namespace fennik
