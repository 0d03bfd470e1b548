#pragma once

// What every test suite shares: a scratch folder of each test case's own, whole files,
// programs run with their standard output, standard error and status apart, a private X
// server, VOICE clips (the 4-byte reservation prefix, then the frames), and the rule that a
// test which cannot run here is skipped, except in continuous integration.

#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace support {

// The running test case's own folder, made on first use and named after the test and the
// process, so cases run side by side (ctest -j) never meet in it. It is removed when the case
// passes and kept, its path printed, when it fails or CLIPNOTE_KEEP_SCRATCH is set. Outside a
// test case (a suite's set-up) it is the suite's.
std::string ScratchDir();
// A path in it (the folders the name goes through are not made: a test may want them missing).
std::string Scratch(const std::string& name);

// The file's bytes (empty when it cannot be read).
std::vector<uint8_t> ReadFile(const std::string& path);
std::string ReadText(const std::string& path);
// Replaces the file; returns the path. A file that cannot be written fails the running test.
std::string WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::string WriteText(const std::string& path, const std::string& text);

// Variables set for a program on top of the test's own environment.
using Environment = std::map<std::string, std::string>;

// A program running beside the test, writing where the test writes; killed when destroyed
// unless it has ended. A name without a '/' is looked up on PATH.
class Process {
 public:
  explicit Process(const std::vector<std::string>& command, const Environment& environment = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // The exit status once it has ended within the time (a negative time: however long it
  // takes), or nothing. A signal gives 128 + its number.
  std::optional<int> WaitForExit(int milliseconds);

 private:
  pid_t pid_ = -1;
  std::optional<int> exitCode_;
};

struct RunResult {
  int status = -1;  // exit status; 128 + the signal's number; -1 when it could not start
  std::string out;  // standard output
  std::string err;  // standard error
  std::string Output() const { return out + err; }
};

// Runs a program to its end, keeping what it wrote to each stream.
RunResult Run(const std::vector<std::string>& command, const Environment& environment = {});
RunResult RunShell(const std::string& commandLine, const Environment& environment = {});
bool HaveTool(const std::string& name);

// A virtual X server of its own on a display number it picks; stopped when destroyed (and
// with the test process, whatever ends it).
class XvfbServer {
 public:
  XvfbServer() = default;
  ~XvfbServer();
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // False when no Xvfb could be started (then the test is skipped).
  bool Start(int width = 1024, int height = 768);
  const std::string& Name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
};

// The PCM bytes a clip reserves, read as the player reads them; a clip it refuses fails the test.
uint32_t VoiceCapacity(const std::vector<uint8_t>& clip);
// A clip of the frames that reserves `capacity` PCM bytes.
std::vector<uint8_t> MakeVoiceClip(uint32_t capacity, const std::vector<uint8_t>& frames);

// 64-bit FNV-1a of the bytes: the checksums tests record for pictures and streams.
uint64_t Fnv1a(const std::vector<uint8_t>& bytes);

// A tmpfs of `kilobytes` mounted on the folder (which must exist), unmounted when destroyed.
// Needs root (REQUIRE_ROOT); mounted() says whether it worked.
class SmallFilesystem {
 public:
  SmallFilesystem(const std::string& directory, int kilobytes, const std::string& options = "");
  ~SmallFilesystem();
  SmallFilesystem(const SmallFilesystem&) = delete;
  SmallFilesystem& operator=(const SmallFilesystem&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string directory_;
  bool mounted_ = false;
};

// CI set (and not 0 or false): everything a test needs is installed there.
bool RunningInCi();

}  // namespace support

// Skips a test that cannot run on this machine (no Xvfb, no root), but fails it in continuous
// integration, where a skip would hide that it went untested. The whole body of an `if`, in braces.
#define CLIPNOTE_SKIP_UNLESS_CI(reason)                     \
  if (::support::RunningInCi()) {                           \
    GTEST_FAIL() << (reason) << " (CI must run this test)"; \
  }                                                         \
  GTEST_SKIP() << (reason)

// Mounting a small filesystem and chattr take root, which CI has; elsewhere the test says why
// it cannot run.
#define REQUIRE_ROOT()                                                      \
  if (geteuid() != 0) {                                                     \
    CLIPNOTE_SKIP_UNLESS_CI("needs root (mount a small tmpfs, chattr +i)"); \
  }
