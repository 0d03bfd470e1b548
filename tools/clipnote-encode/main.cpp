#include "tools/clipnote-encode/commands.h"
#include "tools/common/atomic_output.h"
#include "tools/common/command_line.h"

namespace {

constexpr clipnote::tools::Subcommand kCommands[] = {
    {"video",
     "IN.y4m OUT.263 [--quantiser Q] [--bitrate BITS_PER_S | --max-size BYTES] [--gob-headers]\n"
     "                  [--speed thorough|fast] [--reconstruction RECON.y4m] [--force]",
     RunVideoCommand},
    {"speech", "IN.wav OUT.723 [--rate 6.3|5.3] [--no-silence] [--raw] [--force]", RunSpeechCommand},
};

constexpr clipnote::tools::Program kProgram = {
    "clipnote-encode",
    "Encodes pictures into an H.263 clip and speech into a G.723.1 clip, as a message carries them.",
    kCommands,
    "An existing output is replaced only with --force (-y).",
};

}  // namespace

int main(int argc, char** argv) {
  clipnote::tools::RemoveOutputsOnSignal("clipnote-encode");
  return clipnote::tools::RunProgram(kProgram, argc, argv);
}
