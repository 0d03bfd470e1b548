// clipnote-encode speech run as a user runs it: a WAV of the one format it takes becomes the
// VOICE clip (or, with --raw, the bare frames) that the library encoder makes of the same
// samples, and anything else is refused with the reason, leaving no output behind.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "speech_encoder/encoder_inputs.h"
#include "support/test_support.h"

namespace clipnote::speech {

namespace {

using namespace test_inputs;

const std::string kTool = std::string(CLIPNOTE_BINARY_DIR) + "/tools/clipnote-encode/clipnote-encode";

void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void PutChunk(std::vector<uint8_t>& out, const char* id, const std::vector<uint8_t>& body) {
  out.insert(out.end(), id, id + 4);
  Put32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  if (body.size() & 1) out.push_back(0);
}

struct WavFormat {
  uint16_t format = 1;
  uint16_t channels = 1;
  uint32_t rate = 8000;
  uint16_t bits = 16;
};

std::vector<uint8_t> FormatChunk(const WavFormat& f) {
  std::vector<uint8_t> body;
  Put16(body, f.format);
  Put16(body, f.channels);
  Put32(body, f.rate);
  Put32(body, f.rate * f.channels * f.bits / 8);
  Put16(body, static_cast<uint16_t>(f.channels * f.bits / 8));
  Put16(body, f.bits);
  return body;
}

std::vector<uint8_t> Pcm(const std::vector<int16_t>& samples) {
  std::vector<uint8_t> out;
  for (int16_t s : samples) Put16(out, static_cast<uint16_t>(s));
  return out;
}

// A RIFF/WAVE file of the given chunks (each an id and its body), in that order.
std::vector<uint8_t> Wav(const std::vector<std::pair<const char*, std::vector<uint8_t>>>& chunks) {
  std::vector<uint8_t> body = {'W', 'A', 'V', 'E'};
  for (const auto& [id, bytes] : chunks) PutChunk(body, id, bytes);
  std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
  Put32(out, static_cast<uint32_t>(body.size()));
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

std::vector<uint8_t> SpeechWav(const std::vector<int16_t>& samples) {
  return Wav({{"fmt ", FormatChunk({})}, {"LIST", {'I', 'N', 'F', 'O', 0}}, {"data", Pcm(samples)}});
}

TEST(SpeechCommand, WritesWhatTheEncoderMakesOfTheWav) {
  const std::vector<int16_t> input = WithPauses(Hello(), 8000, 30);
  const std::string wav = support::WriteFile(support::Scratch("in.wav"), SpeechWav(input));
  struct Case {
    std::vector<std::string> options;
    Rate rate;
    bool silence;
    bool raw;
    bool shaping = false;
  };
  for (const Case& c : {Case{{}, Rate::Rate63, true, false},
                        Case{{"--rate", "5.3", "--raw"}, Rate::Rate53, true, true},
                        Case{{"--no-silence", "--rate", "6.3"}, Rate::Rate63, false, false},
                        Case{{"--noise-shaping", "--raw"}, Rate::Rate63, true, true, true}}) {
    const std::string out = support::Scratch("out.723");
    std::vector<std::string> command = {kTool, "speech", wav, out, "-y"};  // over the case before's
    command.insert(command.end(), c.options.begin(), c.options.end());
    const support::RunResult run = support::Run(command);
    const std::string name = testing::PrintToString(c.options);
    ASSERT_EQ(run.status, 0) << name << run.Output();
    SpeechEncoderOptions options;
    options.rate = c.rate;
    options.silenceCompression = c.silence;
    options.harmonicShaping = c.shaping;
    const std::vector<uint8_t> expected = Encode(input, options).stream;
    const std::vector<uint8_t> written = support::ReadFile(out);
    if (c.raw) {
      EXPECT_EQ(written, expected) << name;
    } else {
      // The prefix reserves one 480-byte frame of PCM for every coded byte, and one more.
      EXPECT_EQ(support::VoiceCapacity(written), 480 * (expected.size() + 1)) << name;
      EXPECT_EQ(std::vector<uint8_t>(written.begin() + 4, written.end()), expected) << name;
    }
    EXPECT_NE(run.out.find(c.silence ? " SID, " : " 0 SID, "), std::string::npos) << run.out;
  }

  // Almost nothing loud enough to send as speech: said, and the clip is still written; a
  // quiet tune is sound and says nothing.
  for (const bool silent : {true, false}) {
    const std::string quiet = support::WriteFile(support::Scratch("quiet.wav"),
                                                 SpeechWav(silent ? Constant(0, 8000) : Melody(150, 8000)));
    const support::RunResult run = support::Run({kTool, "speech", quiet, support::Scratch("quiet.723"), "--force"});
    EXPECT_EQ(run.status, 0) << run.Output();
    EXPECT_EQ(run.out.find("--no-silence") != std::string::npos, silent) << run.out;
  }
}

TEST(SpeechCommand, RefusesWhatItCannotEncode) {
  const std::vector<uint8_t> pcm = Pcm(Tone(300, 8000, 2400));
  const std::vector<uint8_t> good = SpeechWav(Tone(300, 8000, 2400));
  auto format = [&](WavFormat f) { return Wav({{"fmt ", FormatChunk(f)}, {"data", pcm}}); };
  std::vector<uint8_t> extensibleFloat = FormatChunk({0xFFFE, 1, 8000, 16});
  Put16(extensibleFloat, 22);
  Put16(extensibleFloat, 16);
  Put32(extensibleFloat, 0);
  extensibleFloat.push_back(3);  // the sub-format's first bytes: IEEE float
  extensibleFloat.resize(40, 0);
  std::vector<uint8_t> shortFormat = FormatChunk({});
  shortFormat.resize(12);
  const std::vector<uint8_t> cutInFormat(good.begin(), good.begin() + 30);
  std::vector<uint8_t> notWave = good;
  std::memcpy(notWave.data() + 8, "AVI ", 4);

  struct Row {
    const char* name;
    std::vector<uint8_t> file;
    std::vector<std::string> options;
    int status;
    const char* message;
  };
  const std::vector<Row> rows = {
      {"empty file", {}, {}, 1, "not a WAV file"},
      {"not RIFF", pcm, {}, 1, "not a WAV file"},
      {"RIFF but not WAVE", notWave, {}, 1, "not a WAV file"},
      {"float samples", format({3, 1, 8000, 32}), {}, 1, "format 3, not integer PCM"},
      {"extensible float", Wav({{"fmt ", extensibleFloat}, {"data", pcm}}), {}, 1, "format 3"},
      {"8-bit", format({1, 1, 8000, 8}), {}, 1, "8-bit samples; 16-bit expected"},
      {"24-bit", format({1, 1, 8000, 24}), {}, 1, "24-bit samples"},
      {"stereo", format({1, 2, 8000, 16}), {}, 1, "2 channels; mono expected"},
      {"16000 Hz", format({1, 1, 16000, 16}), {}, 1, "16000 Hz; 8000 Hz expected"},
      {"44100 Hz", format({1, 1, 44100, 16}), {}, 1, "44100 Hz"},
      {"format chunk too short", Wav({{"fmt ", shortFormat}, {"data", pcm}}), {}, 1, "format chunk is cut short"},
      {"cut inside the format chunk", cutInFormat, {}, 1, "format chunk is cut short"},
      {"data before format", Wav({{"data", pcm}, {"fmt ", FormatChunk({})}}), {}, 1, "data chunk comes before"},
      {"no data chunk", Wav({{"fmt ", FormatChunk({})}}), {}, 1, "no data chunk"},
      {"no format chunk", Wav({{"LIST", {1, 2}}}), {}, 1, "no format chunk"},
      {"rate not offered", good, {"--rate", "8"}, 2, "--rate is 6.3 or 5.3, not 8"},
      {"unknown option", good, {"--fast"}, 2, "unknown option --fast"},
  };
  for (const Row& row : rows) {
    const std::string in = support::WriteFile(support::Scratch("in.wav"), row.file);
    const std::string out = support::Scratch("out.723");
    std::vector<std::string> command = {kTool, "speech", in, out};
    command.insert(command.end(), row.options.begin(), row.options.end());
    const support::RunResult run = support::Run(command);
    EXPECT_EQ(run.status, row.status) << row.name << ": " << run.Output();
    EXPECT_NE(run.err.find(row.message), std::string::npos) << row.name << ": " << run.err;
    EXPECT_FALSE(std::filesystem::exists(out)) << row.name;
  }

  // No input file, no output name.
  const support::RunResult missing = support::Run({kTool, "speech", support::Scratch("none.wav"), support::Scratch("o.723")});
  EXPECT_EQ(missing.status, 1) << missing.Output();
  EXPECT_EQ(support::Run({kTool, "speech", support::Scratch("none.wav")}).status, 2);
}

}  // namespace

}  // namespace clipnote::speech
