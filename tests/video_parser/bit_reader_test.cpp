#include "video/parser/bit_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "video_parser/parser_test_support.h"

using namespace clipnote::h263;

namespace {

VideoDecoder& d = videoDecoder;

std::vector<uint8_t> RandomClip(size_t size) {
  std::mt19937 rng(static_cast<uint32_t>(size));
  std::vector<uint8_t> clip(size);  // exact size: ASan sees any read past the clip
  for (auto& b : clip) b = static_cast<uint8_t>(rng());
  return clip;
}

// Plain MSB-first reference, zero past the end.
uint32_t Reference(const std::vector<uint8_t>& clip, int64_t pos, int n) {
  uint32_t v = 0;
  for (int i = 0; i < n; ++i, ++pos) {
    const bool inside = pos / 8 < static_cast<int64_t>(clip.size());
    v = (v << 1) | (inside ? (clip[pos / 8] >> (7 - pos % 8)) & 1 : 0);
  }
  return v;
}

struct FakeFile {
  const std::vector<uint8_t>* data;
  size_t pos;
};

int32_t ReadFewBytes(void* handle, uint8_t* dest, int32_t count) {
  auto* f = static_cast<FakeFile*>(handle);
  const size_t n = std::min({static_cast<size_t>(count), size_t{3}, f->data->size() - f->pos});
  std::copy_n(f->data->data() + f->pos, n, dest);
  f->pos += n;
  return static_cast<int32_t>(n);
}

// Random mixes of ReadBit and ReadBits across many window advances and past the end of the
// clip give what a plain reader gives, for memory and file sources (the file delivering short
// reads) and window sizes down to 4; past the end every bit is 0.
TEST(BitReader, ReadsMatchPlainReaderAcrossWindowsAndPastTheEnd) {
  const auto clip = RandomClip(997);
  for (bool file : {false, true}) {
    for (int32_t window : {4, 5, 16, 37, 8192}) {
      SCOPED_TRACE(testing::Message() << "file " << file << " window " << window);
      std::vector<uint8_t> buffer(2 * window);
      FakeFile fake{&clip, 0};
      const BitFileSource source{&fake, ReadFewBytes};
      InitBitstream(3, buffer.data(), nullptr, nullptr);
      if (file) {
        SetBitSource(0, window, &source, 0, buffer.data());
      } else {
        SetBitSource(kMemorySource, window, clip.data(), 997, buffer.data());
      }
      std::mt19937 rng(window);
      for (int64_t pos = 0; pos < 997 * 8 + 300;) {
        const int n = static_cast<int>(rng() % 9);  // 0: ReadBit
        ASSERT_EQ(n == 0 ? ReadBit() : ReadBits(n), Reference(clip, pos, std::max(n, 1))) << pos;
        pos += std::max(n, 1);
        ASSERT_EQ(BitsConsumed(), pos);
        ASSERT_EQ(d.bitInByte, d.bitPos % 8);
        ASSERT_EQ(d.bytePos, d.bitPos / 8);
        ASSERT_LT(d.bytePos, d.refillAt);
      }
    }
  }
}

// Every peek, at every position including those just before the window advances and past the
// end, reads the right bits and consumes nothing.
TEST(BitReader, PeeksAtEveryPosition) {
  const auto clip = RandomClip(61);
  for (int32_t window : {4, 7, 16}) {
    std::vector<uint8_t> buffer;
    parser_test::AttachClip(clip, buffer, window);
    for (int64_t pos = 0; pos < 61 * 8 + 40; ++pos, ReadBit()) {
      for (int offset = 0; offset <= 16; ++offset) {
        for (int n = 1; n <= 8; ++n) {
          ASSERT_EQ(static_cast<uint32_t>(PeekBits(offset, n)), Reference(clip, pos + offset, n))
              << window << " " << pos << " " << offset << " " << n;
        }
      }
      ASSERT_EQ(BitsConsumed(), pos);
    }
  }
}

// RestartSource after some reads: reading starts again at the first bit of the source, for a
// file source too once its first window has advanced (the file is not read again).
TEST(BitReader, RestartReadsTheSourceFromItsFirstBit) {
  const auto clip = RandomClip(300);
  struct Row {
    bool file;
    int32_t window;
    int bitsBefore;  // read before the restart
  } rows[] = {{false, 4, 49}, {true, 4, 49}, {true, 4, 0}, {true, 9, 49}, {true, 10, 49},
              {true, 5, 8 * 40}, {true, 16, 8 * 30}, {false, 16, 8 * 200}};
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "file " << row.file << " window " << row.window << " after "
                                    << row.bitsBefore << " bits");
    std::vector<uint8_t> buffer(2 * row.window);
    FakeFile fake{&clip, 0};
    const BitFileSource source{&fake, ReadFewBytes};
    InitBitstream(3, buffer.data(), nullptr, nullptr);
    if (row.file) {
      SetBitSource(0, row.window, &source, 0, buffer.data());
    } else {
      SetBitSource(kMemorySource, row.window, clip.data(), 300, buffer.data());
    }
    for (int i = 0; i < row.bitsBefore; ++i) ReadBit();
    RestartSource();
    ASSERT_EQ(BitsConsumed(), 0);
    for (int64_t pos = 0; pos < 300 * 8 + 64; pos += 7) ASSERT_EQ(ReadBits(7), Reference(clip, pos, 7)) << pos;
  }
}

