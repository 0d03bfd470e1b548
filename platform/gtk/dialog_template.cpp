#include "platform/gtk/dialog_template.h"

namespace clipnote::gtk {

namespace {

constexpr uint32_t kDsSetFont = 0x40;
constexpr uint32_t kDsShellFont = 0x48;

// What a lone half of a surrogate pair becomes.
constexpr uint32_t kReplacement = 0xFFFD;

// Reads little-endian fields, refusing to go past the end.
class TemplateReader {
 public:
  TemplateReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Word(uint16_t& value) {
    if (size_ - pos_ < 2) return false;
    value = static_cast<uint16_t>(data_[pos_] | data_[pos_ + 1] << 8);
    pos_ += 2;
    return true;
  }
  bool Dword(uint32_t& value) {
    uint16_t low, high;
    if (!Word(low) || !Word(high)) return false;
    value = low | static_cast<uint32_t>(high) << 16;
    return true;
  }
  bool Short(int& value) {
    uint16_t word;
    if (!Word(word)) return false;
    value = static_cast<int16_t>(word);
    return true;
  }
  bool Byte(uint8_t& value) {
    if (pos_ >= size_) return false;
    value = data_[pos_++];
    return true;
  }
  // A NUL-terminated UTF-16 string, as UTF-8. Half of a surrogate pair alone is no
  // character: it becomes U+FFFD, as GTK takes only valid UTF-8 for titles and labels.
  bool String(std::string& text) {
    text.clear();
    for (;;) {
      uint16_t unit;
      if (!Word(unit)) return false;
      if (unit == 0) return true;
      uint32_t code = unit;
      if (unit >= 0xD800 && unit < 0xDC00) {
        uint16_t low;
        if (!Word(low)) return false;
        if (low >= 0xDC00 && low < 0xE000) {
          code = 0x10000 + ((unit - 0xD800u) << 10) + (low - 0xDC00u);
        } else {
          code = kReplacement;
          pos_ -= 2;  // the unit after a lone half is a character of its own
        }
      } else if (unit >= 0xDC00 && unit < 0xE000) {
        code = kReplacement;
      }
      AppendUtf8(text, code);
    }
  }
  // A string, or 0xFFFF and an ordinal.
  bool StringOrOrdinal(std::string& text, uint16_t& ordinal) {
    ordinal = 0;
    text.clear();
    if (size_ - pos_ >= 2 && data_[pos_] == 0xFF && data_[pos_ + 1] == 0xFF) {
      uint16_t marker;
      return Word(marker) && Word(ordinal);
    }
    return String(text);
  }
  bool Skip(size_t bytes) {
    if (size_ - pos_ < bytes) return false;
    pos_ += bytes;
    return true;
  }
  bool AlignDword() { return Skip(((pos_ + 3) & ~size_t{3}) - pos_); }

 private:
  static void AppendUtf8(std::string& text, uint32_t code) {
    if (code < 0x80) {
      text += static_cast<char>(code);
    } else if (code < 0x800) {
      text += static_cast<char>(0xC0 | code >> 6);
      text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      text += static_cast<char>(0xE0 | code >> 12);
      text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      text += static_cast<char>(0xF0 | code >> 18);
      text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
      text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
      text += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

bool ReadRect(TemplateReader& reader, DialogRect& rect) {
  return reader.Short(rect.x) && reader.Short(rect.y) && reader.Short(rect.width) &&
         reader.Short(rect.height);
}

}  // namespace

std::optional<DialogTemplate> ReadDialogTemplate(const uint8_t* data, size_t size) {
  if (data == nullptr) return std::nullopt;
  TemplateReader reader(data, size);
  DialogTemplate dialog;
  uint16_t version, signature, count, ordinal;
  uint32_t helpId;
  std::string ignored;
  if (!reader.Word(version) || !reader.Word(signature) || version != 1 || signature != 0xFFFF ||
      !reader.Dword(helpId) || !reader.Dword(dialog.exStyle) || !reader.Dword(dialog.style) ||
      !reader.Word(count) || !ReadRect(reader, dialog.rect) ||
      !reader.StringOrOrdinal(ignored, ordinal) ||  // menu
      !reader.StringOrOrdinal(ignored, ordinal) ||  // window class
      !reader.String(dialog.caption)) {
    return std::nullopt;
  }
  if ((dialog.style & kDsSetFont) != 0 || (dialog.style & kDsShellFont) == kDsShellFont) {
    uint16_t weight;
    uint8_t italic, charset;
    if (!reader.Word(dialog.pointSize) || !reader.Word(weight) || !reader.Byte(italic) ||
        !reader.Byte(charset) || !reader.String(dialog.typeface)) {
      return std::nullopt;
    }
  }
  for (uint16_t i = 0; i < count; ++i) {
    DialogControl control;
    uint16_t extraBytes;
    if (!reader.AlignDword() || !reader.Dword(helpId) || !reader.Dword(control.exStyle) ||
        !reader.Dword(control.style) || !ReadRect(reader, control.rect) ||
        !reader.Dword(control.id) ||
        !reader.StringOrOrdinal(control.className, control.classAtom) ||
        !reader.StringOrOrdinal(control.text, control.textId) || !reader.Word(extraBytes) ||
        !reader.Skip(extraBytes)) {
      return std::nullopt;
    }
    dialog.controls.push_back(std::move(control));
  }
  return dialog;
}

DialogRect DialogUnitsToPixels(const DialogRect& units, int baseX, int baseY) {
  // MulDiv rounds half away from zero; the values here are never negative
  // except for odd templates, which round the same way.
  auto scale = [](int value, int base, int divisor) {
    const int product = value * base;
    return product >= 0 ? (product + divisor / 2) / divisor : -((-product + divisor / 2) / divisor);
  };
  return {scale(units.x, baseX, 4), scale(units.y, baseY, 8), scale(units.width, baseX, 4),
          scale(units.height, baseY, 8)};
}

}  // namespace clipnote::gtk
