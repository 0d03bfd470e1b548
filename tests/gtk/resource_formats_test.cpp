// The resource formats the native backend reads itself: the window template,
// the logo and icon bitmaps and WAVE sounds, from the resources compiled into
// the program and from damaged copies of them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "platform/gtk/dialog_template.h"
#include "platform/gtk/dib_images.h"
#include "platform/gtk/wave_image.h"
#include "resources/embedded_resources.h"
#include "resources/resource_ids.h"

namespace clipnote::gtk {
namespace {

TEST(DialogTemplateTest, ReadsThePlayerWindowAsTheResourceScriptDescribesIt) {
  const EmbeddedResource* found = FindEmbeddedResource(kResourceTypeDialog, "DISPLAYBOX");
  if (found == nullptr) {
    CLIPNOTE_SKIP_UNLESS_CI("built without the resource compiler");
  }
  const auto dialog = ReadDialogTemplate(found->data, found->size);
  ASSERT_TRUE(dialog);
  EXPECT_EQ(dialog->caption, "Tarvany Clipnote Player");
  EXPECT_EQ(dialog->rect.width, 174);
  EXPECT_EQ(dialog->rect.height, 158);
  EXPECT_EQ(dialog->pointSize, 8);
  EXPECT_EQ(dialog->typeface, "MS Sans Serif");

  struct Expected {
    uint32_t id;
    uint16_t atom;
    DialogRect rect;
    const char* text;
  };
  const Expected expected[] = {
      {IDC_MAKER_TEXT, kStaticClassAtom, {1, 0, 119, 102}, nullptr},
      {IDC_PLAY_BUTTON, kButtonClassAtom, {0, 144, 22, 14}, "Play"},
      {IDC_SIZE_BUTTON, kButtonClassAtom, {22, 144, 22, 14}, "CIF"},
      {IDC_VIDEO_FRAME, kStaticClassAtom, {3, 62, 94, 79}, ""},
      {IDC_LOGO, kStaticClassAtom, {43, 144, 131, 14}, nullptr},
      {IDC_WAIT_TEXT, kStaticClassAtom, {76, 114, 87, 14}, "One moment please ..."},
  };
  ASSERT_EQ(dialog->controls.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const DialogControl& control = dialog->controls[i];
    SCOPED_TRACE(control.id);
    EXPECT_EQ(control.id, expected[i].id);
    EXPECT_EQ(control.classAtom, expected[i].atom);
    EXPECT_EQ(control.rect.x, expected[i].rect.x);
    EXPECT_EQ(control.rect.y, expected[i].rect.y);
    EXPECT_EQ(control.rect.width, expected[i].rect.width);
    EXPECT_EQ(control.rect.height, expected[i].rect.height);
    if (expected[i].text) {
      EXPECT_EQ(control.text, expected[i].text);
    }
  }
  EXPECT_EQ(dialog->controls[4].textId, IDB_LOGO);
  EXPECT_EQ(dialog->controls[4].style & kSsTypeMask, kSsBitmap);
  EXPECT_EQ(dialog->controls[3].style & kSsTypeMask, kSsBlackFrame);

  // Every cut-short copy is refused, never read past its end.
  for (size_t size = 0; size < found->size; ++size) {
    std::vector<uint8_t> copy(found->data, found->data + size);
    EXPECT_FALSE(ReadDialogTemplate(copy.data(), copy.size())) << size;
  }
}

// A window template with no font and no controls whose caption is the given UTF-16 units.
std::vector<uint8_t> CaptionTemplate(const std::vector<uint16_t>& caption) {
  std::vector<uint8_t> bytes = {1, 0, 0xFF, 0xFF};  // version 1, extended template
  bytes.resize(4 + 4 + 4 + 4 + 2 + 8, 0);             // help id, styles, no controls, rectangle
  bytes.insert(bytes.end(), {0, 0, 0, 0});            // no menu, the default class
  for (uint16_t unit : caption) {
    bytes.insert(bytes.end(), {static_cast<uint8_t>(unit), static_cast<uint8_t>(unit >> 8)});
  }
  return bytes;
}

// A caption in any script reaches the window as UTF-8; half of a surrogate pair alone
// becomes U+FFFD instead of bytes GTK refuses as a title or label.
TEST(DialogTemplateTest, CaptionsInAnyScriptBecomeUtf8) {
  const struct {
    const char* what;
    std::vector<uint16_t> units;  // without the terminating 0
    std::optional<std::string> caption;
  } rows[] = {
      {"Latin", {'G', 'r', 0xFC, 0xDF, 'e'}, "Gr\xC3\xBC\xC3\x9F" "e"},
      {"a check mark", {0x2713}, "\xE2\x9C\x93"},
      {"a pair", {'a', 0xD83D, 0xDE00, 'b'}, "a\xF0\x9F\x98\x80" "b"},
      {"a low half alone", {'a', 0xDE00, 'b'}, "a\xEF\xBF\xBD" "b"},
      {"a high half alone", {'a', 0xD83D, 'b'}, "a\xEF\xBF\xBD" "b"},
      {"a high half last", {0xD83D}, "\xEF\xBF\xBD"},
  };
  for (const auto& row : rows) {
    std::vector<uint16_t> units = row.units;
    units.push_back(0);
    const std::vector<uint8_t> bytes = CaptionTemplate(units);
    const auto dialog = ReadDialogTemplate(bytes.data(), bytes.size());
    ASSERT_EQ(dialog.has_value(), row.caption.has_value()) << row.what;
    if (dialog) {
      EXPECT_EQ(dialog->caption, *row.caption) << row.what;
    }
  }
  // A pair cut by the end of the template is refused, not read past it.
  const std::vector<uint8_t> cut = CaptionTemplate({'a', 0xD83D});
  EXPECT_FALSE(ReadDialogTemplate(cut.data(), cut.size()));
}

TEST(DialogTemplateTest, DialogUnitsBecomePixelsAsMapDialogRectMakesThem) {
  const DialogRect pixels = DialogUnitsToPixels({43, 144, 131, 14}, 6, 13);
  EXPECT_EQ(pixels.x, 65);        // 43 * 6 / 4 = 64.5, rounded
  EXPECT_EQ(pixels.y, 234);       // 144 * 13 / 8
  EXPECT_EQ(pixels.width, 197);   // 196.5
  EXPECT_EQ(pixels.height, 23);   // 22.75
}

TEST(DibImagesTest, DecodesTheLogoAndTheIconImages) {
  const EmbeddedResource* logo = FindEmbeddedResource(kResourceTypeBitmap, IDB_LOGO);
  ASSERT_NE(logo, nullptr);
  const auto image = ReadDibBitmap(logo->data, logo->size);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->width, 146);
  EXPECT_EQ(image->height, 32);
  for (size_t i = 3; i < image->pixels.size(); i += 4) ASSERT_EQ(image->pixels[i], 255);
  for (size_t size = 0; size < logo->size; size += 7) {
    EXPECT_FALSE(ReadDibBitmap(logo->data, size)) << size;
  }

