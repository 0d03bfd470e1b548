// clipnote-decode on message executables: extract, info, and video/audio taking a
// message as input; damaged and hostile files refused with their reason.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "message/pe_builder.h"
#include "support/test_support.h"

namespace {

const std::string kTool = std::string(CLIPNOTE_BINARY_DIR) + "/tools/clipnote-decode/clipnote-decode";
const std::string kSource = CLIPNOTE_SOURCE_DIR;

using support::ReadFile;
using support::RunResult;
using support::Scratch;

// Writes a file of that name into the test's scratch folder.
std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
  return support::WriteFile(Scratch(name), bytes);
}

RunResult RunTool(const std::string& arguments, const std::string& environment = "") {
  return support::RunShell(environment + kTool + " " + arguments);
}

// A message made here from small real clips: 6 QCIF pictures and 68 speech frames.
struct SmallMessage {
  std::vector<uint8_t> movie = ReadFile(kSource + "/tests/video_recon/data/small_qcif.263");
  std::vector<uint8_t> voice;
  pe_builder::Layout pe;
  std::string path;
  SmallMessage() {
    const std::vector<uint8_t> frames = ReadFile(kSource + "/tests/audio/data/hello_63.723");
    voice = support::MakeVoiceClip(static_cast<uint32_t>(frames.size() / 24 * 480), frames);
    std::vector<uint8_t> logo = ReadFile(kSource + "/resources/logo.bmp");
    logo.erase(logo.begin(), logo.begin() + 14);
    pe = pe_builder::Build({{263, "MOVIE", 0x409, movie},
                            {723, "VOICE", 0x409, voice},
                            {"WAVE", 150, 0x409, ReadFile(kSource + "/resources/startup_chime.wav")},
                            {2, 147, 0x409, logo}});
    path = Write("small.exe", pe.bytes);
  }
};

TEST(MessageCommands, ExtractGivesTheCarriedFilesByteForByte) {
  const SmallMessage small;
  RunResult run = RunTool("extract '" + small.path + "' '" + Scratch("out") + "'");
  ASSERT_EQ(run.status, 0) << run.Output();
  EXPECT_EQ(ReadFile(Scratch("out/message.263")), small.movie);
  EXPECT_EQ(ReadFile(Scratch("out/message.723")), small.voice);
  EXPECT_EQ(ReadFile(Scratch("out/startup.wav")), ReadFile(kSource + "/resources/startup_chime.wav"));
  EXPECT_EQ(ReadFile(Scratch("out/logo.bmp")), ReadFile(kSource + "/resources/logo.bmp"));

#ifdef CLIPNOTE_WIN32_EXE
  if (!std::filesystem::exists(CLIPNOTE_WIN32_EXE)) GTEST_SKIP() << CLIPNOTE_WIN32_EXE << " is not built";
  run = RunTool(std::string("extract '") + CLIPNOTE_WIN32_EXE + "' '" + Scratch("built") + "'");
  ASSERT_EQ(run.status, 0) << run.Output();
  for (const auto& [carried, source] : {std::pair{"message.263", "message.263"}, {"message.723", "message.723"},
                                        {"startup.wav", "startup_chime.wav"}, {"logo.bmp", "logo.bmp"}}) {
    EXPECT_EQ(ReadFile(Scratch(std::string("built/") + carried)), ReadFile(kSource + "/resources/" + source)) << carried;
  }
#endif
}

