#pragma once

// Sound output through ALSA's default playback device.

#include <atomic>

#include "platform/gtk/sound_player.h"

namespace clipnote::gtk {

// Where there is no usable device the player plays without sound, and says so
// once on standard error.
class AlsaPcmDevice : public PcmDevice {
 public:
  AlsaPcmDevice();
  std::unique_ptr<PcmStream> Open(const WaveSound& format) override;

 private:
  void SayNoSound(int error);
  std::atomic<bool> saidNoSound_{false};
};

}  // namespace clipnote::gtk
