// The player window's template, read back from the compiled resources exactly
// as the dialog manager reads it, against the window the player is laid out for.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "resources/embedded_resources.h"
#include "resources/resource_ids.h"

namespace {

using clipnote::EmbeddedResource;
using clipnote::FindEmbeddedResource;

// A field that is either a 16-bit ordinal or a string.
using NameOrOrdinal = std::variant<std::uint16_t, std::string>;

class TemplateReader {
 public:
  explicit TemplateReader(const EmbeddedResource& r) : data_(r.data), size_(r.size) {}

  std::uint16_t Word() { return static_cast<std::uint16_t>(Byte() | Byte() << 8); }
  std::uint32_t Dword() { return Word() | static_cast<std::uint32_t>(Word()) << 16; }
  std::int16_t Short() { return static_cast<std::int16_t>(Word()); }
  std::uint8_t Byte() {
    if (pos_ >= size_) throw std::out_of_range("template ends early");
    return data_[pos_++];
  }
  std::string String() {
    std::string text;
    for (std::uint16_t c = Word(); c != 0; c = Word()) text += c < 0x80 ? static_cast<char>(c) : '?';
    return text;
  }
  NameOrOrdinal Field() {
    if (data_[pos_] == 0xFF && data_[pos_ + 1] == 0xFF) {
      Word();
      return Word();
    }
    return String();
  }
  void AlignDword() { pos_ = (pos_ + 3) & ~std::size_t{3}; }
  std::size_t Remaining() const { return size_ - pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

struct Control {
  std::uint32_t exStyle, style;
  std::int16_t x, y, cx, cy;
  std::uint32_t id;
  NameOrOrdinal windowClass, title;
};

constexpr std::uint16_t kButtonClass = 0x0080;
constexpr std::uint16_t kStaticClass = 0x0082;

// Window and control style bits as the Windows headers define them.
constexpr std::uint32_t WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000,
                        WS_CAPTION = 0x00C00000, WS_BORDER = 0x00800000,
                        WS_SYSMENU = 0x00080000, WS_TABSTOP = 0x00010000;
constexpr std::uint32_t DS_SETFONT = 0x40, DS_MODALFRAME = 0x80;
constexpr std::uint32_t WS_EX_APPWINDOW = 0x40000, WS_EX_DLGMODALFRAME = 0x1,
                        WS_EX_CLIENTEDGE = 0x200, WS_EX_STATICEDGE = 0x20000;
constexpr std::uint32_t SS_CENTER = 0x1, SS_BLACKFRAME = 0x7, SS_BITMAP = 0xE,
                        SS_CENTERIMAGE = 0x200, SS_REALSIZEIMAGE = 0x800, SS_SUNKEN = 0x1000;
constexpr std::uint32_t BS_DEFPUSHBUTTON = 0x1;

// The maker's text of the browser page's window, its line breaks as newlines.
std::string BrowserPageMakerText() {
  std::ifstream file(CLIPNOTE_SOURCE_DIR "/web/page/index.html");
  const std::string page{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const std::string opening = "id=\"maker-text\">";
  const size_t start = page.find(opening);
  if (start == std::string::npos) return "(no maker-text in the page)";
  const size_t end = page.find("</div>", start);
  std::string text = page.substr(start + opening.size(), end - start - opening.size());
  for (size_t br; (br = text.find("<br>")) != std::string::npos;) text.replace(br, 4, "\n");
  return text;
}

TEST(DialogTemplate, HeaderFontAndEveryControlAreAsThePlayerExpects) {
  const EmbeddedResource* dialog = FindEmbeddedResource(clipnote::kResourceTypeDialog, "DISPLAYBOX");
  if (dialog == nullptr) GTEST_SKIP() << "built without a resource compiler: no dialog template";
  EXPECT_EQ(dialog->language, 0x409);

  TemplateReader in(*dialog);
  EXPECT_EQ(in.Word(), 1);       // extended template version
  EXPECT_EQ(in.Word(), 0xFFFF);  // extended template signature
  EXPECT_EQ(in.Dword(), 0u);     // help id
  EXPECT_EQ(in.Dword(), WS_EX_APPWINDOW);
  EXPECT_EQ(in.Dword(), WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
  const std::uint16_t count = in.Word();
  ASSERT_EQ(count, 6);
  EXPECT_EQ(in.Short(), 0);
  EXPECT_EQ(in.Short(), 0);
  EXPECT_EQ(in.Short(), 174);
  EXPECT_EQ(in.Short(), 158);
  EXPECT_EQ(in.Field(), NameOrOrdinal(std::string()));  // no menu
  EXPECT_EQ(in.Field(), NameOrOrdinal(std::string()));  // the system dialog class
  EXPECT_EQ(in.String(), "Tarvany Clipnote Player");
  EXPECT_EQ(in.Word(), 8);  // points
  EXPECT_EQ(in.Word(), 0);  // weight
  EXPECT_EQ(in.Byte(), 0);  // not italic
  EXPECT_EQ(in.Byte(), 1);  // default character set
  EXPECT_EQ(in.String(), "MS Sans Serif");

  std::vector<Control> controls;
  for (int i = 0; i < count; ++i) {
    in.AlignDword();
    Control c{};
    EXPECT_EQ(in.Dword(), 0u);  // help id
    c.exStyle = in.Dword();
    c.style = in.Dword();
    c.x = in.Short();
    c.y = in.Short();
    c.cx = in.Short();
    c.cy = in.Short();
    c.id = in.Dword();
    c.windowClass = in.Field();
    c.title = in.Field();
    const std::uint16_t extra = in.Word();
    EXPECT_EQ(extra, 0) << "control " << c.id;
    controls.push_back(c);
  }
  EXPECT_LT(in.Remaining(), 4u);

  struct Expected {
    std::uint32_t id;
    std::uint16_t windowClass;
    std::uint32_t style, exStyle;
    std::int16_t x, y, cx, cy;
  };
  const Expected expected[] = {
      {IDC_MAKER_TEXT, kStaticClass, WS_CHILD | WS_VISIBLE | SS_CENTER, 0, 1, 0, 119, 102},
      {IDC_PLAY_BUTTON, kButtonClass, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0,
       0, 144, 22, 14},
      {IDC_SIZE_BUTTON, kButtonClass, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0,
       22, 144, 22, 14},
      {IDC_VIDEO_FRAME, kStaticClass,
       WS_CHILD | WS_VISIBLE | WS_BORDER | SS_BLACKFRAME | SS_SUNKEN,
       WS_EX_DLGMODALFRAME | WS_EX_CLIENTEDGE | WS_EX_STATICEDGE, 3, 62, 94, 79},
      {IDC_LOGO, kStaticClass,
       WS_CHILD | WS_VISIBLE | SS_BITMAP | SS_CENTERIMAGE | SS_REALSIZEIMAGE, 0, 43, 144, 131, 14},
      {IDC_WAIT_TEXT, kStaticClass, WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE, 0, 76,
       114, 87, 14},
  };
  for (int i = 0; i < count; ++i) {
    const Control& c = controls[i];
    const Expected& e = expected[i];
    SCOPED_TRACE("control " + std::to_string(e.id));
    EXPECT_EQ(c.id, e.id);
    EXPECT_EQ(c.windowClass, NameOrOrdinal(e.windowClass));
    EXPECT_EQ(c.style, e.style);
    EXPECT_EQ(c.exStyle, e.exStyle);
    EXPECT_EQ(c.x, e.x);
    EXPECT_EQ(c.y, e.y);
    EXPECT_EQ(c.cx, e.cx);
    EXPECT_EQ(c.cy, e.cy);
  }

  // The texts the player shows or replaces; the maker's wording is free but present,
  // and the browser page's window shows the same words.
  EXPECT_NE(std::get<std::string>(controls[0].title), "");
  EXPECT_EQ(std::get<std::string>(controls[0].title), BrowserPageMakerText());
  EXPECT_EQ(controls[1].title, NameOrOrdinal(std::string("Play")));
  EXPECT_EQ(controls[2].title, NameOrOrdinal(std::string("CIF")));
  EXPECT_EQ(controls[3].title, NameOrOrdinal(std::string()));
  EXPECT_EQ(controls[4].title, NameOrOrdinal(std::uint16_t{IDB_LOGO}));
  EXPECT_EQ(controls[5].title, NameOrOrdinal(std::string("One moment please ...")));
}

}  // namespace
