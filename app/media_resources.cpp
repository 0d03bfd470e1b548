#include "app/media_resources.h"

#include "app/fatal_report.h"

namespace clipnote {

namespace {

void Warn(Platform& os, const char* text, const char* caption) {
  os.MessageBoxA(nullptr, text, caption, kMbIconWarning | kMbSetForeground);
}

}  // namespace

LockedClip LocateVideoClip(Platform& os) {
  const Hrsrc found = os.FindResourceA(nullptr, kVideoClipName, kVideoClipType);
  if (found == nullptr) RaiseStartupFailure(os, kVideoNotFoundText);
  LockedClip clip;
  clip.size = os.SizeofResource(nullptr, found);
  if (clip.size == 0) Warn(os, kAudioOnlyText, kAudioOnlyCaption);
  const Hglobal loaded = os.LoadResource(nullptr, found);
  if (loaded == nullptr) RaiseStartupFailure(os, kVideoNotLoadedText);
  clip.data = static_cast<const uint8_t*>(os.LockResource(loaded));
  if (clip.data == nullptr) RaiseStartupFailure(os, kVideoNotLockedText);
  return clip;
}

LockedClip LocateAudioClip(Platform& os, std::atomic<int>& audioAbsent) {
  const Hrsrc found = os.FindResourceA(nullptr, kAudioClipName, kAudioClipType);
  if (found == nullptr) RaiseStartupFailure(os, kAudioNotFoundText);
  const Hglobal loaded = os.LoadResource(nullptr, found);
  if (loaded == nullptr) RaiseStartupFailure(os, kAudioNotLoadedText);
  LockedClip clip;
  clip.size = os.SizeofResource(nullptr, found);
  // A clip too short for its prefix carries no speech either.
  const bool noFrames = clip.size <= kAudioPrefixBytes;
  if (noFrames) {
    audioAbsent = 1;
    Warn(os, kVideoOnlyText, kVideoOnlyCaption);
  }
  clip.data = static_cast<const uint8_t*>(os.LockResource(loaded));
  if (clip.data == nullptr) RaiseStartupFailure(os, kAudioNotLockedText);
  return clip;
}

}  // namespace clipnote