// pack writes what extract gives back: both clips, one of them, the logo and the sound;
// with the default message it writes the cross tree's clipnote.exe byte for byte.
TEST(MessageCommands, PackWritesWhatExtractGivesBack) {
  const SmallMessage small;
  const std::string movie = Write("pack.263", small.movie);
  const std::string voice = Write("pack.723", small.voice);
  const std::string logo = kSource + "/resources/logo.bmp";
  const std::string chime = kSource + "/resources/startup_chime.wav";
  const std::vector<uint8_t> noSpeech = {0xE0, 0x01, 0, 0};
  const struct {
    const char* what;
    std::string arguments;  // before the output
    std::vector<uint8_t> movie, voice;
  } cases[] = {
      {"both clips, logo and sound", "'" + voice + "' '" + movie + "' --logo " + logo + " --sound " + chime,
       small.movie, small.voice},
      {"speech only", "'" + voice + "'", {}, small.voice},
      {"pictures only", "'" + movie + "'", small.movie, noSpeech},
      {"into another template", "'" + movie + "' '" + voice + "' --template '" + small.path + "'", small.movie,
       small.voice},
  };
  for (const auto& c : cases) {
    const std::string exe = Scratch("packed.exe");
    RunResult run = RunTool("pack " + c.arguments + " '" + exe + "' --force");  // over the last case's
    ASSERT_EQ(run.status, 0) << c.what << ": " << run.Output();
    EXPECT_NE(run.Output().find("packed.exe: "), std::string::npos) << run.Output();
    std::filesystem::remove_all(Scratch("packed"));
    run = RunTool("extract '" + exe + "' '" + Scratch("packed") + "'");
    EXPECT_EQ(ReadFile(Scratch("packed/message.263")), c.movie) << c.what << ": " << run.Output();
    EXPECT_EQ(ReadFile(Scratch("packed/message.723")), c.voice) << c.what;
    EXPECT_EQ(ReadFile(Scratch("packed/logo.bmp")), ReadFile(logo)) << c.what;
    EXPECT_EQ(ReadFile(Scratch("packed/startup.wav")), ReadFile(chime)) << c.what;
  }
#ifdef CLIPNOTE_WIN32_EXE
  if (!std::filesystem::exists(CLIPNOTE_WIN32_EXE)) GTEST_SKIP() << CLIPNOTE_WIN32_EXE << " is not built";
  const RunResult run = RunTool("pack " + kSource + "/resources/message.263 " + kSource + "/resources/message.723 '" +
                              Scratch("default.exe") + "'");
  ASSERT_EQ(run.status, 0) << run.Output();
  EXPECT_TRUE(ReadFile(Scratch("default.exe")) == ReadFile(CLIPNOTE_WIN32_EXE)) << "not the built clipnote.exe";
#endif
}

// video and audio give from a message executable what they give from its clips.
TEST(MessageCommands, VideoAndAudioReadTheClipsOfAMessage) {
  const SmallMessage small;
  const std::string movie = Write("small.263", small.movie);
  const std::string voice = Write("small.723", small.voice);
  ASSERT_EQ(RunTool("video '" + small.path + "' '" + Scratch("from_exe.y4m") + "'").status, 0);
  ASSERT_EQ(RunTool("video '" + movie + "' '" + Scratch("from_clip.y4m") + "'").status, 0);
  EXPECT_EQ(ReadFile(Scratch("from_exe.y4m")), ReadFile(Scratch("from_clip.y4m")));
  EXPECT_EQ(ReadFile(Scratch("from_exe.y4m")).size(), 51u + 6 * (6 + 38016));
  ASSERT_EQ(RunTool("audio '" + small.path + "' '" + Scratch("from_exe.wav") + "'").status, 0);
  ASSERT_EQ(RunTool("audio '" + voice + "' '" + Scratch("from_clip.wav") + "'").status, 0);  // .723: a VOICE clip
  ASSERT_EQ(RunTool("audio --voice '" + movie + "' '" + Scratch("forced.wav") + "'").status, 0);
  EXPECT_EQ(ReadFile(Scratch("from_exe.wav")), ReadFile(Scratch("from_clip.wav")));
  EXPECT_EQ(ReadFile(Scratch("from_exe.wav")).size(), 44u + 68 * 480);
}

