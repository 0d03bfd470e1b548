#include "support/test_support.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "audio/voice_clip.h"

extern char** environ;

namespace support {

namespace fs = std::filesystem;

// --- Scratch folders ------------------------------------------------------------------------

namespace {

bool KeepScratch() {
  const char* keep = std::getenv("CLIPNOTE_KEEP_SCRATCH");
  return keep != nullptr && *keep != '\0' && std::string(keep) != "0";
}

// The folder of a test case or suite: the name with what a path cannot hold replaced (a
// parameterised case's '/'), then the process id.
fs::path FolderFor(std::string name) {
  for (char& c : name) {
    if (c == '/' || c == ' ' || c == '\\') c = '_';
  }
  return fs::path(CLIPNOTE_BINARY_DIR) / "tests" / "scratch" / (name + "." + std::to_string(getpid()));
}

void RemoveUnlessKept(const fs::path& folder, bool passed) {
  std::error_code ignored;
  if (!fs::exists(folder, ignored)) return;
  if (passed && !KeepScratch()) {
    fs::remove_all(folder, ignored);
  } else {
    std::printf("[ scratch  ] kept in %s\n", folder.c_str());
  }
}

// Removes each case's folder when it ends, and each suite's when the suite does.
class ScratchCleaner : public testing::EmptyTestEventListener {
  void OnTestEnd(const testing::TestInfo& test) override {
    RemoveUnlessKept(FolderFor(std::string(test.test_suite_name()) + "." + test.name()),
                     !test.result()->Failed());
  }
  void OnTestSuiteEnd(const testing::TestSuite& suite) override {
    RemoveUnlessKept(FolderFor(suite.name()), !suite.ad_hoc_test_result().Failed() && !suite.Failed());
  }
};

// Registered before any test runs, in every program that uses a scratch folder.
const bool registered = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new ScratchCleaner);
  return true;
}();

}  // namespace

std::string ScratchDir() {
  const testing::UnitTest& unit = *testing::UnitTest::GetInstance();
  std::string name = "process";
  if (const testing::TestInfo* test = unit.current_test_info()) {
    name = std::string(test->test_suite_name()) + "." + test->name();
  } else if (const testing::TestSuite* suite = unit.current_test_suite()) {
    name = suite->name();
  }
  const fs::path folder = FolderFor(name);
  fs::create_directories(folder);
  return folder.string();
}

std::string Scratch(const std::string& name) { return (fs::path(ScratchDir()) / name).string(); }

// --- Whole files ----------------------------------------------------------------------------

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadText(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadFile(path);
  return std::string(bytes.begin(), bytes.end());
}

std::string WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  out.close();
  EXPECT_TRUE(out) << "cannot write " << path;
  return path;
}

std::string WriteText(const std::string& path, const std::string& text) {
  return WriteFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

// --- Programs -------------------------------------------------------------------------------

namespace {

int StatusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1; }

}  // namespace

// Starts a program with the test's environment and the additions, its standard output and
// error into the given descriptors (-1: the test's own).
struct Launch {
  static pid_t Start(const std::vector<std::string>& command, const Environment& environment, int out, int err) {
    if (command.empty()) return -1;
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string text(*entry);
      if (environment.count(text.substr(0, text.find('='))) == 0) entries.push_back(text);
    }
    for (const auto& [key, value] : environment) entries.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : entries) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = command;
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
    if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, 2);
    pid_t pid = -1;
    const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? pid : -1;
  }
};

Process::Process(const std::vector<std::string>& command, const Environment& environment)
    : pid_(Launch::Start(command, environment, -1, -1)) {}

Process::~Process() {
  if (pid_ > 0 && !exitCode_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::optional<int> Process::WaitForExit(int milliseconds) {
  if (exitCode_ || pid_ <= 0) return exitCode_;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    int raw = 0;
    if (waitpid(pid_, &raw, milliseconds < 0 ? 0 : WNOHANG) == pid_) {
      exitCode_ = StatusOf(raw);
      return exitCode_;
    }
    if (milliseconds >= 0 && std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

RunResult Run(const std::vector<std::string>& command, const Environment& environment) {
  RunResult result;
  int out[2];
  int err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return result;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return result;
  }
  const pid_t pid = Launch::Start(command, environment, out[1], err[1]);
  close(out[1]);
  close(err[1]);
  // Both streams are read as they come, so a program that fills one pipe never waits on the
  // test reading the other.
  pollfd streams[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  std::string* kept[2] = {&result.out, &result.err};
  for (int open = 2; open > 0 && pid > 0;) {
    if (poll(streams, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (streams[i].fd < 0 || streams[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(streams[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        kept[i]->append(buffer, static_cast<size_t>(n));
      } else {
        streams[i].fd = -1;
        --open;
      }
    }
  }
  close(out[0]);
  close(err[0]);
  int raw = 0;
  if (pid > 0 && waitpid(pid, &raw, 0) == pid) result.status = StatusOf(raw);
  return result;
}

RunResult RunShell(const std::string& commandLine, const Environment& environment) {
  return Run({"/bin/sh", "-c", commandLine}, environment);
}

bool HaveTool(const std::string& name) { return RunShell("command -v '" + name + "'").status == 0; }

// --- A private X server ---------------------------------------------------------------------

XvfbServer::~XvfbServer() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
}

bool XvfbServer::Start(int width, int height) {
  int ready[2];
  if (pipe(ready) != 0) return false;
  const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
  const std::string fd = std::to_string(ready[1]);
  const pid_t parent = getpid();
  pid_ = fork();
  if (pid_ == 0) {
    // The server ends with the test process, also when that one never runs
    // its destructors (a server shared by a whole test program, a crash).
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    close(ready[0]);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
           "tcp", "-noreset", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  if (pid_ < 0) {
    close(ready[0]);
    return false;
  }
  // The server writes its display number once it accepts clients.
  std::string number;
  pollfd waitFor{ready[0], POLLIN, 0};
  while (poll(&waitFor, 1, 15000) > 0) {
    char c;
    if (read(ready[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(ready[0]);
  if (number.empty()) return false;
  name_ = ":" + number;
  return true;
}

// --- VOICE clips ----------------------------------------------------------------------------

uint32_t VoiceCapacity(const std::vector<uint8_t>& clip) {
  clipnote::speech::VoiceClip parsed;
  const clipnote::speech::VoiceClipError error = clipnote::speech::ParseVoiceClip(clip.data(), clip.size(), parsed);
  EXPECT_EQ(error, clipnote::speech::VoiceClipError::None) << clipnote::speech::VoiceClipErrorText(error);
  return parsed.pcmCapacity;
}

std::vector<uint8_t> MakeVoiceClip(uint32_t capacity, const std::vector<uint8_t>& frames) {
  std::vector<uint8_t> clip(4 + frames.size());
  for (int i = 0; i < 4; ++i) clip[i] = static_cast<uint8_t>(capacity >> (8 * i));
  std::copy(frames.begin(), frames.end(), clip.begin() + 4);
  return clip;
}

}  // namespace support
