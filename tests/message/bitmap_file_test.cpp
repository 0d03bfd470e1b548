// A bitmap resource made a .bmp file again: the file header says where the rows start.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message/bitmap_file.h"
#include "support/test_support.h"

namespace {

using clipnote::message::BitmapFileFromResource;

std::vector<uint8_t> Info(uint32_t headerBytes, uint16_t bits, uint32_t coloursUsed, uint32_t compression,
                          size_t total) {
  std::vector<uint8_t> dib(total, 0);
  auto put = [&](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n && at + i < dib.size(); ++i) dib[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, headerBytes, 4);
  if (headerBytes == 12) {
    put(10, bits, 2);
  } else {
    put(14, bits, 2);
    put(16, compression, 4);
    put(32, coloursUsed, 4);
  }
  return dib;
}

TEST(BitmapFile, RowsStartAfterHeaderMasksAndColours) {
  const std::vector<uint8_t> logo = support::ReadFile(CLIPNOTE_SOURCE_DIR "/resources/logo.bmp");
  const struct {
    const char* what;
    std::vector<uint8_t> dib;
    long pixelsAt;  // -1: refused
  } cases[] = {
      {"the player's logo", std::vector<uint8_t>(logo.begin() + 14, logo.end()), 118},
      {"4 bits, full table", Info(40, 4, 0, 0, 40 + 64 + 8), 14 + 40 + 64},
      {"8 bits, 3 colours used", Info(40, 8, 3, 0, 40 + 12 + 4), 14 + 40 + 12},
      {"24 bits, no table", Info(40, 24, 0, 0, 40 + 12), 14 + 40},
      {"16 bits with masks", Info(40, 16, 0, 3, 40 + 12 + 4), 14 + 40 + 12},
      {"version 5 header", Info(124, 32, 0, 3, 124 + 4), 14 + 124},
      {"core header, 1 bit", Info(12, 1, 0, 0, 12 + 6 + 4), 14 + 12 + 6},
      {"core header, 24 bits, no table", Info(12, 24, 0, 0, 12 + 4), 14 + 12},
      {"table past the end", Info(40, 8, 0, 0, 40 + 100), -1},
      {"colours used beyond reason", Info(40, 8, 0xFFFFFFFF, 0, 64), -1},
      {"header longer than the resource", Info(4000, 8, 0, 0, 64), -1},
      {"unknown header size", Info(20, 8, 0, 0, 64), -1},
      {"three bytes", {40, 0, 0}, -1},
  };
  for (const auto& c : cases) {
    std::string reason;
    const auto file = BitmapFileFromResource(c.dib, reason);
    ASSERT_EQ(file.has_value(), c.pixelsAt >= 0) << c.what << ": " << reason;
    if (!file) continue;
    ASSERT_EQ(file->size(), c.dib.size() + 14) << c.what;
    EXPECT_EQ((*file)[0], 'B');
    EXPECT_EQ((*file)[1], 'M');
    EXPECT_EQ((*file)[2] | (*file)[3] << 8 | (*file)[4] << 16, static_cast<int>(file->size())) << c.what;
    EXPECT_EQ((*file)[10] | (*file)[11] << 8, c.pixelsAt) << c.what;
  }
  std::string reason;
  EXPECT_EQ(*BitmapFileFromResource(cases[0].dib, reason), logo);
}

}  // namespace
