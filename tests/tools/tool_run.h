#pragma once

// Runs a command line as a person would and keeps what it printed (standard
// output and standard error together) and its exit status.

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct ToolRun {
  int status = -1;
  std::string output;
};

inline ToolRun RunCommandLine(const std::string& commandLine) {
  std::FILE* pipe = popen((commandLine + " 2>&1").c_str(), "r");
  ToolRun run;
  if (pipe == nullptr) return run;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}
