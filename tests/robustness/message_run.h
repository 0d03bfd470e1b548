#pragma once

// Plays a message made of the given clips on the fake platform with the real
// decoders, the way a user who only opens and closes the window would: the
// playback starts by itself, and once everything has settled the window is
// closed. Tells how the run ended, so that damaged clips can be checked to end
// as cleanly as intact ones.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "app/message_player.h"
#include "app/player_main.h"
#include "fake_platform/fake_platform.h"

namespace clipnote::testing {

struct MessageRunOutcome {
  int result = 0;                     // PlayerWinMain's; meaningful when no exit came
  std::optional<uint32_t> exitCode;   // the process was ended (a fatal report)
  bool deadlocked = false;            // every thread waited with nothing left to happen
  size_t liveThreads = 0;             // threads still running once the run was over
  size_t messageBoxes = 0;
  bool windowClosed = false;          // the dialog ended

  // A run that ended as the player means it to: the window closed with every
  // thread finished, or a start-up failure reported and the process ended.
  bool Clean() const {
    if (deadlocked || liveThreads != 0) return false;
    return exitCode.has_value() ? messageBoxes > 0 : result == 0 && windowClosed;
  }
};

inline MessageRunOutcome PlayMessage(const std::vector<uint8_t>& movie,
                                     const std::vector<uint8_t>& voice) {
  MessageRunOutcome outcome;
  FakePlatform fake;
  fake.SkipImageHashes();  // only how the run ends is looked at
  fake.SetResource("#263", "MOVIE", movie);
  fake.SetResource("#723", "VOICE", voice);
  fake.SetResource("WAVE", "#150", std::vector<uint8_t>(64, 0));
  std::unique_ptr<MessagePlayer> player;
  try {
    player = std::make_unique<MessagePlayer>(fake);
    fake.WhenIdle([&fake] { fake.PostClose(); });
    outcome.result = PlayerWinMain(*player, reinterpret_cast<Hinstance>(0x400000));
  } catch (const FakeProcessExit&) {
  } catch (const FakeAbandon&) {
  }
  // After a process exit, a thread busy decoding stops only at its next call
  // into the platform; the player's buffers must outlive it.
  for (int waited = 0; fake.LiveThreads() != 0 && waited < 20000; ++waited) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  outcome.exitCode = fake.ExitCode();
  outcome.deadlocked = fake.Deadlocked();
  outcome.liveThreads = fake.LiveThreads();
  outcome.messageBoxes = fake.MessageBoxes().size();
  const std::vector<std::string> calls = fake.Calls();
  outcome.windowClosed = !calls.empty() && calls.back() == "EndDialog";
  // A thread that never stopped still uses the player: leave it be.
  if (outcome.liveThreads != 0) (void)player.release();
  return outcome;
}

}  // namespace clipnote::testing
