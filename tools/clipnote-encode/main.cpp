#include <cstdio>
#include <cstring>

#include "tools/clipnote-decode/atomic_output.h"
#include "tools/clipnote-encode/commands.h"

namespace {

void PrintUsage() {
  std::fprintf(stderr,
               "usage:\n"
               "  clipnote-encode video IN.y4m OUT.263 [--quantiser Q] [--bitrate BITS_PER_S | --max-size BYTES]\n"
               "                  [--gob-headers] [--speed thorough|fast] [--reconstruction RECON.y4m]\n"
               "  clipnote-encode speech IN.wav OUT.723 [--rate 6.3|5.3] [--no-silence] [--raw]\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage();
    return 2;
  }
  const char* command = argv[1];
  clipnote::tools::RemoveOutputsOnSignal("clipnote-encode");
  if (std::strcmp(command, "video") == 0) return RunVideoCommand(argc - 1, argv + 1);
  if (std::strcmp(command, "speech") == 0) return RunSpeechCommand(argc - 1, argv + 1);
  PrintUsage();
  return 2;
}
