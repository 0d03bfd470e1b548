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
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "audio/voice_clip.h"

extern char** environ;

namespace support {

namespace fs = std::filesystem;

namespace {

// A test case's or suite's folder: the name ('/' of a parameterised case made '_') and the pid.
fs::path FolderFor(std::string name) {
  std::replace(name.begin(), name.end(), '/', '_');
  return fs::path(CLIPNOTE_BINARY_DIR) / "tests" / "scratch" / (name + "." + std::to_string(getpid()));
}

void Finish(const fs::path& folder, bool passed) {
  std::error_code ignored;
  if (!fs::exists(folder, ignored)) return;
  const char* keep = std::getenv("CLIPNOTE_KEEP_SCRATCH");
  if (passed && (keep == nullptr || *keep == '\0' || std::strcmp(keep, "0") == 0)) {
    fs::remove_all(folder, ignored);
  } else {
    std::printf("[ scratch  ] kept in %s\n", folder.c_str());
  }
}

class ScratchCleaner : public testing::EmptyTestEventListener {
  void OnTestEnd(const testing::TestInfo& test) override {
    Finish(FolderFor(std::string(test.test_suite_name()) + "." + test.name()), !test.result()->Failed());
  }
  void OnTestSuiteEnd(const testing::TestSuite& suite) override {
    Finish(FolderFor(suite.name()), !suite.Failed() && !suite.ad_hoc_test_result().Failed());
  }
};

// In every test program that uses a scratch folder, before its first test.
[[maybe_unused]] const bool registered = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new ScratchCleaner);
  return true;
}();

int StatusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1; }

// Starts a program with the test's environment and the additions, its standard output and
// error into the descriptors given (-1: the test's own).
pid_t Spawn(std::vector<std::string> command, const Environment& environment, int out = -1, int err = -1) {
  std::vector<std::string> entries;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string text(*entry);
    if (environment.count(text.substr(0, text.find('='))) == 0) entries.push_back(text);
  }
  for (const auto& [key, value] : environment) entries.push_back(key + "=" + value);
  std::vector<char*> argv, envp;
  for (std::string& word : command) argv.push_back(word.data());
  for (std::string& entry : entries) envp.push_back(entry.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
  if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, 2);
  pid_t pid = -1;
  const bool started = !command.empty() && posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) == 0;
  posix_spawn_file_actions_destroy(&actions);
  return started ? pid : -1;
}

std::string Rewound(std::FILE* file) {
  std::string text;
  std::rewind(file);
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  std::fclose(file);
  return text;
}

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

Process::Process(const std::vector<std::string>& command, const Environment& environment)
    : pid_(Spawn(command, environment)) {}

Process::~Process() {
  if (pid_ > 0 && !exitCode_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

std::optional<int> Process::WaitForExit(int milliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  for (int raw = 0; !exitCode_ && pid_ > 0;) {
    if (waitpid(pid_, &raw, milliseconds < 0 ? 0 : WNOHANG) == pid_) {
      exitCode_ = StatusOf(raw);
    } else if (std::chrono::steady_clock::now() >= end) {
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return exitCode_;
}

RunResult Run(const std::vector<std::string>& command, const Environment& environment) {
  // The streams go to unnamed files, which never fill up and make a program wait.
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  RunResult result;
  int raw = 0;
  const pid_t pid = out && err ? Spawn(command, environment, fileno(out), fileno(err)) : -1;
  if (pid > 0 && waitpid(pid, &raw, 0) == pid) result.status = StatusOf(raw);
  if (out) result.out = Rewound(out);
  if (err) result.err = Rewound(err);
  return result;
}

RunResult RunShell(const std::string& commandLine, const Environment& environment) {
  return Run({"/bin/sh", "-c", commandLine}, environment);
}

bool HaveTool(const std::string& name) { return RunShell("command -v '" + name + "'").status == 0; }

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
    // The server ends with the test process, also when that one never runs its destructors
    // (a server shared by a whole test program, a crash).
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    close(ready[0]);
    const int null = open("/dev/null", O_RDWR);
    for (int stream = 0; stream < 3; ++stream) dup2(null, stream);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp", "-noreset",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ready[1]);
  // The server writes its display number once it accepts clients.
  std::string number;
  pollfd waitFor{ready[0], POLLIN, 0};
  for (char c; pid_ > 0 && poll(&waitFor, 1, 15000) > 0 && read(ready[0], &c, 1) == 1 && c != '\n';) number += c;
  close(ready[0]);
  name_ = ":" + number;
  return !number.empty();
}

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

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
  return hash;
}

bool RunningInCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && *ci != '\0' && std::strcmp(ci, "0") != 0 && std::strcmp(ci, "false") != 0;
}

SmallFilesystem::SmallFilesystem(const std::string& directory, int kilobytes, const std::string& options)
    : directory_(directory) {
  mounted_ = RunShell("mount -t tmpfs -o size=" + std::to_string(kilobytes) + "k" + (options.empty() ? "" : "," + options) +
                      " clipnote-test '" + directory + "'")
                 .status == 0;
}

SmallFilesystem::~SmallFilesystem() {
  if (mounted_) RunShell("umount '" + directory_ + "'");
}

}  // namespace support