// The message goes between the page's markers, in place of its built-in one, and
// nothing else of the page changes. The page gets the clips and the logo, not the
// whole executable; a bare clip keeps the page's logo.
TEST(MessageCommands, HtmlPutsTheMessageIntoThePlayerPage) {
  const SmallMessage small;
  const std::string before = "<script>/*clipnote-message-begin*/";
  const std::string after = "/*clipnote-message-end*/ play();</script>";
  const std::string pageLogo = "const logoBase64 = \"UGFnZQ==\";";
  const std::string page = Write("page.html", [&] {
    const std::string text = before + "const builtInFiles = [];\n" + pageLogo + after;
    return std::vector<uint8_t>(text.begin(), text.end());
  }());
  auto base64 = [](const std::string& path) { return support::RunShell("base64 -w0 '" + path + "'").out; };
  auto html = [&](const std::string& message) {
    const std::string out = Scratch("message.html");
    const RunResult run = RunTool("html -y '" + message + "' '" + out + "'", "CLIPNOTE_WEB_PAGE='" + page + "' ");
    EXPECT_EQ(run.status, 0) << run.Output();
    const std::vector<uint8_t> written = ReadFile(out);
    return std::string(written.begin(), written.end());
  };
  const std::string movie = Write("small.263", small.movie);
  const std::string voice = Write("small.723", small.voice);
  const struct {
    std::string message, carried;
  } rows[] = {
      {small.path, "const builtInFiles = [{ name: \"small.263\", base64: \"" + base64(movie) +
                       "\" }, { name: \"small.723\", base64: \"" + base64(voice) + "\" }];\n" +
                       "const logoBase64 = \"" + base64(kSource + "/resources/logo.bmp") + "\";"},
      {movie, "const builtInFiles = [{ name: \"small.263\", base64: \"" + base64(movie) + "\" }];\n" + pageLogo},
      {voice, "const builtInFiles = [{ name: \"small.723\", base64: \"" + base64(voice) + "\" }];\n" + pageLogo},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(html(row.message), before + row.carried + after) << row.message;
  }
  // A page whose logo lies outside the markers keeps it: a second one would stop its script.
  Write("page.html", [&] {  // the page html() reads
    const std::string text = pageLogo + before + "const builtInFiles = [];" + after;
    return std::vector<uint8_t>(text.begin(), text.end());
  }());
  EXPECT_EQ(html(small.path).find("logoBase64", pageLogo.size()), std::string::npos);
  const std::string out = Scratch("message.html");
  EXPECT_EQ(RunTool("html '" + small.path + "' '" + out + "'", "CLIPNOTE_WEB_PAGE=/nonexistent ").status, 1);

  // The file's name goes into the page's script: nothing in it may end the string or the script.
  const std::string hostile = Write("a\"b<script> c.exe", small.pe.bytes);
  EXPECT_NE(html(hostile).find("name: \"a_b_script__c.263\", base64"), std::string::npos);
  // A page without the end of its message is no player page.
  const std::string cut = Write("cut.html", std::vector<uint8_t>(before.begin(), before.end()));
  const RunResult refused = RunTool("html -y '" + small.path + "' '" + out + "'", "CLIPNOTE_WEB_PAGE='" + cut + "' ");
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.Output().find("no player page"), std::string::npos) << refused.Output();
}

TEST(MessageCommands, InfoReportsBothTracks) {
  const SmallMessage small;
  RunResult run = RunTool("info --json '" + small.path + "'");
  ASSERT_EQ(run.status, 0) << run.Output();
  for (const char* field : {"\"kind\": \"message executable\"", "\"startup_sound\": true", "\"logo\": true",
                            "\"width\": 176, \"height\": 144, \"pictures\": 6, \"intra_pictures\": 1, \"ticks\": 5",
                            "\"tick_gaps\": {\"1\": 5}", "\"end_of_sequence\": false",
                            "\"frames\": 68, \"frames_6_3\": 68, \"frames_5_3\": 0, \"frames_sid\": 0",
                            "\"duration_ms\": 2040.000", "\"pcm_capacity\": 32640", "\"tracks_agree\": false"}) {
    EXPECT_NE(run.Output().find(field), std::string::npos) << field << "\n" << run.Output();
  }
  run = RunTool("info '" + Write("small.tco", small.voice) + "'");  // a raw stream by its name
  ASSERT_EQ(run.status, 0) << run.Output();
  EXPECT_NE(run.Output().find("raw G.723.1 stream"), std::string::npos) << run.Output();
  EXPECT_EQ(run.Output().find("PCM capacity"), std::string::npos) << run.Output();
}

