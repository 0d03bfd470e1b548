// The player's whole speech preparation for the default message: PrepareAudio on the
// native platform, exactly as the preparation thread runs it (the WavImage allocated
// zeroed from the clip's prefix, the clip decoded into it with the stop request polled
// before every frame, the header written). Each iteration frees the image again.

#include <benchmark/benchmark.h>

#include "app/audio_track.h"
#include "app/message_player.h"
#include "platform/gtk/gtk_platform.h"

namespace {

void PrepareWavImage(benchmark::State& state) {
  clipnote::gtk::GtkPlatform os;
  clipnote::MessagePlayer player(os);
  // The stop request the preparation polls: present and never set, as in a normal run.
  player.events.prepAbortEvent = os.CreateEventA(true, false);
  uint32_t dataBytes = 0;
  for (auto _ : state) {
    clipnote::PrepareAudio(player);
    if (!player.audioReady) {
      state.SkipWithError("the speech was not prepared");
      break;
    }
    const uint8_t* image = player.wavImage;
    dataBytes = static_cast<uint32_t>(image[40] | image[41] << 8 | image[42] << 16 | image[43] << 24);
    os.GlobalFree(player.wavImage.exchange(nullptr));
    player.audioReady = false;
  }
  state.counters["pcm_bytes"] = dataBytes;
  os.CloseHandle(player.events.prepAbortEvent);
  player.events.prepAbortEvent = nullptr;
}
BENCHMARK(PrepareWavImage)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
