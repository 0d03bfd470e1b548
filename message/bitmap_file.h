#pragma once

// A bitmap resource as a .bmp file. The resource holds the bitmap from its info
// header on; a file needs the 14-byte file header in front, which says where the
// pixel rows start (after the info header, the colour masks and the colour table).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "message/byte_view.h"

namespace clipnote::message {

// The whole .bmp file, or nothing (with `reason`) when the resource's header is not
// one a .bmp can carry or states a colour table longer than the resource.
std::optional<std::vector<uint8_t>> BitmapFileFromResource(Bytes resource, std::string& reason);

}  // namespace clipnote::message