// Files that are no message: each command says why and ends with its failure code,
// never a crash or a hang (the test would not end) or a huge allocation.
TEST(MessageCommands, FilesThatAreNoMessageAreRefusedWithTheirReason) {
  using pe_builder::Layout;
  const SmallMessage small;
  auto damaged = [&](const char* name, auto damage) {
    Layout pe = small.pe;
    damage(pe);
    return Write(name, pe.bytes);
  };
  const std::string truncated = damaged("truncated.exe", [](Layout& pe) { pe.bytes.resize(300); });
  const std::string pastEnd =
      damaged("past_end.exe", [](Layout& pe) { pe.Put32(pe.dataEntries[0], 0x7FFF0000); });
  const std::string loop = damaged("loop.exe", [](Layout& pe) { pe.Put32(Layout::kRoot + 16 + 4, 0x80000000); });
  const std::string huge = damaged("huge.exe", [](Layout& pe) { pe.Put32(pe.dataEntries[1] + 4, 0xFFFFFFF0); });
  const std::string empty = Write("empty.exe", {});
  const std::string png = Write("picture.png", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13});
  const std::string directory = support::ScratchDir();
  const std::string sparse = Write("sparse.exe", {'M', 'Z'});
  std::filesystem::resize_file(sparse, 3ull << 30);  // 3 GiB that take no room
  const std::string icons = Write("icons.exe", pe_builder::Build({{3, 1, 0x409, {1, 2, 3}}}).bytes);
  const struct {
    std::string file;
    const char* reason;
  } files[] = {
      {truncated, "a truncated Windows executable"},
      {pastEnd, "resource 263/\"MOVIE\""},
      {loop, "(a loop?)"},
      {huge, "2 GiB or more"},
      {empty, "empty"},
      {png, "not a message"},
      {directory, "cannot read"},
      {icons, "an executable without a message"},
      {sparse, "larger than 2 GiB"},
  };
  std::vector<std::string> commands = {"info", "extract", "audio", "video", "html", "pack"};
  if (RunTool("export").Output().find("no ffmpeg libraries") == std::string::npos) commands.push_back("export");
  for (const auto& [file, reason] : files) {
    for (const std::string& command : commands) {
      if (command == "video" && file == png) continue;  // taken as a clip: the decoder refuses it
      // pack takes the file as its template: any executable with resources will do.
      if (command == "pack" && (file == empty || file == png || file == icons)) continue;
      const std::string output = command == "info"      ? ""
                                 : command == "pack"    ? " '" + Scratch("refused.exe") + "'"
                                 : command == "extract" ? " '" + Scratch("refused") + "'"
                                 : command == "export"  ? " '" + Scratch("refused.mp4") + "'"
                                 : command == "html"    ? " '" + Scratch("refused.html") + "'"
                                                        : " '" + Scratch("refused.y4m") + "'";
      const RunResult run = command == "pack" ? RunTool("pack '" + Write("template-clip.263", small.movie) + "'" +
                                                        output + " --template '" + file + "'")
                                              : RunTool(command + " '" + file + "'" + output);
      // video keeps its own codes: 2 for input it cannot read, 1 for decoding stopped part-way.
      EXPECT_EQ(run.status, command == "video" ? 2 : 1) << command << " " << file << ": " << run.Output();
      EXPECT_NE(run.Output().find(reason), std::string::npos) << command << " " << file << ": " << run.Output();
    }
  }
  EXPECT_FALSE(std::filesystem::exists(Scratch("refused")));
  EXPECT_FALSE(std::filesystem::exists(Scratch("refused.mp4")));
  EXPECT_FALSE(std::filesystem::exists(Scratch("refused.html")));
  EXPECT_FALSE(std::filesystem::exists(Scratch("refused.exe")));
  std::filesystem::remove(sparse);
  const RunResult bare = RunTool("extract '" + Write("clip.263", small.movie) + "' '" + Scratch("refused") + "'");
  EXPECT_EQ(bare.status, 1);
  EXPECT_NE(bare.Output().find("a bare H.263 clip, not a message executable"), std::string::npos) << bare.Output();
}