TEST(BitReader, WholeBytesAlignmentAndRewind) {
  const std::vector<uint8_t> clip = {0xA5, 0x3C, 0xF0, 0x0F, 0x81, 0x7E};
  std::vector<uint8_t> buffer;
  parser_test::AttachClip(clip, buffer, 4);  // the window advances after every byte
  EXPECT_EQ(ReadBits(8), 0xA5);
  EXPECT_EQ(d.bitInByte, 0);
  AlignToByte();  // on a boundary: nothing consumed
  EXPECT_EQ(BitsConsumed(), 8);
  EXPECT_EQ(ReadBits(7), 0x3C >> 1);
  EXPECT_EQ(ReadBits(8), 0x78);  // last bit of 0x3C, first seven of 0xF0
  AlignToByte();
  EXPECT_EQ(BitsConsumed(), 24);
  ReadBits(3);
  RewindWindow();  // back to the first byte of the current window
  EXPECT_EQ(ReadBits(8), 0x0F);

  parser_test::AttachClip(clip, buffer, 20);  // clip shorter than a window: zero-padded copy
  for (uint8_t byte : clip) EXPECT_EQ(ReadBits(8), byte);
  for (int i = 0; i < 50; ++i) ASSERT_EQ(ReadBits(8), 0);
}

// With a memory source, windows start at clip offsets 0, w - 3, 2 (w - 3), ... inside the clip.
TEST(BitReader, MemoryWindowsPointIntoTheClip) {
  const auto clip = RandomClip(200);
  std::vector<uint8_t> buffer;
  parser_test::AttachClip(clip, buffer, 20);
  for (int k = 0; k * 17 + 20 <= 200; ++k) {
    EXPECT_EQ(d.windowStart, clip.data() + k * 17);
    while (d.windowStart == clip.data() + k * 17) ReadBits(5);
  }
}

TEST(BitReader, UnusableSourcesReadAsEmpty) {
  const std::vector<uint8_t> clip = {0xFF, 0xFF};
  std::vector<uint8_t> buffer(64);
  SetBitSource(kMemorySource, 32, nullptr, 100, buffer.data());  // no clip despite a length
  EXPECT_EQ(ReadBits(8), 0);
  SetBitSource(kMemorySource, 8192, clip.data(), 2, nullptr);  // no bit buffer
  EXPECT_EQ(ReadBits(8), 0);
  SetBitSource(kMemorySource, 3, clip.data(), 2, buffer.data());  // window too small
  for (int i = 0; i < 20; ++i) ASSERT_EQ(ReadBits(8), 0);
  SetBitSource(0, 16, nullptr, 0, buffer.data());  // file source without a file
  EXPECT_EQ(ReadBits(8), 0);
}

}  // namespace
