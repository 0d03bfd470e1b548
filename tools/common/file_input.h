#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads the whole file at path into bytes, as the message reader's ReadFileBytes does
// (files over 2 GiB refused). On failure returns false and sets error to a phrase for
// the user ("cannot open X: No such file or directory", "cannot read X: Is a
// directory"); nothing is thrown, whatever the path names.
bool ReadWholeFile(const char* path, std::vector<uint8_t>& bytes, std::string& error);