  const EmbeddedResource* group = FindEmbeddedResource(kResourceTypeGroupIcon, IDI_PLAYER);
  if (group == nullptr) {
    CLIPNOTE_SKIP_UNLESS_CI("built without the resource compiler");
  }
  const auto ids = IconGroupImageIds(group->data, group->size);
  ASSERT_EQ(ids.size(), 2u);
  std::vector<int> sizes;
  for (uint16_t id : ids) {
    const EmbeddedResource* icon = FindEmbeddedResource(kResourceTypeIcon, id);
    ASSERT_NE(icon, nullptr);
    const auto picture = ReadDibIcon(icon->data, icon->size);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, picture->height);
    sizes.push_back(picture->width);
  }
  std::sort(sizes.begin(), sizes.end());
  EXPECT_EQ(sizes, (std::vector<int>{16, 32}));
}

// A bitmap resource: the 40-byte header, a colour table of white entries where the
// bits call for one, then `rowBytes` bytes of `fill`.
std::vector<uint8_t> Dib(int32_t width, int32_t height, uint16_t bits, uint32_t compression, uint32_t coloursUsed,
                         size_t rowBytes, uint8_t fill = 0) {
  std::vector<uint8_t> dib(40, 0);
  auto put = [&](size_t at, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) dib[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, 40, 4);
  put(4, static_cast<uint32_t>(width), 4);
  put(8, static_cast<uint32_t>(height), 4);
  put(12, 1, 2);
  put(14, bits, 2);
  put(16, compression, 4);
  put(32, coloursUsed, 4);
  const size_t colours = bits > 8 ? 0 : coloursUsed != 0 ? coloursUsed : size_t{1} << bits;
  dib.insert(dib.end(), colours * 4, 0xFF);
  dib.insert(dib.end(), rowBytes, fill);
  return dib;
}

