#include "video/parser/bit_reader.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

#include "video_parser/parser_test_support.h"

namespace {

using parser_test::AttachClip;

VideoDecoder& d = videoDecoder;

std::vector<uint8_t> RandomClip(size_t size, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> clip(size);
  for (auto& b : clip) b = static_cast<uint8_t>(rng());
  return clip;
}

// Plain MSB-first reference; zero past the end.
uint32_t ReferenceBits(const std::vector<uint8_t>& clip, int64_t pos, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i, ++pos) {
    const int64_t byte = pos / 8;
    const uint32_t bit =
        byte < static_cast<int64_t>(clip.size()) ? (clip[byte] >> (7 - pos % 8)) & 1 : 0;
    v = (v << 1) | bit;
  }
  return v;
}

void ExpectInvariants() {
  EXPECT_EQ(d.bitInByte, d.bitPos % 8);
  EXPECT_EQ(d.bytePos, d.bitPos / 8);
  EXPECT_LT(d.bytePos, d.refillAt);
}

// Mixed reads across many window advances and past the end of the clip, for several window
// sizes, give what a plain reader gives; positions past the end deliver zeros.
TEST(BitReader, MixedReadsMatchPlainReaderAcrossWindowsAndPastTheEnd) {
  const auto clip = RandomClip(997, 1);
  for (int32_t window : {4, 5, 8, 16, 37, 256, 8192}) {
    SCOPED_TRACE(window);
    std::vector<uint8_t> buffer;
    AttachClip(clip, buffer, window);
    std::mt19937 rng(window);
    int64_t pos = 0;
    while (pos < static_cast<int64_t>(clip.size()) * 8 + 200) {
      const int n = static_cast<int>(rng() % 9);  // 0 means ReadBit
      if (n == 0) {
        ASSERT_EQ(ReadBit(), ReferenceBits(clip, pos, 1)) << pos;
        pos += 1;
      } else {
        ASSERT_EQ(ReadBits(n), ReferenceBits(clip, pos, n)) << pos << " n=" << n;
        pos += n;
      }
      ASSERT_EQ(BitsConsumed(), pos);
      ASSERT_LT(d.bytePos, d.refillAt);
    }
    ExpectInvariants();
  }
}

// Every peek of every offset and width, at every position, reads the right bits without
// leaving the window (ASan checks the clip's exact-size allocation).
TEST(BitReader, PeeksNearRefillPointAndEndOfClip) {
  const auto clip = RandomClip(61, 2);
  for (int32_t window : {4, 7, 16}) {
    SCOPED_TRACE(window);
    std::vector<uint8_t> buffer;
    AttachClip(clip, buffer, window);
    for (int64_t pos = 0; pos < static_cast<int64_t>(clip.size()) * 8 + 40; ++pos) {
      for (int offset = 0; offset <= 16; ++offset) {
        for (int n = 1; n <= 8; ++n) {
          ASSERT_EQ(static_cast<uint32_t>(PeekBits(offset, n)), ReferenceBits(clip, pos + offset, n))
              << "pos " << pos << " offset " << offset << " n " << n;
        }
      }
      ASSERT_EQ(BitsConsumed(), pos);  // peeks consume nothing
      ReadBit();
    }
  }
}

TEST(BitReader, EightBitReadsAtByteBoundaryAndAcrossBytes) {
  const std::vector<uint8_t> clip = {0xA5, 0x3C, 0xF0, 0x0F, 0x81, 0x7E};
  std::vector<uint8_t> buffer;
  AttachClip(clip, buffer, 4);
  EXPECT_EQ(ReadBits(8), 0xA5);
  EXPECT_EQ(d.bitInByte, 0);
  EXPECT_EQ(ReadBits(7), 0x3C >> 1);
  EXPECT_EQ(d.bitInByte, 7);
  // Last bit of 0x3C (0), then the first 7 bits of 0xF0: crosses into the refill byte.
  EXPECT_EQ(ReadBits(8), 0x78);
  EXPECT_EQ(d.bitInByte, 7);
  ExpectInvariants();
  EXPECT_EQ(ReadBits(8), (0 << 7) | (0x0F >> 1));
}

