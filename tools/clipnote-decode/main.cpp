#include "tools/clipnote-decode/commands.h"
#include "tools/common/atomic_output.h"
#include "tools/common/command_line.h"

namespace {

constexpr clipnote::tools::Subcommand kCommands[] = {
    {"video", "IN.263|MESSAGE.exe OUT.y4m|OUT.yuv [--verbose] [--force]", RunVideoCommand},
    {"audio", "IN.723|IN.tco|MESSAGE.exe OUT.wav [--voice|--raw] [--force]", RunAudioCommand},
    {"info", "FILE [--json] [--voice|--raw]", RunInfoCommand},
    {"extract", "MESSAGE.exe DIR [--force]", RunExtractCommand},
    {"export", "MESSAGE OUT.mp4|OUT.webm|OUT.mkv [--force] [--quiet]", RunExportCommand},
    {"html", "MESSAGE OUT.html [--force]", RunHtmlCommand},
    {"pack", "MOVIE.263 [VOICE.723] OUT.exe [--logo BMP] [--sound WAV] [--template EXE] [--force]", RunPackCommand},
    {"bench", "video|audio FILE [--repeat N]", RunBenchCommand},
};

constexpr clipnote::tools::Program kProgram = {
    "clipnote-decode",
    "Decodes, inspects, extracts, converts and packs Clipnote messages and their clips.",
    kCommands,
    "A .723 file is a VOICE clip (4-byte PCM-capacity prefix, then frames), a .tco or\n"
    ".g723 file a raw G.723.1 frame stream; --voice and --raw say which, whatever the name.\n"
    "An existing output is replaced only with --force (-y).",
};

}  // namespace

int main(int argc, char** argv) {
  clipnote::tools::RemoveOutputsOnSignal("clipnote-decode");
  return clipnote::tools::RunProgram(kProgram, argc, argv);
}
