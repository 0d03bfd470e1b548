#pragma once

// The extended dialog template (DLGTEMPLATEEX) of a window, as the resource
// compiler writes it: the window's caption, styles and size, and its controls.
// Sizes are in dialog units; DialogUnitsToPixels turns them into pixels.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace clipnote::gtk {

// The predefined control classes, as their atoms appear in a template.
inline constexpr uint16_t kButtonClassAtom = 0x0080;
inline constexpr uint16_t kStaticClassAtom = 0x0082;

// Window and control styles the native window honours.
inline constexpr uint32_t kSsCenter = 0x0001;
inline constexpr uint32_t kSsTypeMask = 0x001F;
inline constexpr uint32_t kSsBlackFrame = 0x0007;
inline constexpr uint32_t kSsBitmap = 0x000E;
inline constexpr uint32_t kSsCenterImage = 0x0200;
inline constexpr uint32_t kWsVisible = 0x10000000;
inline constexpr uint32_t kWsDisabled = 0x08000000;

struct DialogRect {
  int x = 0, y = 0, width = 0, height = 0;
};

struct DialogControl {
  uint32_t id = 0;
  uint32_t style = 0;
  uint32_t exStyle = 0;
  DialogRect rect;        // dialog units
  uint16_t classAtom = 0;  // 0 when the class is named
  std::string className;
  uint16_t textId = 0;  // a resource id given as the text (a bitmap for SS_BITMAP)
  std::string text;     // UTF-8
};

struct DialogTemplate {
  uint32_t style = 0;
  uint32_t exStyle = 0;
  DialogRect rect;
  std::string caption;
  uint16_t pointSize = 0;
  std::string typeface;
  std::vector<DialogControl> controls;
};

// Nothing when the bytes are no complete extended template.
std::optional<DialogTemplate> ReadDialogTemplate(const uint8_t* data, size_t size);

// The pixel rectangle of a dialog-unit rectangle, for a font whose average
// character is baseX pixels wide and baseY pixels high (as MapDialogRect).
DialogRect DialogUnitsToPixels(const DialogRect& units, int baseX, int baseY);

}  // namespace clipnote::gtk