// Windows of a memory source start at clip offsets 0, w - 3, 2 (w - 3), ... and point into the
// clip itself while they fit in it.
TEST(BitReader, MemoryWindowsAdvanceByWindowSizeMinusThree) {
  const auto clip = RandomClip(200, 3);
  std::vector<uint8_t> buffer;
  const int32_t window = 20;
  AttachClip(clip, buffer, window);
  EXPECT_EQ(d.windowStart, clip.data());
  for (int k = 1; (k + 1) * (window - 3) + 3 <= 200; ++k) {
    while (d.windowStart == clip.data() + (k - 1) * (window - 3)) ReadBits(5);
    EXPECT_EQ(d.windowStart, clip.data() + k * (window - 3)) << k;
  }
}

TEST(BitReader, AlignToByteAndRewind) {
  const std::vector<uint8_t> clip = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE};
  std::vector<uint8_t> buffer;
  AttachClip(clip, buffer, 8192);
  AlignToByte();  // on a boundary: consumes nothing
  EXPECT_EQ(BitsConsumed(), 0);
  ReadBits(3);
  AlignToByte();
  EXPECT_EQ(BitsConsumed(), 8);
  EXPECT_EQ(ReadBits(8), 0x34);
  RewindWindow();
  EXPECT_EQ(ReadBits(8), 0x12);

  // After an advance, a rewind returns to the start of the current window.
  AttachClip(clip, buffer, 4);
  ReadBits(8);  // reaches refillAt = 1: the window now starts at byte 1
  ReadBits(4);
  RewindWindow();
  EXPECT_EQ(ReadBits(8), 0x34);
}

// Clips shorter than a window, empty clips and missing buffers read as zero-padded data.
TEST(BitReader, ShortEmptyAndUnusableSourcesReadAsZeros) {
  std::vector<uint8_t> buffer;
  const auto exact = std::make_unique<uint8_t[]>(3);
  exact[0] = 0xFF;
  exact[1] = 0x00;
  exact[2] = 0xC3;
  buffer.assign(64, 0x77);
  InitBitstream(3, buffer.data(), nullptr, nullptr);
  SetBitSource(kMemorySource, 32, exact.get(), 3, buffer.data());
  EXPECT_EQ(ReadBits(8), 0xFF);
  EXPECT_EQ(ReadBits(8), 0x00);
  EXPECT_EQ(ReadBits(8), 0xC3);
  for (int i = 0; i < 100; ++i) ASSERT_EQ(ReadBits(8), 0) << i;

  SetBitSource(kMemorySource, 32, nullptr, 100, buffer.data());  // no clip despite a length
  for (int i = 0; i < 100; ++i) ASSERT_EQ(ReadBits(7), 0);

  SetBitSource(kMemorySource, 8192, exact.get(), 3, nullptr);  // no bit buffer
  for (int i = 0; i < 100; ++i) ASSERT_EQ(ReadBits(8), 0);
  SetBitSource(kMemorySource, 2, exact.get(), 3, buffer.data());  // window too small
  for (int i = 0; i < 100; ++i) ASSERT_EQ(ReadBits(8), 0);
}

struct FakeFile {
  const std::vector<uint8_t>* data;
  size_t pos;
  int32_t maxPerRead;
};

int32_t ReadFake(void* handle, uint8_t* dest, int32_t count) {
  auto* f = static_cast<FakeFile*>(handle);
  int32_t n = std::min<int32_t>(count, f->maxPerRead);
  n = static_cast<int32_t>(std::min<size_t>(n, f->data->size() - f->pos));
  std::copy_n(f->data->data() + f->pos, n, dest);
  f->pos += n;
  return n;
}

// The file source gives the same bits as the memory source, also when the file delivers its
// bytes in short reads, and zeros past the end instead of stale buffer contents.
TEST(BitReader, FileSourceWithShortReads) {
  const auto clip = RandomClip(300, 4);
  for (int32_t maxPerRead : {1, 3, 1000}) {
    FakeFile file{&clip, 0, maxPerRead};
    const BitFileSource source{&file, ReadFake};
    std::vector<uint8_t> buffer(2 * 16, 0xEE);
    InitBitstream(3, buffer.data(), nullptr, nullptr);
    SetBitSource(0, 16, &source, 0, buffer.data());
    for (int64_t pos = 0; pos < 300 * 8 + 400; pos += 5) {
      ASSERT_EQ(ReadBits(5), ReferenceBits(clip, pos, 5)) << pos;
      ASSERT_EQ(BitsConsumed(), pos + 5);
    }
  }
}

}  // namespace
