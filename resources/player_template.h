#pragma once

// The Windows player with empty clips (resources/clipnote_template.exe, built by the
// cross tree's clipnote_template target), carried by the tools that write message
// executables so that they need no cross toolchain: the message writer
// (message/resource_writer.h) puts a message's clips into a copy of it.

#include <cstdint>
#include <span>

namespace clipnote {

std::span<const std::uint8_t> PlayerTemplate();

}  // namespace clipnote
