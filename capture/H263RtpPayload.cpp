#include "capture/H263RtpPayload.h"

#include <cstring>
#include <strings.h>

#include "base/DebugPrint.h"

namespace fennik {

H263PayloadFormat H263PayloadFormatFromEncoding(const char* encodingName) {
  if (encodingName == nullptr) return H263PayloadFormat::kNone;
  if (strcasecmp(encodingName, "H263") == 0) return H263PayloadFormat::kRfc2190;
  if (strcasecmp(encodingName, "H263-1998") == 0 || strcasecmp(encodingName, "H263-2000") == 0)
    return H263PayloadFormat::kRfc4629;
  return H263PayloadFormat::kNone;
}

namespace {

// RFC 4629 5.1 header: RR (5) P (1) V (1) PLEN (6) PEBIT (3); then VRC (8) when V is set and
// PLEN bytes of extra picture header. Returns the header length, 0 when it does not fit.
size_t Rfc4629HeaderLength(const uint8_t* p, size_t size) {
  if (size < 2) return 0;
  const bool v = (p[0] & 0x02) != 0;
  const size_t plen = static_cast<size_t>(((p[0] & 0x01) << 5) | (p[1] >> 3));
  const size_t length = 2 + (v ? 1 : 0) + plen;
  return length <= size ? length : 0;
}

// RFC 2190 5.1-5.3: F (1) P (1) SBIT (3) EBIT (3) ...; mode A 4 bytes (F 0), mode B 8 bytes
// (F 1, P 0), mode C 12 bytes (F 1, P 1).
size_t Rfc2190HeaderLength(const uint8_t* p, size_t size) {
  if (size < 1) return 0;
  const size_t length = (p[0] & 0x80) == 0 ? 4 : (p[0] & 0x40) == 0 ? 8 : 12;
  return length <= size ? length : 0;
}

bool PictureStartAt(const uint8_t* p, size_t size) { return size >= 3 && p[0] == 0 && p[1] == 0 && (p[2] & 0xFC) == 0x80; }

}  // namespace

H263PayloadFormat DetectH263PayloadFormat(const uint8_t* payload, size_t size) {
  if (size >= 3 && (payload[0] & 0xF8) == 0 && (payload[0] & 0x04) != 0) {
    const size_t h = Rfc4629HeaderLength(payload, size);
    if (h != 0 && h < size && (payload[h] & 0xFC) == 0x80) return H263PayloadFormat::kRfc4629;
  }
  if (size >= 7 && (payload[0] & 0x80) == 0 && (payload[0] & 0x38) == 0 && PictureStartAt(payload + 4, size - 4))
    return H263PayloadFormat::kRfc2190;
  return H263PayloadFormat::kNone;
}

long H263Depacketizer::Append(const uint8_t* payload, size_t size, uint8_t* buffer, size_t used, size_t capacity) {
  const uint8_t* data = payload;
  size_t n = size;
  int sbit = 0, ebit = 0;
  uint8_t zeros = 0;
  if (format_ == H263PayloadFormat::kRfc4629) {
    const size_t h = Rfc4629HeaderLength(payload, size);
    if (h == 0) return -1;
    if (payload[0] & 0x04) zeros = 2;  // P: the first two (zero) bytes of a start code were left out
    data += h;
    n -= h;
    partial_bits_ = 0;
  } else if (format_ == H263PayloadFormat::kRfc2190) {
    const size_t h = Rfc2190HeaderLength(payload, size);
    if (h == 0) return -1;
    sbit = (payload[0] >> 3) & 7;
    ebit = payload[0] & 7;
    data += h;
    n -= h;
    if (n == 0 && (sbit != 0 || ebit != 0)) return -1;
  }
  if (used + zeros + n > capacity) return -1;
  size_t pos = used;
  if (zeros != 0) {
    buffer[pos++] = 0;
    buffer[pos++] = 0;
  }
  bool wrote = false;
  if (n > 0 && sbit != 0) {
    if (partial_bits_ != 0 && partial_bits_ == sbit && pos > 0) {
      // SBIT + the previous EBIT = 8: the two payloads share this byte.
      buffer[pos - 1] = static_cast<uint8_t>(buffer[pos - 1] | (data[0] & (0xFF >> sbit)));
      ++data;
      --n;
      wrote = true;
    } else {
      DebugPrint("[RTP] H.263 SBIT %d does not continue EBIT %d of the previous packet\n", sbit, (8 - partial_bits_) & 7);
    }
  }
  if (n > 0) {
    std::memcpy(buffer + pos, data, n);
    pos += n;
    wrote = true;
  }
  if (ebit != 0 && wrote) buffer[pos - 1] = static_cast<uint8_t>(buffer[pos - 1] & (0xFF << ebit));
  partial_bits_ = ebit != 0 ? 8 - ebit : 0;
  return static_cast<long>(pos);
}

long H263Depacketizer::Append(const uint8_t* payload, size_t size, std::vector<uint8_t>& out) {
  const size_t used = out.size();
  out.resize(used + size + 2);
  const long end = Append(payload, size, out.data(), used, out.size());
  if (end < 0) {
    out.resize(used);
    return -1;
  }
  out.resize(static_cast<size_t>(end));
  return end - static_cast<long>(used);
}

}  // namespace fennik
