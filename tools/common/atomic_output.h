// Output files written whole or not at all. Each output is written under a temporary name in
// the folder of its final path and renamed into place only once complete, so a failure (full
// disk, unwritable folder, an interrupt) never leaves a truncated file that looks finished, and
// a file already at the final path stays as it was until the new one is whole. A device or a pipe
// (/dev/null) is written in place.
#pragma once

#include <cstdio>
#include <span>
#include <string>

namespace clipnote::tools {

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();  // an output never committed is removed
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates the temporary file beside `path` (keeping its extension, which some writers read).
  bool Open(const std::string& path, std::string& error);
  std::FILE* stream() const { return stream_; }
  const std::string& path() const { return path_; }
  const std::string& temporaryPath() const { return direct_ ? path_ : temporary_; }

  // Closes the stream for a writer that reopens the temporary file by its name.
  void CloseStream();
  // Flushes and syncs the temporary file; false, with the reason, if any write to it failed.
  bool Finish(std::string& error);

 private:
  friend bool CommitOutputs(std::span<OutputFile* const> outputs, std::string& error);
  void Discard();

  std::string path_;
  std::string temporary_;
  std::FILE* stream_ = nullptr;
  int slot_ = -1;  // in the list an interrupt removes
  bool finished_ = false;
  bool direct_ = false;  // a device or a pipe, written in place
};

// Renames finished outputs into place, all of them or none: if a rename fails, the outputs this
// call already put in place are taken back and the files they replaced return. Interrupts wait
// until the renames are done.
bool CommitOutputs(std::span<OutputFile* const> outputs, std::string& error);
inline bool CommitOutput(OutputFile& output, std::string& error) {
  OutputFile* one[] = {&output};
  return CommitOutputs(one, error);
}

// The output policy every tool keeps: an output that exists is replaced only when the user said
// so (--force, -y). False, with the reason for the user, when `path` exists and `force` is not set.
bool MayWriteOutput(const std::string& path, bool force, std::string& error);
// Makes the folders `path` is to be written in, for the outputs a tool creates folders for. False,
// with the reason, when one cannot be made or a file is in the way.
bool MakeOutputFolders(const std::string& path, std::string& error);

// Makes SIGINT, SIGTERM and SIGHUP remove every open output's temporary file, say so under
// `program`'s name and end the program as the signal would.
void RemoveOutputsOnSignal(const char* program);
// Told by a progress line that standard error's cursor is in the middle of a line, so that an
// interrupt's message starts on a line of its own.
void NoteOpenErrorLine(bool open);

}  // namespace clipnote::tools
