#pragma once

// What every test suite shares: a scratch folder of each test case's own, whole files read
// and written, programs run with their standard output, standard error and status kept
// apart, a private X server, and VOICE clips (the 4-byte reservation prefix, then the frames)
// as the player reads them.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace support {

// --- Scratch folders ------------------------------------------------------------------------

// The running test case's own folder, made on first use: its name holds the test's full name
// and the process id, so cases of one program run side by side (ctest -j) never meet in it.
// It is removed when the case passes and kept (its path printed) when it fails or when
// CLIPNOTE_KEEP_SCRATCH is set. Outside a test case (a suite's set-up) it is the suite's.
std::string ScratchDir();
// A path inside it (the folders the name goes through are not made: a test may want them
// missing).
std::string Scratch(const std::string& name);

// --- Whole files ----------------------------------------------------------------------------

// The file's bytes (empty when it cannot be read).
std::vector<uint8_t> ReadFile(const std::string& path);
std::string ReadText(const std::string& path);
// Replaces the file with the bytes; returns the path. A file that cannot be written fails
// the running test.
std::string WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::string WriteText(const std::string& path, const std::string& text);

// --- Programs -------------------------------------------------------------------------------

// Variables set (or replaced) for a program on top of the test's own environment.
using Environment = std::map<std::string, std::string>;

// A program running beside the test, its output going where the test's goes; killed when
// destroyed unless it has ended. A program named without a '/' is looked up on PATH.
class Process {
 public:
  explicit Process(const std::vector<std::string>& command, const Environment& environment = {});
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // The exit status once it has ended within the time, or nothing (a signal gives 128 + its
  // number). A negative time waits for as long as it takes.
  std::optional<int> WaitForExit(int milliseconds);

 private:
  pid_t pid_ = -1;
  std::optional<int> exitCode_;
};

struct RunResult {
  int status = -1;  // exit status; 128 + the signal's number; -1 when it could not start
  std::string out;  // standard output
  std::string err;  // standard error
  // Both, for messages that explain a failure.
  std::string Output() const { return out + err; }
};

// Runs a program to its end and keeps what it wrote to each stream.
RunResult Run(const std::vector<std::string>& command, const Environment& environment = {});
// The same for a shell command line.
RunResult RunShell(const std::string& commandLine, const Environment& environment = {});
// True when the named program is on PATH.
bool HaveTool(const std::string& name);

// --- A private X server ---------------------------------------------------------------------

// A virtual X server of its own, on a display number it picks itself; stopped when
// destroyed (and with the test process, whatever ends it).
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

// --- VOICE clips ----------------------------------------------------------------------------

// The PCM bytes the clip reserves, read as the player reads its prefix; a clip the player
// refuses fails the running test.
uint32_t VoiceCapacity(const std::vector<uint8_t>& clip);
// A clip of the frames that reserves `capacity` PCM bytes.
std::vector<uint8_t> MakeVoiceClip(uint32_t capacity, const std::vector<uint8_t>& frames);

}  // namespace support
