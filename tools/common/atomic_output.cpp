#include "tools/common/atomic_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace clipnote::tools {
namespace {

// Temporary files an interrupt removes. The handler may only read plain memory, so the names are
// kept in fixed buffers, each published by its flag once written.
constexpr int kSlots = 16;
constexpr size_t kPathBytes = 4096;
char slotPath[kSlots][kPathBytes];
volatile sig_atomic_t slotUsed[kSlots];
const char* programName = "clipnote-decode";
volatile sig_atomic_t errorLineOpen = 0;

int Claim(const std::string& path) {
  if (path.size() >= kPathBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (slotUsed[i] == 0) {
      std::memcpy(slotPath[i], path.c_str(), path.size() + 1);
      slotUsed[i] = 1;
      return i;
    }
  }
  return -1;
}

void Release(int& slot) {
  if (slot >= 0) slotUsed[slot] = 0;
  slot = -1;
}

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

void WriteText(const char* text) {
  if (write(STDERR_FILENO, text, std::strlen(text)) < 0) return;  // nothing more to do about it
}

void OnSignal(int signal) {
  bool removed = false;
  for (int i = 0; i < kSlots; ++i) {
    if (slotUsed[i] != 0) removed |= unlink(slotPath[i]) == 0;
  }
  if (errorLineOpen != 0) WriteText("\n");
  WriteText(programName);
  WriteText(removed ? ": interrupted: unfinished output removed\n" : ": interrupted\n");
  std::signal(signal, SIG_DFL);
  raise(signal);
}

// Signals blocked while outputs are renamed, so an interrupt finds them all in place or none.
class BlockSignals {
 public:
  BlockSignals() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&blocked, s);
    sigprocmask(SIG_BLOCK, &blocked, &previous_);
  }
  ~BlockSignals() { sigprocmask(SIG_SETMASK, &previous_, nullptr); }

 private:
  sigset_t previous_;
};

// A second name for the file at `path`, beside it, so that a commit failing on a later output can
// put it back; empty when there is none or the filesystem cannot link (then a failure can only
// remove the new file).
std::string KeepPrevious(const std::string& path) {
  struct stat existing {};
  if (lstat(path.c_str(), &existing) != 0 || !S_ISREG(existing.st_mode)) return {};
  const std::filesystem::path target(path);
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  const std::string stem = (folder / ("." + target.filename().string() + ".previous-")).string() +
                           std::to_string(getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name = stem + std::to_string(attempt);
    if (link(path.c_str(), name.c_str()) == 0) return name;
    if (errno != EEXIST) return {};
  }
  return {};
}

}  // namespace

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Open(const std::string& path, std::string& error) {
  Discard();
  path_ = path;
  // A device or a pipe (/dev/null, /dev/stdout) is written as it is: there is no file to put in
  // its place, and renaming one over it would replace the device itself.
  struct stat existing {};
  if (stat(path.c_str(), &existing) == 0 && !S_ISREG(existing.st_mode) && !S_ISDIR(existing.st_mode)) {
    stream_ = std::fopen(path.c_str(), "wb");
    if (stream_ == nullptr) {
      error = "cannot write " + path + ": " + std::strerror(errno);
      return false;
    }
    direct_ = true;
    return true;
  }
  const std::filesystem::path target(path);
  const std::string extension = target.extension().string();
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  // Hidden and marked as partial, in the same folder so the rename stays on one filesystem.
  std::string name = (folder / ("." + target.filename().string() + ".partial-XXXXXX")).string() + extension;
  {
    BlockSignals quiet;  // a name in the list and a file on disk come and go together
    const int fd = mkstemps(name.data(), static_cast<int>(extension.size()));
    if (fd < 0) {
      error = "cannot write " + path + ": cannot create a file in " + folder.string() + ": " + std::strerror(errno);
      return false;
    }
    temporary_ = name;
    slot_ = Claim(temporary_);
    fchmod(fd, 0666 & ~CurrentUmask());  // as an ordinary new file would be, not private
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr) {
      error = "cannot write " + temporary_ + ": " + std::strerror(errno);
      close(fd);
      return false;  // the destructor removes the file
    }
  }
  return true;
}

