#include <cstdio>
#include <cstring>

#include "tools/common/atomic_output.h"
#include "tools/clipnote-decode/commands.h"

namespace {

void PrintUsage() {
  std::fprintf(stderr,
               "usage:\n"
               "  clipnote-decode video IN.263|MESSAGE.exe OUT.y4m|OUT.yuv [--verbose]\n"
               "  clipnote-decode audio IN.723|IN.tco|MESSAGE.exe OUT.wav [--voice|--raw]\n"
               "  clipnote-decode info FILE [--json] [--voice|--raw]\n"
               "  clipnote-decode extract MESSAGE.exe DIR\n"
               "  clipnote-decode export MESSAGE OUT.mp4|OUT.webm|OUT.mkv [--force]\n"
               "  clipnote-decode html MESSAGE OUT.html\n"
               "  clipnote-decode pack MOVIE.263 [VOICE.723] OUT.exe [--logo BMP] [--sound WAV] [--template EXE]\n"
               "  clipnote-decode bench video|audio FILE [--repeat N]\n"
               "A .723 file is a VOICE clip (4-byte PCM-capacity prefix, then frames), a .tco or\n"
               ".g723 file a raw G.723.1 frame stream; --voice and --raw say which, whatever the name.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage();
    return 2;
  }
  const char* command = argv[1];
  clipnote::tools::RemoveOutputsOnSignal("clipnote-decode");
  if (std::strcmp(command, "video") == 0) return RunVideoCommand(argc - 1, argv + 1);
  if (std::strcmp(command, "audio") == 0) return RunAudioCommand(argc - 1, argv + 1);
  if (std::strcmp(command, "bench") == 0) return RunBenchCommand(argc - 1, argv + 1);
  if (std::strcmp(command, "extract") == 0) return RunExtractCommand(argc - 1, argv + 1);
  if (std::strcmp(command, "info") == 0) return RunInfoCommand(argc - 1, argv + 1);
  if (std::strcmp(command, "export") == 0) return RunExportCommand(argc - 1, argv + 1);
  if (std::strcmp(command, "html") == 0) return RunHtmlCommand(argc - 1, argv + 1);
  if (std::strcmp(command, "pack") == 0) return RunPackCommand(argc - 1, argv + 1);
  PrintUsage();
  return 2;
}
