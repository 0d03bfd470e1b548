#include "video/parser/bit_reader.h"

#include <cstring>

namespace clipnote::h263 {

namespace {

VideoDecoder& d = videoDecoder;

// Window used when the caller gives no usable buffer: an empty source that reads as zeros.
constexpr int32_t kFallbackWindow = 4;
uint8_t fallbackBuffer[2 * kFallbackWindow];

// The first bytes a file source gives, kept so that RestartSource can start it again after
// its first window has advanced (a window too small for a picture header's fields): the
// first window is loaded from here, and what was read past it is given again before the
// file is read on. `headLength` counts every byte read from the file while they all fit;
// past kHeadBytes nothing more is kept and the source can no longer be started again.
constexpr int32_t kHeadBytes = 64;
uint8_t head[kHeadBytes];
int32_t headLength = 0;
bool headComplete = true;
int32_t replayAt = 0;   // the next kept byte to give again
int32_t replayEnd = 0;  // the end of the kept bytes still to give again

// Fills `count` bytes at `dest` from the memory source starting at clip offset `offset`;
// whatever lies past the end of the clip reads as zero.
void CopyFromClip(uint8_t* dest, int64_t offset, int32_t count) {
  int64_t available = d.sourceLength - offset;
  if (available < 0) available = 0;
  const int32_t taken = available < count ? static_cast<int32_t>(available) : count;
  if (taken > 0) std::memcpy(dest, d.source + offset, static_cast<size_t>(taken));
  std::memset(dest + taken, 0, static_cast<size_t>(count - taken));
}

// Fills `count` bytes at `dest` from the file source; bytes a short read leaves out read as
// zero rather than as stale buffer contents.
void ReadFromFile(uint8_t* dest, int32_t count) {
  int32_t got = 0;
  while (got < count && replayAt < replayEnd) dest[got++] = head[replayAt++];
  if (d.fileSource.read != nullptr) {
    while (got < count) {
      const int32_t n = d.fileSource.read(d.fileSource.handle, dest + got, count - got);
      if (n <= 0 || n > count - got) break;
      if (headComplete && headLength + n <= kHeadBytes) {
        std::memcpy(head + headLength, dest + got, static_cast<size_t>(n));
        headLength += n;
      } else {
        headComplete = false;
      }
      got += n;
    }
  }
  std::memset(dest + got, 0, static_cast<size_t>(count - got));
}

}  // namespace

void SetBitSource(int32_t sourceMode, int32_t windowSize, const void* source, int64_t sourceLength,
                  uint8_t* bitBuffer) {
  d.sourceMode = sourceMode;
  d.source = nullptr;
  d.fileSource = BitFileSource{nullptr, nullptr};
  d.sourceLength = 0;
  headLength = 0;
  headComplete = true;
  replayAt = replayEnd = 0;
  if (sourceMode == kMemorySource) {
    d.source = static_cast<const uint8_t*>(source);
    d.sourceLength = (d.source != nullptr && sourceLength > 0) ? sourceLength : 0;
  } else if (source != nullptr) {
    d.fileSource = *static_cast<const BitFileSource*>(source);
  }
  if (bitBuffer == nullptr || windowSize < kFallbackWindow) {
    // Nothing safe to read into: behave as an empty memory source.
    d.sourceMode = kMemorySource;
    d.source = nullptr;
    d.sourceLength = 0;
    bitBuffer = fallbackBuffer;
    windowSize = kFallbackWindow;
  }
  d.bitBuffer = bitBuffer;
  d.windowSize = windowSize;
  d.windowStart = bitBuffer;
  SetBitPosition(0);
  LoadFirstWindow();
  d.refillAt = windowSize - 3;
  d.windowSlot[0] = bitBuffer;
  d.windowSlot[1] = bitBuffer + windowSize;
  // The first window lives in slot 0 when it had to be copied into the bit buffer.
  d.currentSlot = 0;
}

void LoadFirstWindow() {
  if (d.sourceMode == kMemorySource) {
    d.streamOffset = d.windowSize;
    if (d.sourceLength >= d.windowSize) {
      d.windowStart = d.source;
    } else {
      // The clip is shorter than a window: read it from a zero-padded copy.
      CopyFromClip(d.bitBuffer, 0, d.windowSize);
      d.windowStart = d.bitBuffer;
    }
  } else {
    d.streamOffset = d.windowSize;
    ReadFromFile(d.bitBuffer, d.windowSize);
    d.windowStart = d.bitBuffer;
  }
}

void AdvanceWindow() {
  const int32_t other = 1 - d.currentSlot;
  const int32_t unread = d.windowSize - d.bytePos;
  if (d.sourceMode == kMemorySource) {
    // Clip offset of the new window's first byte.
    const int64_t start = d.streamOffset - unread;
    d.streamOffset += d.bytePos;
    if (d.streamOffset <= d.sourceLength) {
      d.windowSlot[other] = d.source + start;  // the whole window lies inside the clip
    } else {
      // The window would run past the clip: read its tail from a zero-padded copy in the bit
      // buffer. The unread bytes are copied out of the old window first (they may live in the
      // other half of the bit buffer), then the clip is read from where they end.
      uint8_t* slot = d.bitBuffer + other * d.windowSize;
      std::memmove(slot, d.windowStart + d.bytePos, static_cast<size_t>(unread));
      CopyFromClip(slot + unread, start + unread, d.bytePos);
      d.windowSlot[other] = slot;
    }
  } else {
    uint8_t* slot = d.bitBuffer + other * d.windowSize;
    std::memcpy(slot, d.windowStart + d.bytePos, static_cast<size_t>(unread));
    ReadFromFile(slot + unread, d.bytePos);
    d.streamOffset += d.bytePos;
    d.windowSlot[other] = slot;
  }
  d.currentSlot = other;
  d.windowStart = d.windowSlot[other];
  d.bytePos = 0;
  d.bitPos = d.bitInByte;
}

void SkipBitsAcrossWindow(int32_t n) {
  int32_t pos = d.bitPos + n;
  // The window advances exactly where bit-by-bit reading would have advanced it.
  while ((pos >> 3) >= d.refillAt) {
    SetBitPosition(d.refillAt * 8);
    AdvanceWindow();
    pos -= d.refillAt * 8;
  }
  SetBitPosition(pos);
}

int32_t PeekBits(int32_t offset, int32_t n) {
  const int32_t p = d.bitPos + offset;
  const int32_t b = p & 7;
  const int32_t i = p >> 3;
  const int32_t s = 8 - n - b;
  const uint32_t mask = (1u << n) - 1;
  if (s >= 0) return static_cast<int32_t>((d.windowStart[i] >> s) & mask);
  const int32_t k = -s;
  const uint32_t high = (d.windowStart[i] & (mask >> k)) << k;
  const uint32_t low = static_cast<uint32_t>(d.windowStart[i + 1]) >> (8 - k);
  return static_cast<int32_t>(high | low);
}

void AlignToByte() {
  if (d.bitInByte > 0) ReadBits(8 - d.bitInByte);
}

void RewindWindow() { SetBitPosition(0); }

void RestartSource() {
  if (d.sourceMode == kMemorySource) {
    SetBitSource(kMemorySource, d.windowSize, d.source, d.sourceLength, d.bitBuffer);
  } else if (d.streamOffset != d.windowSize && headComplete) {
    // The first window has advanced: load it again from the kept bytes, and give what was
    // read past it again before reading the file on, as a fresh start would read it.
    const int32_t kept = headLength < d.windowSize ? headLength : d.windowSize;
    std::memcpy(d.bitBuffer, head, static_cast<size_t>(kept));
    std::memset(d.bitBuffer + kept, 0, static_cast<size_t>(d.windowSize - kept));
    replayAt = kept;
    replayEnd = headLength;
    d.streamOffset = d.windowSize;
    d.windowStart = d.bitBuffer;
    d.windowSlot[0] = d.bitBuffer;
    d.windowSlot[1] = d.bitBuffer + d.windowSize;
    d.currentSlot = 0;
    SetBitPosition(0);
  } else {
    RewindWindow();
  }
}

int64_t BitsConsumed() { return (d.streamOffset - d.windowSize) * 8 + d.bitPos; }

}  // namespace clipnote::h263