// Bitmaps come from the message: what the reader cannot draw within the bytes given
// is refused, and a pixel naming a colour past the table is drawn black.
TEST(DibImagesTest, RefusesWhatItCannotDrawWithinTheResource) {
  const struct {
    const char* what;
    std::vector<uint8_t> dib;
    std::optional<uint32_t> firstPixel;  // red, green, blue, alpha from the low byte; nothing: refused
  } rows[] = {
      {"24 bits", Dib(1, 1, 24, 0, 0, 4, 0x40), 0xFF404040},
      {"8 bits, white", Dib(1, 1, 8, 0, 0, 4, 0x00), 0xFFFFFFFF},
      {"a colour past the table", Dib(1, 1, 8, 0, 1, 4, 1), 0xFF000000},  // index 1 of 1
      {"16 bits", Dib(2, 1, 16, 0, 0, 4), std::nullopt},
      {"run-length coded", Dib(1, 1, 8, 1, 0, 4), std::nullopt},
      {"a table of 257 colours", Dib(1, 1, 8, 0, 257, 4), std::nullopt},
      {"4097 pixels wide", Dib(4097, 1, 1, 0, 0, 516), std::nullopt},
      {"no rows", Dib(1, 1, 24, 0, 0, 0), std::nullopt},
      {"top-down", Dib(1, -1, 24, 0, 0, 4), std::nullopt},
  };
  for (const auto& row : rows) {
    const auto image = ReadDibBitmap(row.dib.data(), row.dib.size());
    ASSERT_EQ(image.has_value(), row.firstPixel.has_value()) << row.what;
    if (!image) continue;
    uint32_t pixel = 0;
    std::memcpy(&pixel, image->pixels.data(), 4);
    EXPECT_EQ(pixel, *row.firstPixel) << row.what;
  }
}

TEST(DibImagesTest, IconMaskMakesPixelsTransparent) {
  // A 2 x 2 icon in one bit per pixel: colour rows, then mask rows (bottom-up).
  std::vector<uint8_t> dib(40 + 8 + 4 * 2 + 4 * 2, 0);
  dib[0] = 40;
  dib[4] = 2;
  dib[8] = 4;  // twice the height
  dib[12] = 1;
  dib[14] = 1;
  std::memcpy(&dib[44], "\xff\xff\xff\x00", 4);  // colour 1: white
  dib[48] = 0xC0;   // bottom colour row: both white
  dib[56] = 0x40;   // bottom mask row: the right pixel is transparent
  const auto icon = ReadDibIcon(dib.data(), dib.size());
  ASSERT_TRUE(icon);
  ASSERT_EQ(icon->width, 2);
  ASSERT_EQ(icon->height, 2);
  const uint8_t* bottomLeft = &icon->pixels[(1 * 2 + 0) * 4];
  const uint8_t* bottomRight = &icon->pixels[(1 * 2 + 1) * 4];
  EXPECT_EQ(bottomLeft[0], 255);
  EXPECT_EQ(bottomLeft[3], 255);
  EXPECT_EQ(bottomRight[3], 0);

  // Without the mask rows the icon is drawn opaque, the bytes after it never read.
  const auto opaque = ReadDibIcon(dib.data(), 40 + 8 + 4 * 2);
  ASSERT_TRUE(opaque);
  for (size_t i = 3; i < opaque->pixels.size(); i += 4) EXPECT_EQ(opaque->pixels[i], 255);
}

