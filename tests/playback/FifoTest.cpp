// The PCM FIFO: the never-full rule, partial reads, writes and reads across the end of the
// ring, resizing, and a writer and a reader thread moving a counted byte sequence.
#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "playback/CFIFO.h"

namespace fennik {
namespace {

std::vector<uint8_t> Bytes(uint8_t first, uint32_t count) {
  std::vector<uint8_t> v(count);
  std::iota(v.begin(), v.end(), first);
  return v;
}

TEST(FifoTest, WriteNeedsMoreFreeSpaceThanItsLength) {
  CFIFO fifo;
  ASSERT_EQ(fifo.Resize(8), 1);
  const auto data = Bytes(1, 8);
  EXPECT_EQ(fifo.Write(data.data(), 8), 0);  // would fill the ring: refused, nothing written
  EXPECT_EQ(fifo.BytesHeld(), 0u);
  EXPECT_EQ(fifo.Write(data.data(), 7), 1);
  EXPECT_EQ(fifo.BytesHeld(), 7u);
  EXPECT_EQ(fifo.FreeSpace(), 1u);
  EXPECT_EQ(fifo.Write(data.data(), 1), 0);
  EXPECT_EQ(fifo.Write(data.data(), 0), 0);
  EXPECT_EQ(fifo.Write(nullptr, 3), 0);
  EXPECT_EQ(fifo.BytesHeld(), 7u);
}

TEST(FifoTest, ReadReturnsWhatIsHeld) {
  CFIFO fifo;
  uint8_t out[16] = {};
  EXPECT_EQ(fifo.Read(out, 10), 0u);  // no buffer yet
  ASSERT_EQ(fifo.Resize(8), 1);
  EXPECT_EQ(fifo.Read(out, 10), 0u);
  const auto data = Bytes(10, 4);
  ASSERT_EQ(fifo.Write(data.data(), 4), 1);
  EXPECT_EQ(fifo.Read(out, 10), 4u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), data);
  EXPECT_EQ(fifo.BytesHeld(), 0u);
  EXPECT_EQ(fifo.FreeSpace(), 8u);
}

TEST(FifoTest, WrapSplitsWritesAndJoinsReads) {
  CFIFO fifo;
  ASSERT_EQ(fifo.Resize(8), 1);
  uint8_t out[16] = {};
  const auto first = Bytes(0, 6);
  ASSERT_EQ(fifo.Write(first.data(), 6), 1);
  ASSERT_EQ(fifo.Read(out, 5), 5u);  // read index 5, write index 6
  // 5 bytes: 2 to the end of the buffer, 3 at its start; free space 7 > 5.
  const auto second = Bytes(100, 5);
  ASSERT_EQ(fifo.Write(second.data(), 5), 1);
  EXPECT_EQ(fifo.BytesHeld(), 6u);
  // Write index (3) below read index (5): free space is read - write = 2.
  EXPECT_EQ(fifo.FreeSpace(), 2u);
  EXPECT_EQ(fifo.Write(second.data(), 2), 0);  // exactly the free space: refused
  const auto third = Bytes(200, 1);
  ASSERT_EQ(fifo.Write(third.data(), 1), 1);
  ASSERT_EQ(fifo.Read(out, 16), 7u);  // across the wrap, in order
  EXPECT_EQ(std::vector<uint8_t>(out, out + 7), (std::vector<uint8_t>{5, 100, 101, 102, 103, 104, 200}));
  EXPECT_EQ(fifo.BytesHeld(), 0u);
}

TEST(FifoTest, WriteEndingExactlyAtTheBufferEndWrapsTheIndex) {
  CFIFO fifo;
  ASSERT_EQ(fifo.Resize(8), 1);
  uint8_t out[8] = {};
  const auto data = Bytes(1, 5);
  ASSERT_EQ(fifo.Write(data.data(), 5), 1);
  ASSERT_EQ(fifo.Read(out, 4), 4u);
  ASSERT_EQ(fifo.Write(data.data(), 3), 1);  // fills indices 5..7: write index back to 0
  EXPECT_EQ(fifo.BytesHeld(), 4u);
  ASSERT_EQ(fifo.Write(data.data(), 2), 1);  // at the start of the buffer
  ASSERT_EQ(fifo.Read(out, 8), 6u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{5, 1, 2, 3, 1, 2}));
}

TEST(FifoTest, ResizeKeepsOrEmptiesTheRing) {
  CFIFO fifo;
  EXPECT_EQ(fifo.Resize(0), 0);
  ASSERT_EQ(fifo.Resize(16), 1);
  const auto data = Bytes(1, 5);
  ASSERT_EQ(fifo.Write(data.data(), 5), 1);
  EXPECT_EQ(fifo.Resize(16), 1);
  EXPECT_EQ(fifo.BytesHeld(), 5u);
  EXPECT_EQ(fifo.Resize(32), 1);
  EXPECT_EQ(fifo.BytesHeld(), 0u);
  EXPECT_EQ(fifo.Capacity(), 32u);
  fifo.Clear();
  EXPECT_EQ(fifo.Capacity(), 0u);
  EXPECT_EQ(fifo.Write(data.data(), 1), 0);
}

// One writer and one reader thread, as the worker and the feeder use it: every byte comes
// out once and in order, whatever the chunk sizes.
TEST(FifoTest, WriterAndReaderThreadsKeepTheOrder) {
  CFIFO fifo;
  ASSERT_EQ(fifo.Resize(1000), 1);
  constexpr uint32_t kTotal = 300000;
  std::thread writer([&fifo] {
    std::mt19937 rng(7);
    uint32_t sent = 0;
    std::vector<uint8_t> chunk;
    while (sent < kTotal) {
      const uint32_t n = std::min<uint32_t>(1 + rng() % 400, kTotal - sent);
      chunk.resize(n);
      for (uint32_t i = 0; i < n; ++i) chunk[i] = static_cast<uint8_t>((sent + i) % 251);
      if (fifo.Write(chunk.data(), n)) {
        sent += n;
      } else {
        std::this_thread::yield();
      }
    }
  });
  std::mt19937 rng(11);
  std::vector<uint8_t> buffer(512);
  uint32_t received = 0;
  bool inOrder = true;
  while (received < kTotal) {
    const uint32_t n = fifo.Read(buffer.data(), 1 + rng() % 512);
    for (uint32_t i = 0; i < n; ++i) inOrder &= buffer[i] == (received + i) % 251;
    received += n;
    if (n == 0) std::this_thread::yield();
  }
  writer.join();
  EXPECT_TRUE(inOrder);
  EXPECT_EQ(received, kTotal);
}

}  // namespace
}  // namespace fennik
