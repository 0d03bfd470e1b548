#include "message/file_bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace clipnote::message {

bool ReadFileBytes(const char* path, std::vector<uint8_t>& bytes, std::string& error) {
  bytes.clear();
  const std::string tooLarge = std::string("cannot read ") + path + ": larger than 2 GiB, too large for a message or clip";
  // A file states its size: refused before anything is read or reserved.
  std::error_code unknown;
  const uintmax_t size = std::filesystem::file_size(path, unknown);
  if (!unknown && size > kLargestFile) {
    error = tooLarge;
    return false;
  }
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    error = std::string("cannot open ") + path + ": " + std::strerror(errno);
    return false;
  }
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    // A pipe or device states no size: refused once it has given too much.
    if (bytes.size() + n > kLargestFile) {
      std::fclose(f);
      bytes.clear();
      error = tooLarge;
      return false;
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
  }
  const bool failed = std::ferror(f) != 0;
  const int readErrno = errno;
  std::fclose(f);
  if (failed) {
    error = std::string("cannot read ") + path + ": " + std::strerror(readErrno);
    return false;
  }
  return true;
}

}  // namespace clipnote::message
