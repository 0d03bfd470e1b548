#pragma once

// A file read whole into memory, for the readers of messages and clips.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace clipnote::message {

// Larger files are refused: every input is a message or a clip, which a 32-bit player holds.
inline constexpr size_t kLargestFile = 0x7FFFFFFF;

// Reads the whole file at path into bytes. On failure returns false and sets error to a
// phrase for the user ("cannot open X: No such file or directory", "cannot read X: Is a
// directory", or larger than kLargestFile); nothing is thrown, whatever the path names.
bool ReadFileBytes(const char* path, std::vector<uint8_t>& bytes, std::string& error);

}  // namespace clipnote::message
