#pragma once

// Sound output through ALSA's default playback device.

#include "platform/gtk/sound_player.h"

namespace clipnote::gtk {

class AlsaPcmDevice : public PcmDevice {
 public:
  AlsaPcmDevice();
  std::unique_ptr<PcmStream> Open(const WaveSound& format) override;
};

}  // namespace clipnote::gtk
