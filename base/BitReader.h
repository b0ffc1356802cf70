// The one bit reader: MSB-first reads over a byte span with a sticky error flag. Reads past
// the end return zeros and set the flag, so a parser reads a whole syntax structure freely
// and checks Ok() once at its end. Exp-Golomb codes (ue/se) live here and nowhere else.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace fennik {

class BitReader {
 public:
  BitReader() = default;
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // Reads n bits (0..32), most significant first. Away from the end of the data the bits come
  // from one unaligned 64-bit load (at most 7 + 32 bits of it are used).
  uint32_t Read(int n) {
    if (n > 0 && WindowAvailable()) {
      const uint64_t window = Window();
      pos_ += static_cast<size_t>(n);
      return static_cast<uint32_t>(window >> (64 - n));
    }
    uint32_t value = 0;
    for (int i = 0; i < n; ++i) value = (value << 1) | ReadBit();
    return value;
  }
  uint32_t ReadBit() {
    if (pos_ >= size_ * 8) {
      error_ = true;
      ++pos_;
      return 0;
    }
    uint32_t bit = (data_[pos_ >> 3] >> (7 - (pos_ & 7))) & 1u;
    ++pos_;
    return bit;
  }
  uint32_t Peek(int n) const {
    BitReader copy = *this;
    return copy.Read(n);
  }
  void Skip(size_t n) {
    pos_ += n;
    if (pos_ > size_ * 8) error_ = true;
  }
  // Unsigned Exp-Golomb ue(v); more than 31 leading zeros is an error (returns 0).
  uint32_t ReadUe() {
    if (WindowAvailable()) {  // the whole code within one 64-bit window
      const uint64_t window = Window();
      if (window != 0) {
        const int zeros = std::countl_zero(window);
        if (zeros <= 28) {
          const int len = 2 * zeros + 1;
          pos_ += static_cast<size_t>(len);
          return static_cast<uint32_t>((window >> (64 - len)) - 1);
        }
      }
    }
    int zeros = 0;
    while (ReadBit() == 0) {
      if (++zeros > 31 || error_) {
        error_ = true;
        return 0;
      }
    }
    if (zeros == 0) return 0;
    return static_cast<uint32_t>((uint64_t{1} << zeros) - 1 + Read(zeros));
  }
  // Signed Exp-Golomb se(v).
  int32_t ReadSe() {
    uint32_t k = ReadUe();
    if (k & 1u) return static_cast<int32_t>((k + 1) / 2);
    return -static_cast<int32_t>(k / 2);
  }
  void AlignToByte() { pos_ = (pos_ + 7) & ~size_t{7}; }
  bool ByteAligned() const { return (pos_ & 7) == 0; }

  size_t BitPosition() const { return pos_; }
  const uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }
  size_t BitsLeft() const { return pos_ >= size_ * 8 ? 0 : size_ * 8 - pos_; }
  bool Ok() const { return !error_; }

 private:
  // True when 8 whole bytes from the current byte on are in the data.
  bool WindowAvailable() const { return size_ >= 8 && (pos_ >> 3) <= size_ - 8; }
  // The 64 bits from the current position on; valid while WindowAvailable() (the low
  // pos_ % 8 bits are zero).
  uint64_t Window() const {
    uint64_t v;
    std::memcpy(&v, data_ + (pos_ >> 3), 8);
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    return v << (pos_ & 7);
  }

  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  bool error_ = false;
};

}  // namespace fennik
