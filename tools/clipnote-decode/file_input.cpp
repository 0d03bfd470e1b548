#include "tools/clipnote-decode/file_input.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

bool ReadWholeFile(const char* path, std::vector<uint8_t>& bytes, std::string& error) {
  bytes.clear();
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    error = std::string("cannot open ") + path + ": " + std::strerror(errno);
    return false;
  }
  uint8_t chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    // Nothing we read is that large; refusing it early keeps a wrong argument from filling memory.
    if (bytes.size() + n > kLargestInputFile) {
      std::fclose(f);
      bytes.clear();
      error = std::string("cannot read ") + path + ": larger than 2 GiB, too large for a message or clip";
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
