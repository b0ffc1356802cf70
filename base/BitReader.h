// The one bit reader: MSB-first reads over a byte span with a sticky error flag. Reads past
// the end return zeros and set the flag, so a parser reads a whole syntax structure freely
// and checks Ok() once at its end. Exp-Golomb codes (ue/se) live here and nowhere else.
#pragma once

#include <cstddef>
#include <cstdint>

namespace fennik {

class BitReader {
 public:
  BitReader() = default;
  BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // Reads n bits (0..32), most significant first.
  uint32_t Read(int n) {
    const uint32_t value = Peek(n);
    Skip(static_cast<size_t>(n));
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
  // The next n bits (0..32) without consuming them; bits past the end read as zeros.
  uint32_t Peek(int n) const {
    if (n <= 0) return 0;
    const size_t byte = pos_ >> 3;
    uint64_t window = 0;
    if (byte < size_ && size_ - byte >= 8) {
      for (int i = 0; i < 8; ++i) window = (window << 8) | data_[byte + static_cast<size_t>(i)];
    } else {
      for (size_t i = 0; i < 8; ++i) window = (window << 8) | (byte + i < size_ ? data_[byte + i] : 0u);
    }
    return static_cast<uint32_t>((window << (pos_ & 7)) >> (64 - n));
  }
  void Skip(size_t n) {
    pos_ += n;
    if (pos_ > size_ * 8) error_ = true;
  }
  // Unsigned Exp-Golomb ue(v); more than 31 leading zeros is an error (returns 0).
  uint32_t ReadUe() {
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
  size_t BitsLeft() const { return pos_ >= size_ * 8 ? 0 : size_ * 8 - pos_; }
  bool Ok() const { return !error_; }

 private:
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  size_t pos_ = 0;
  bool error_ = false;
};

}  // namespace fennik
