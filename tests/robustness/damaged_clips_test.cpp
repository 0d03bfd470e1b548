// The message the executable carries, cut short and with single bits flipped,
// through the real video and speech decoders and through the whole player on
// the fake platform. Whatever the damage, decoding stays inside its buffers and
// ends, what was intact before the damage comes out unchanged, and the player
// closes cleanly. (Under the sanitizer build these runs also prove that no byte
// outside a buffer is touched.)

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "fake_platform/fake_platform.h"
#include "robustness/message_run.h"
#include "support/test_support.h"
#include "video/recon/colour_conversion.h"
#include "video/recon/colour_tables.h"
#include "video/recon/decoder_buffers.h"

using namespace clipnote::h263;

namespace clipnote::testing {
namespace {

std::vector<uint8_t> ReadResource(const char* name) {
  return support::ReadFile(std::string(CLIPNOTE_SOURCE_DIR) + "/resources/" + name);
}

const std::vector<uint8_t>& Movie() {
  static const std::vector<uint8_t> movie = ReadResource("message.263");
  return movie;
}

const std::vector<uint8_t>& Voice() {
  static const std::vector<uint8_t> voice = ReadResource("message.723");
  return voice;
}

uint32_t Prefix(const std::vector<uint8_t>& voice) {
  return voice[0] | voice[1] << 8 | voice[2] << 16 | uint32_t{voice[3]} << 24;
}

std::vector<uint8_t> Flipped(std::vector<uint8_t> bytes, size_t bit) {
  bytes[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
  return bytes;
}

// ---- Video ----------------------------------------------------------------------

struct VideoRun {
  std::vector<uint64_t> pictureHashes;  // of each picture's display image
  std::vector<int64_t> endOffsets;      // reader offset after each picture
};

// Decodes a whole clip as the player does, in exactly sized buffers, with a
// picture count bound that no clip of this size can honestly reach.
VideoRun DecodeVideo(const std::vector<uint8_t>& clip, bool hashPictures) {
  static VideoDecoderBuffers* buffers = [] {
    BuildColourTables();
    return new VideoDecoderBuffers;
  }();
  static std::vector<uint8_t> image(176 * 144 * 3);
  // An exactly sized copy: reading past the clip is a fault the sanitizer sees.
  const std::vector<uint8_t> bytes(clip);
  if (hashPictures) {
    StartVideoClip(*buffers, bytes.data(), bytes.size());
  } else {  // what the buffers held matters only to compared pictures; zeroing costs
    InitVideoDecoder(buffers->currentPicture.data(), buffers->previousPicture.data(),
                     buffers->interpolatedReference.data(), buffers->bitBuffer.data(),
                     kVideoWindowSize, kMemorySource, bytes.data(),
                     static_cast<int64_t>(bytes.size()));
  }
  ProbePictureFormat();
  VideoRun run;
  const size_t bound = 8 * bytes.size() + 2;  // every picture takes at least a bit
  while (DecodePicture() == 0 && videoDecoder.endOfSequence == 0) {
    // (Past the end of the clip the reader counts on over zero bits.)
    run.endOffsets.push_back(VideoReaderOffset());
    if (hashPictures) {
      ConvertToBgr24(buffers->currentPicture.data(), image.data(), 144, 176);
      run.pictureHashes.push_back(HashBytes(image.data(), image.size()));
    }
    if (run.endOffsets.size() > bound) {
      ADD_FAILURE() << "decoding does not end";
      break;
    }
  }
  return run;
}

const VideoRun& IntactVideo() {
  static const VideoRun run = DecodeVideo(Movie(), true);
  return run;
}

// The clip from the start of the picture before the one holding `offset` up to
// `end`: short clips that put the damage wherever the offset says.
std::vector<uint8_t> AroundOffset(const std::vector<uint8_t>& clip, size_t offset, size_t end) {
  const std::vector<int64_t>& starts = IntactVideo().endOffsets;
  size_t from = 0, before = 0;
  for (int64_t start : starts) {
    if (static_cast<size_t>(start) > offset) break;
    before = from;
    from = static_cast<size_t>(start);
  }
  return {clip.begin() + static_cast<std::ptrdiff_t>(before),
          clip.begin() + static_cast<std::ptrdiff_t>(end)};
}

TEST(DamagedVideoTest, TheCarriedClipDecodesWhole) {
  ASSERT_GT(Movie().size(), 10000u);
  EXPECT_GT(IntactVideo().pictureHashes.size(), 100u);
  EXPECT_EQ(IntactVideo().endOffsets.back(), static_cast<int64_t>(Movie().size()));
}

// Cut anywhere, a clip keeps every picture that lay wholly before the cut.
TEST(DamagedVideoTest, CutClipsKeepThePicturesBeforeTheCut) {
  const VideoRun& intact = IntactVideo();
  const size_t size = Movie().size();
  // Every length through the first pictures, then a spread over the whole clip.
  std::vector<size_t> lengths;
  for (size_t length = 0; length < 1200; ++length) lengths.push_back(length);
  for (size_t length = 1200; length < size; length += size / 8 + 1) lengths.push_back(length);
  for (size_t length : lengths) {
    const std::vector<uint8_t> cut(Movie().begin(), Movie().begin() + static_cast<std::ptrdiff_t>(length));
    const VideoRun run = DecodeVideo(cut, true);
    size_t whole = 0;
    while (whole < intact.endOffsets.size() &&
           intact.endOffsets[whole] < static_cast<int64_t>(length)) {
      ++whole;
    }
    ASSERT_GE(run.pictureHashes.size(), whole) << "cut at " << length;
    for (size_t i = 0; i < whole; ++i) {
      ASSERT_EQ(run.pictureHashes[i], intact.pictureHashes[i]) << "cut at " << length;
    }
  }
}

// Cut positions densely over the whole clip, each decoded from a picture or two before it.
TEST(DamagedVideoTest, CutsAllOverTheClipEnd) {
  const size_t size = Movie().size();
  for (size_t end = 1; end < size; end += 47) {
    DecodeVideo(AroundOffset(Movie(), end, end), false);
    if (::testing::Test::HasFailure()) FAIL() << "cut at " << end;
  }
}

TEST(DamagedVideoTest, SingleBitFlipsSpreadOverTheClipDecode) {
  const size_t bits = Movie().size() * 8;
  for (size_t bit = 5; bit < bits; bit += 797) {
    const size_t byte = bit / 8;
    // A few pictures past the damage, where its effects show.
    const size_t end = std::min(Movie().size(), byte + 1200);
    std::vector<uint8_t> clip = AroundOffset(Movie(), byte, end);
    const size_t inClip = byte - (end - clip.size());  // the clip starts at end - size
    DecodeVideo(Flipped(std::move(clip), 8 * inClip + bit % 8), false);
    if (::testing::Test::HasFailure()) FAIL() << "bit " << bit;
  }
  // And the whole clip, with flips at its start, middle and end.
  for (size_t bit : {size_t{40}, bits / 2 + 3, bits - 9}) {
    DecodeVideo(Flipped(Movie(), bit), false);
    EXPECT_FALSE(::testing::Test::HasFailure()) << "bit " << bit;
  }
}

// ---- Speech ---------------------------------------------------------------------

struct SpeechRun {
  uint32_t pcmBytes = 0;
  uint32_t readTo = 0;
};

// Decodes a VOICE clip as the player does, into an exactly sized output area
// of the prefix's size. A prefix larger than even one-byte frames could fill is
// lowered to that: zeroing the area would cost more than the decoding.
SpeechRun DecodeSpeech(const std::vector<uint8_t>& clip) {
  static speech::AudioDecoder* decoder = [] {
    auto* created = new speech::AudioDecoder;
    EXPECT_TRUE(created->Create());
    return created;
  }();
  SpeechRun run;
  if (clip.size() <= 4) return run;
  const uint64_t wanted = uint64_t{Prefix(clip)} + 480;
  const uint64_t fillable = 480 * uint64_t{clip.size() - 4} + 480;
  std::vector<uint8_t> pcm(std::min(wanted, fillable));
  const std::vector<uint8_t> coded(clip.begin() + 4, clip.end());
  decoder->Reset(speech::Rate::Rate53);
  const speech::VoiceDecodeResult result =
      DecodeVoiceClip(*decoder, static_cast<uint32_t>(coded.size()), coded.data(), pcm.data(),
                      static_cast<uint32_t>(pcm.size()), run.readTo);
  EXPECT_EQ(result.pcmBytes % 480, 0u);
  EXPECT_LE(result.pcmBytes, pcm.size());
  EXPECT_LE(run.readTo, coded.size());
  EXPECT_FALSE(result.aborted);
  run.pcmBytes = result.pcmBytes;
  return run;
}

// Offsets in the clip (prefix included) where its frames start.
const std::vector<size_t>& FrameStarts() {
  static const std::vector<size_t> starts = [] {
    speech::AudioDecoder decoder;
    EXPECT_TRUE(decoder.Create());
    std::vector<size_t> found;
    const uint32_t coded = static_cast<uint32_t>(Voice().size() - 4);
    uint32_t offset = 0;
    while (offset < coded) {
      found.push_back(offset + 4);
      decoder.TakeFrame(Voice().data() + 4, coded, offset);
    }
    decoder.Release();
    return found;
  }();
  return starts;
}

// Where the frame two before the one holding `offset` starts.
size_t SpeechStartBefore(size_t offset) {
  size_t from = 4;
  const std::vector<size_t>& starts = FrameStarts();
  for (size_t i = 0; i < starts.size() && starts[i] <= offset; ++i) {
    from = starts[i >= 2 ? i - 2 : 0];
  }
  return from;
}

// The prefix, then the frames from two before the one holding `offset` up to `end`.
std::vector<uint8_t> SpeechAround(const std::vector<uint8_t>& clip, size_t offset, size_t end) {
  std::vector<uint8_t> clipped(clip.begin(), clip.begin() + 4);
  clipped.insert(clipped.end(), clip.begin() + static_cast<std::ptrdiff_t>(SpeechStartBefore(offset)),
                 clip.begin() + static_cast<std::ptrdiff_t>(end));
  return clipped;
}

std::vector<uint8_t> WithPrefix(const std::vector<uint8_t>& clip, uint32_t reserved) {
  return support::MakeVoiceClip(reserved, {clip.begin() + 4, clip.end()});
}

TEST(DamagedSpeechTest, EveryCutPositionDecodesTheFramesBeforeIt) {
  const size_t size = Voice().size();
  ASSERT_GT(FrameStarts().size(), 100u);
  for (size_t end = 5; end < size; ++end) {
    const size_t from = SpeechStartBefore(end - 1);
    const SpeechRun run = DecodeSpeech(SpeechAround(Voice(), end - 1, end));
    // Every frame that was begun gives its samples, the cut one concealed.
    size_t begun = 0;
    for (size_t start : FrameStarts()) {
      if (start >= from && start < end) ++begun;
    }
    ASSERT_EQ(run.pcmBytes, 480 * begun) << "cut at " << end;
    if (::testing::Test::HasFailure()) FAIL() << "cut at " << end;
  }
}

TEST(DamagedSpeechTest, CutClipsFromTheStartDecode) {
  const size_t size = Voice().size();
  for (size_t length = 0; length <= size; length += length < 600 ? 1 : 997) {
    DecodeSpeech({Voice().begin(), Voice().begin() + static_cast<std::ptrdiff_t>(length)});
    if (::testing::Test::HasFailure()) FAIL() << "cut at " << length;
  }
}

TEST(DamagedSpeechTest, SingleBitFlipsSpreadOverTheClipDecode) {
  const size_t bits = Voice().size() * 8;
  for (size_t bit = 32; bit < bits; bit += 53) {
    const size_t byte = bit / 8;
    const size_t from = SpeechStartBefore(byte);
    std::vector<uint8_t> clip = SpeechAround(Voice(), byte, std::min(Voice().size(), byte + 200));
    DecodeSpeech(Flipped(std::move(clip), 8 * (4 + byte - from) + bit % 8));
    if (::testing::Test::HasFailure()) FAIL() << "bit " << bit;
  }
  for (size_t bit : {size_t{40}, bits / 2 + 1, bits - 3}) {
    DecodeSpeech(Flipped(Voice(), bit));
    EXPECT_FALSE(::testing::Test::HasFailure()) << "bit " << bit;
  }
}

// A prefix too small for the frames: decoding stops at the last whole frame
// that fits the area it sizes, and never writes past it.
TEST(DamagedSpeechTest, PrefixesTooSmallForTheFramesBoundTheOutput) {
  for (uint32_t reserved : {0u, 1u, 479u, 480u, 481u, 4800u, 100000u}) {
    const SpeechRun run = DecodeSpeech(WithPrefix(Voice(), reserved));
    EXPECT_EQ(run.pcmBytes, (reserved + 480) / 480 * 480) << reserved;
  }
}

// ---- The whole player -------------------------------------------------------------

// The first seconds of the carried message (its first 40 pictures, found by
// their byte-aligned start codes): the player runs take real time for every
// picture.
std::vector<uint8_t> MovieStart() {
  const std::vector<uint8_t>& movie = Movie();
  size_t end = 0;
  for (int pictures = 0; end + 2 < movie.size(); ++end) {
    const bool startCode = movie[end] == 0 && movie[end + 1] == 0 && (movie[end + 2] & 0xFC) == 0x80;
    if (startCode && pictures++ == 40) break;
  }
  return {movie.begin(), movie.begin() + static_cast<std::ptrdiff_t>(end)};
}

std::vector<uint8_t> VoiceStart() {
  std::vector<uint8_t> voice(Voice().begin(), Voice().begin() + 1500);
  return voice;
}

TEST(DamagedMessageTest, ThePlayerEndsCleanlyOnDamagedClips) {
  const std::vector<uint8_t> movie = MovieStart();
  const std::vector<uint8_t> voice = VoiceStart();
  ASSERT_TRUE(PlayMessage(movie, voice).Clean());

  auto cut = [](const std::vector<uint8_t>& clip, size_t length) {
    return std::vector<uint8_t>(clip.begin(), clip.begin() + static_cast<std::ptrdiff_t>(length));
  };
  struct Case {
    const char* what;
    std::vector<uint8_t> movie, voice;
  };
  std::vector<Case> cases = {
      {"video cut in its first picture", cut(movie, 301), voice},
      {"video cut mid-clip", cut(movie, movie.size() / 2 + 7), voice},
      {"video of a few bytes", cut(movie, 3), voice},
      {"speech cut inside its prefix", movie, cut(voice, 3)},
      {"speech cut inside a frame", movie, cut(voice, 777)},
      {"speech prefix too small for its frames", movie, WithPrefix(voice, 960)},
      {"speech prefix of nothing", movie, WithPrefix(voice, 0)},
      {"speech prefix beyond any reservation", movie, WithPrefix(voice, 0xFFFFFFFFu)},
      {"speech prefix too large to reserve", movie, WithPrefix(voice, 0xFFFFFBFFu)},
      {"speech prefix of 2 GiB", movie, WithPrefix(voice, 0x80000000u)},
      {"both cut", cut(movie, 1000), cut(voice, 50)},
  };
  for (size_t bit : {size_t{3}, size_t{37}, size_t{211}, movie.size() * 4 + 1, movie.size() * 8 - 2}) {
    cases.push_back({"video bit flipped", Flipped(movie, bit), voice});
  }
  for (size_t bit : {size_t{33}, size_t{100}, voice.size() * 4 + 5, voice.size() * 8 - 1}) {
    cases.push_back({"speech bit flipped", movie, Flipped(voice, bit)});
  }
  for (const Case& c : cases) {
    const MessageRunOutcome outcome = PlayMessage(c.movie, c.voice);
    EXPECT_TRUE(outcome.Clean()) << c.what << ": deadlocked " << outcome.deadlocked << ", threads "
                                 << outcome.liveThreads << ", closed " << outcome.windowClosed;
  }
}

}  // namespace
}  // namespace clipnote::testing