void OutputFile::CloseStream() {
  if (stream_ != nullptr) std::fclose(stream_);
  stream_ = nullptr;
}

bool OutputFile::Finish(std::string& error) {
  int code = 0;
  if (stream_ != nullptr) {
    if (std::fflush(stream_) != 0 || std::ferror(stream_) != 0) code = errno != 0 ? errno : EIO;
    if (code == 0 && !direct_ && fsync(fileno(stream_)) != 0) code = errno;
    if (std::fclose(stream_) != 0 && code == 0) code = errno;
    stream_ = nullptr;
  } else if (!direct_) {
    const int fd = open(temporary_.c_str(), O_RDONLY);
    if (fd < 0 || fsync(fd) != 0) code = errno;
    if (fd >= 0) close(fd);
  }
  if (code != 0) {
    error = "cannot write " + path_ + ": " + std::strerror(code);
    return false;
  }
  finished_ = true;
  return true;
}

void OutputFile::Discard() {
  CloseStream();
  direct_ = false;
  if (!temporary_.empty()) {
    BlockSignals quiet;
    unlink(temporary_.c_str());
    Release(slot_);
  }
  temporary_.clear();
  finished_ = false;
}

bool CommitOutputs(std::span<OutputFile* const> outputs, std::string& error) {
  for (OutputFile* output : outputs) {
    if (!output->finished_) {
      error = output->path_ + " is not complete";
      return false;
    }
  }
  BlockSignals quiet;
  struct Placed {
    const std::string* path;
    std::string previous;  // what it replaced, kept until every output is in place
  };
  std::vector<Placed> placed;
  // Takes back what this call put in place: the files they replaced return, new ones go.
  const auto takeBack = [&placed] {
    for (auto it = placed.rbegin(); it != placed.rend(); ++it) {
      if (it->previous.empty() || std::rename(it->previous.c_str(), it->path->c_str()) != 0) {
        unlink(it->path->c_str());
      }
    }
  };
  for (OutputFile* output : outputs) {
    if (output->direct_) continue;  // written in place already
    std::string previous = KeepPrevious(output->path_);
    if (std::rename(output->temporary_.c_str(), output->path_.c_str()) != 0) {
      error = "cannot replace " + output->path_ + ": " + std::strerror(errno);
      if (!previous.empty()) unlink(previous.c_str());
      takeBack();
      return false;  // the rest are discarded by their owners
    }
    Release(output->slot_);
    output->temporary_.clear();
    placed.push_back({&output->path_, std::move(previous)});
  }
  for (const Placed& done : placed) {
    if (!done.previous.empty()) unlink(done.previous.c_str());
  }
  return true;
}

bool MayWriteOutput(const std::string& path, bool force, std::string& error) {
  struct stat existing {};
  if (lstat(path.c_str(), &existing) != 0) return true;
  // Writing into a device or a pipe (/dev/null) replaces nothing.
  struct stat target {};
  if (stat(path.c_str(), &target) == 0 && !S_ISREG(target.st_mode) && !S_ISDIR(target.st_mode)) return true;
  if (S_ISDIR(existing.st_mode)) {
    error = path + " is a folder, not a file";  // not replaced, even when forced
    return false;
  }
  if (force) return true;
  error = path + " exists; --force (-y) replaces it";
  return false;
}

bool MakeOutputFolders(const std::string& path, std::string& error) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) return true;
  std::error_code code;
  std::filesystem::create_directories(folder, code);
  if (code) {
    error = "cannot make the folder " + folder.string() + ": " + code.message();
    return false;
  }
  return true;
}

void RemoveOutputsOnSignal(const char* program) {
  programName = program;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

void NoteOpenErrorLine(bool open) { errorLineOpen = open ? 1 : 0; }

}  // namespace clipnote::tools