std::vector<uint8_t> Wave(uint16_t format, uint16_t channels, uint16_t bits,
                          std::vector<uint8_t> data, std::vector<uint8_t> extraChunk = {}) {
  std::vector<uint8_t> out;
  auto put32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
  };
  auto put16 = [&](uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
  };
  auto tag = [&](const char* t) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(t[i]));
  };
  tag("RIFF");
  put32(0);
  tag("WAVE");
  if (!extraChunk.empty()) {
    tag("LIST");
    put32(static_cast<uint32_t>(extraChunk.size()));
    out.insert(out.end(), extraChunk.begin(), extraChunk.end());
    if (extraChunk.size() % 2) out.push_back(0);
  }
  tag("fmt ");
  put32(16);
  put16(format);
  put16(channels);
  put32(8000);
  put32(8000u * channels * bits / 8);
  put16(static_cast<uint16_t>(channels * bits / 8));
  put16(bits);
  tag("data");
  put32(static_cast<uint32_t>(data.size()));
  out.insert(out.end(), data.begin(), data.end());
  const uint32_t riff = static_cast<uint32_t>(out.size() - 8);
  std::memcpy(&out[4], &riff, 4);
  return out;
}

TEST(WaveImageTest, ReadsPcmSoundsAndRefusesEverythingElse) {
  const EmbeddedResource* chime = FindEmbeddedResource("WAVE", IDW_STARTUP_SOUND);
  ASSERT_NE(chime, nullptr);
  const auto sound = ReadWaveImage(chime->data, chime->size);
  ASSERT_TRUE(sound);
  EXPECT_EQ(sound->channels, 1);
  EXPECT_EQ(sound->samplesPerSecond, 8000u);
  EXPECT_EQ(sound->bitsPerSample, 16);
  EXPECT_EQ(sound->bytes, 10000u);
  EXPECT_EQ(StatedWaveImageSize(chime->data), chime->size);

  // Other chunks before the format are stepped over, odd lengths padded.
  const auto padded = Wave(1, 1, 16, {1, 2, 3, 4}, {9, 9, 9});
  const auto read = ReadWaveImage(padded.data(), padded.size());
  ASSERT_TRUE(read);
  EXPECT_EQ(read->bytes, 4u);
  EXPECT_EQ(read->samples[0], 1);

  // A partial last frame is not played.
  EXPECT_EQ(ReadWaveImage(Wave(1, 2, 16, {1, 2, 3, 4, 5}).data(), 49)->bytes, 4u);
  // A data chunk that claims more than there is stops at the end.
  auto longer = Wave(1, 1, 16, {1, 2, 3, 4});
  longer[40] = 0xFF;
  EXPECT_EQ(ReadWaveImage(longer.data(), longer.size())->bytes, 4u);

  EXPECT_FALSE(ReadWaveImage(Wave(2, 1, 16, {1, 2}).data(), 46));   // not PCM
  EXPECT_FALSE(ReadWaveImage(Wave(1, 3, 16, {1, 2}).data(), 46));   // three channels
  EXPECT_FALSE(ReadWaveImage(Wave(1, 1, 12, {1, 2}).data(), 46));   // 12 bits
  EXPECT_FALSE(ReadWaveImage(Wave(1, 0, 16, {1, 2}).data(), 46));   // no channels: no frame size
  auto noRate = Wave(1, 1, 16, {1, 2});
  std::memset(&noRate[24], 0, 4);
  EXPECT_FALSE(ReadWaveImage(noRate.data(), noRate.size()));       // 0 samples a second
  // Samples before their format: nothing says how to play them.
  auto dataFirst = Wave(1, 1, 16, {1, 2});
  std::rotate(dataFirst.begin() + 12, dataFirst.begin() + 36, dataFirst.end());
  EXPECT_FALSE(ReadWaveImage(dataFirst.data(), dataFirst.size()));
  const std::vector<uint8_t> zeros(44, 0);  // an image whose header was never written
  EXPECT_FALSE(ReadWaveImage(zeros.data(), zeros.size()));
  EXPECT_EQ(StatedWaveImageSize(zeros.data()), 0u);
  for (size_t size = 0; size < chime->size && size < 60; ++size) {
    const auto cut = ReadWaveImage(chime->data, size);
    if (cut) {
      EXPECT_LE(cut->bytes + 44, size);
    }
  }
}

}  // namespace
}  // namespace clipnote::gtk
