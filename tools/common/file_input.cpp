#include "tools/common/file_input.h"

#include "message/file_bytes.h"

bool ReadWholeFile(const char* path, std::vector<uint8_t>& bytes, std::string& error) {
  return clipnote::message::ReadFileBytes(path, bytes, error);
}