// What info says of each kind of file and clip, in words and in JSON, and what the
// clip commands say of a message that lacks the clip they need; usage errors end with 2.
TEST(MessageCommands, EachCommandSaysWhatAFileHoldsOrLacks) {
  using pe_builder::Item;
  const SmallMessage small;
  const std::vector<uint8_t> movie = small.movie;
  auto withEnd = [&](std::vector<uint8_t> tail) {
    std::vector<uint8_t> clip = movie;
    clip.insert(clip.end(), tail.begin(), tail.end());
    return clip;
  };
  std::vector<uint8_t> damaged = movie;
  for (size_t i = 400; i < 420; ++i) damaged[i] ^= 0x55;
  // One frame of each kind (24, 20, 4 and 1 bytes), then 3 bytes of a cut one.
  std::vector<uint8_t> mixed(24 + 20 + 4 + 1, 0);
  mixed[24] = 1;
  mixed[44] = 2;
  mixed[48] = 3;
  mixed.insert(mixed.end(), {0, 1, 2});
  std::vector<uint8_t> shortPrefix = small.voice;
  shortPrefix[0] = 0xE0, shortPrefix[1] = 0x01, shortPrefix[2] = 0;  // 480 bytes: one frame
  std::vector<uint8_t> badLogo(40, 0);
  badLogo[0] = 20;  // no header the bitmap formats know
  const std::vector<uint8_t> noWave = {'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '};
  std::vector<uint8_t> badBitmap = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};  // its file header, then
  badBitmap.insert(badBitmap.end(), badLogo.begin(), badLogo.end());                // a header of 20 bytes
  const std::vector<uint8_t> audioOnly =
      pe_builder::Build({{263, "MOVIE", 0x409, {}}, {723, "VOICE", 0x409, small.voice}}).bytes;
  const struct {
    const char* what;
    std::string name;
    std::vector<uint8_t> bytes;
    std::string command;  // "{}" stands for the file
    int status;
    std::vector<std::string> said;
  } rows[] = {
      {"a message in words", "words.exe", small.pe.bytes, "info {}", 0,
       {"message executable, ", "start-up sound: yes", "logo bitmap:    yes", "pictures:       6 (1 intra), 176x144",
        "spacing:        1 ticks x5", "ends with:      the end of the data",
        "PCM capacity:   32640 bytes (2.040 s; holds every frame)", "tracks: differ (speech +1.873 s against"}},
      // What a person asks first, then the count of GOB headers and of the pictures that hold them.
      {"the default clips in words", "default.263", ReadFile(kSource + "/resources/message.263"), "info {}", 0,
       {"H.263 clip, 158276 bytes\n  length:         38 s\n  pictures:       430, 11.3 a second, 176x144\n"
        "  size:           158 KB (158276 bytes)\n  speech:         none\n",
        "GOB headers:    29 (in 24 of 430 pictures)"}},
      {"the default clip's GOB headers in JSON", "default.263", ReadFile(kSource + "/resources/message.263"),
       "info --json {}", 0, {"\"gob_headers\": 29, \"pictures_with_gob_headers\": 24, "}},
      {"how much of the sound is speech", "default.723", ReadFile(kSource + "/resources/message.723"), "info {}", 0,
       {"  pictures:       none\n", "  speech:         30 s of 38 s (78%); the rest is silence\n"}},
      {"a prefix that cuts the speech", "short.723", shortPrefix, "info {}", 0,
       {"VOICE clip, ", "480 bytes (0.030 s; too small: the player stops the speech early)"}},
      {"each kind of frame", "mixed.tco", mixed, "info {}", 0,
       {"frames:         4 (6.3 kbit/s 1, 5.3 kbit/s 1, SID 1, untransmitted 1)",
        "cut short:      a last frame of only 3 bytes"}},
      {"each kind of frame in JSON", "mixed.bin", mixed, "info --json --raw {}", 0,
       {"\"frames_5_3\": 1, \"frames_sid\": 1, \"frames_untransmitted\": 1, \"duration_ms\": 120.000, "
        "\"cut_frame_bytes\": 3}"}},
      {"--voice over the name", "mixed.tco", mixed, "info --voice {}", 0, {"VOICE clip, ", "PCM capacity:"}},
      {"an end-of-sequence code", "end.263", withEnd({0, 0, 0xFC}), "info {}", 0,
       {"ends with:      an end-of-sequence code"}},
      {"a macroblock error", "damaged.263", damaged, "info {}", 0,
       {"pictures:       1 (1 intra)", "decoding stops: a macroblock error in picture 0"}},
      {"a broken picture header", "header.263", withEnd({0, 0, 0x80, 2, 0x1C, 0x55}), "info --json {}", 0,
       {"\"pictures\": 6, ", "\"stops_early\": \"picture header code 4 at byte 6944\""}},
      {"no picture the player reads", "cif4.263", {0, 0, 0x80, 2, 0x1C, 0, 0, 0}, "info {}", 0,
       {"not a baseline H.263 QCIF or CIF clip (first picture header: code 4)"}},
      {"audio only", "audio.exe", audioOnly, "info {}", 0,
       {"video: 0 bytes\n  none (audio only)", "start-up sound: no"}},
      {"a name JSON must escape", "we\"ird\\name\t.723", small.voice, "info --json {}", 0,
       {"we\\\"ird\\\\name\\u0009.723\", \"kind\": \"VOICE clip\""}},
      {"no file", "x.723", small.voice, "info", 2, {"clipnote-decode info: expects FILE\nTry 'clipnote-decode info --help'.\n"}},
      {"an unknown option", "x.723", small.voice, "info --verbose {}", 2, {"unknown option --verbose"}},
      {"two files", "x.723", small.voice, "info {} {}", 2, {"clipnote-decode info: unexpected argument"}},
      {"audio without a VOICE", "movie.exe", pe_builder::Build({{263, "MOVIE", 0x409, movie}}).bytes,
       "audio {} /dev/null", 1, {"the message carries no speech (no VOICE resource)"}},
      {"audio of a video clip", "movie.263", movie, "audio {} /dev/null", 1, {"an H.263 clip, not speech"}},
      {"video without a MOVIE", "voice.exe", pe_builder::Build({{723, "VOICE", 0x409, small.voice}}).bytes,
       "video {} " + Scratch("lacking.y4m"), 2, {"the message carries no video (no MOVIE resource)"}},
      {"video of an audio-only message", "audio.exe", audioOnly, "video {} " + Scratch("lacking.y4m"), 2,
       {"an empty MOVIE resource: audio only"}},
      {"extract without a MOVIE", "voice.exe", pe_builder::Build({{723, "VOICE", 0x409, small.voice}}).bytes,
       "extract {} " + Scratch("voice-only"), 0, {"has no MOVIE resource: no message.263", "message.723: 1636 bytes"}},
      // A part held damaged is left out and the run fails; the other parts are written.
      {"extract with a sound that is no WAVE", "sound.exe",
       pe_builder::Build({{263, "MOVIE", 0x409, movie}, {"WAVE", 150, 0x409, noWave}}).bytes,
       "extract {} " + Scratch("parts"), 1,
       {"has no VOICE resource: no message.723", "the start-up sound is no WAVE file: no startup.wav",
        "message.263: 6944 bytes"}},
      {"extract with a logo that is no bitmap", "logo.exe",
       pe_builder::Build({{263, "MOVIE", 0x409, movie}, {2, 147, 0x409, badLogo}}).bytes,
       "extract -y {} " + Scratch("parts"), 1, {"unknown header of 20 bytes: no logo.bmp", "message.263: 6944 bytes"}},
      {"extract over a file already there", "logo.exe",
       pe_builder::Build({{263, "MOVIE", 0x409, movie}, {2, 147, 0x409, badLogo}}).bytes,
       "extract {} " + Scratch("parts"), 1, {"parts/message.263 exists; --force (-y) replaces it; nothing written"}},
      {"extract without its folder", "voice.exe", small.pe.bytes, "extract {}", 2,
       {"clipnote-decode extract: expects more: MESSAGE.exe DIR\nTry 'clipnote-decode extract --help'."}},
      {"no command", "x.723", small.voice, "", 2, {"clipnote-decode: expects a command\nTry 'clipnote-decode --help'."}},
      {"an unknown command", "x.723", small.voice, "decode {}", 2, {"clipnote-decode: unknown command decode\nTry"}},
      {"help", "x.723", small.voice, "--help", 0, {"usage: clipnote-decode COMMAND", "  clipnote-decode export MESSAGE"}},
      {"a command's help", "x.723", small.voice, "pack --help", 0,
       {"usage: clipnote-decode pack [options] MOVIE.263 [VOICE.723] OUT.exe", "  -y, --force "}},
      {"the version", "x.723", small.voice, "--version", 0, {"clipnote-decode "}},
      {"a command's version", "x.723", small.voice, "info --version", 0, {"clipnote-decode "}},
      {"audio over a file already there", "x.723", small.voice, "audio {} {}", 1, {"x.723 exists; --force (-y) replaces it"}},
      {"video over a file already there", "small.263", movie, "video {} " + Write("there.y4m", {1}), 1,
       {"there.y4m exists; --force (-y) replaces it"}},
      {"audio into a device", "x.723", small.voice, "audio {} /dev/null", 0, {}},
      {"video with an unknown option", "small.263", movie, "video {} " + Scratch("x.y4m") + " --fast", 2,
       {"unknown option --fast"}},
      {"audio without an output", "x.723", small.voice, "audio {}", 2, {"Try 'clipnote-decode audio --help'."}},
      {"pack without an output", "x.723", small.voice, "pack {}", 2, {"expects more: MOVIE.263 [VOICE.723] OUT.exe"}},
      {"pack of three clips", "x.723", small.voice, "pack {} {} {} " + Scratch("refused.exe"), 2,
       {"unexpected argument"}},
      {"pack with an unknown option", "x.723", small.voice, "pack {} " + Scratch("refused.exe") + " --fast", 2,
       {"unknown option --fast"}},
      {"pack with an option twice", "x.723", small.voice, "pack {} x.exe --logo a --logo b", 2,
       {"--logo is given twice"}},
      {"pack over a file already there", "x.723", small.voice, "pack {} {}", 1, {"x.723 exists; --force (-y) replaces it"}},
      {"pack of a raw stream", "mixed.tco", mixed, "pack {} " + Scratch("refused.exe"), 1,
       {"a raw G.723.1 stream, not a clip to pack"}},
      {"pack of two videos", "small.263", movie, "pack {} {} " + Scratch("refused.exe"), 1,
       {"a second H.263 clip; a message has one of each"}},
      {"pack of an executable", "words.exe", small.pe.bytes, "pack {} " + Scratch("refused.exe"), 1,
       {"a message executable, not a clip to pack"}},
      {"pack of a VOICE clip without its prefix", "cut.723", {1, 2}, "pack {} " + Scratch("refused.exe"), 1,
       {"shorter than its 4-byte length prefix"}},
      {"pack with a logo that is no .bmp", "logo.bmp", noWave,
       "pack " + Write("pack-clip.263", movie) + " " + Scratch("refused.exe") + " --logo {}", 1,
       {"not a .bmp file"}},
      {"pack with a bitmap the player cannot read", "logo.bmp", badBitmap,
       "pack " + Write("pack-clip.263", movie) + " " + Scratch("refused.exe") + " --logo {}", 1,
       {"the logo is no bitmap the player draws: the bitmap resource has an unknown header of 20 bytes"}},
      {"pack with a sound that is no WAVE", "chime.wav", badLogo,
       "pack " + Write("pack-clip.263", movie) + " " + Scratch("refused.exe") + " --sound {}", 1,
       {"the start-up sound is not a WAVE file"}},
  };
  for (const auto& row : rows) {
    const std::string path = Write(row.name, row.bytes);
    std::string command = row.command;
    for (size_t at; (at = command.find("{}")) != std::string::npos;) command.replace(at, 2, "'" + path + "'");
    const RunResult run = RunTool(command);
    EXPECT_EQ(run.status, row.status) << row.what << "\n" << run.Output();
    for (const std::string& said : row.said) {
      EXPECT_NE(run.Output().find(said), std::string::npos) << row.what << ": " << said << "\n" << run.Output();
    }
  }
  EXPECT_FALSE(std::filesystem::exists(Scratch("refused.exe")));
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/null"));  // written into, not replaced
  EXPECT_EQ(ReadFile(Scratch("voice-only/message.723")), small.voice);
  EXPECT_FALSE(std::filesystem::exists(Scratch("voice-only/message.263")));
  EXPECT_EQ(ReadFile(Scratch("parts/message.263")), movie);
  EXPECT_FALSE(std::filesystem::exists(Scratch("parts/startup.wav")));
  EXPECT_FALSE(std::filesystem::exists(Scratch("parts/logo.bmp")));
}

}  // namespace
