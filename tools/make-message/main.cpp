// make-message: a Clipnote message from any video, with its own sound, another audio file
// or a text to be spoken. Exit codes: 0 made; 1 refused (the reason on standard error);
// 2 usage; 130 interrupted. Outputs are written whole or not at all, and files already
// there are replaced only with --force.

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "authoring/message_pipeline.h"
#include "message/message_file.h"
#include "resources/player_template.h"
#include "tools/clipnote-decode/clip_summary.h"
#include "tools/clipnote-decode/html_page.h"
#include "tools/make-message/media_reader.h"
#include "tools/make-message/native_player.h"
#include "tools/make-message/speech_synthesis.h"
#include "tools/common/atomic_output.h"
#include "tools/common/command_line.h"
#include "tools/common/progress.h"

namespace fs = std::filesystem;
using namespace clipnote::authoring;
using namespace makemessage;
namespace ct = clipnote::tools;

namespace {

constexpr int kExitMade = ct::kExitOk;
constexpr int kExitInterrupted = 130;

constexpr ct::Option kOptions[] = {
    {"audio", 0, "FILE", "the sound of another file (default: the video's own)"},
    {"say", 0, "TEXT", "a text spoken with espeak-ng"},
    {"say-file", 0, "FILE", "a file whose text (UTF-8) espeak-ng speaks"},
    {"no-audio", 0, nullptr, "a message without sound (the player says 'Video only')"},
    {"voice", 0, "NAME", "espeak-ng voice (default en-us; an unknown one lists the known)"},
    {"speed", 0, "WPM", "espeak-ng words per minute"},
    {"keep-level", 0, nullptr, "do not bring the speech peak to -3 dBFS"},
    {"rate", 0, "6.3|5.3", "speech at 6.3 kbit/s (default) or 5.3 kbit/s"},
    {"quantiser", 0, "Q", "H.263 quantiser 2..31, lower is sharper and larger (default 8)"},
    {"start", 0, "SECONDS", "begin this far into the video (as ffmpeg's -ss)"},
    {"duration", 0, "SECONDS", "take this much of it (as ffmpeg's -t); a message lasts at most 300 s"},
    {"max-size", 0, "BYTES", "make the whole clipnote.exe at most this large (quantiser, spacing, rate chosen)"},
    {"output", 'o', "DIR", "where message.263 and message.723 go (default: the player's folder, else here)"},
    {"build-player", 0, "DIR", "also write DIR/clipnote.exe, the Windows player with the message"},
    {"build-native-player", 0, "DIR", "also build clipnote.exe and the native clipnote from source (minutes)"},
    {"html", 0, "OUT.html", "also write the message as one web page that plays in any browser"},
    ct::kForceOption,
    ct::kQuietOption,
    {"decoder", 0, "PATH", "accepted for old scripts (the clips are checked with the built-in decoders)"},
    {"work-dir", 0, "DIR", "accepted for old scripts (nothing intermediate is written)"},
};

constexpr ct::Command kCommand = {
    "make-message", "VIDEO",
    "Makes a Clipnote message from any video (any format ffmpeg reads; a still image is held for\n"
    "the length of the speech), with its own sound, another file's, a spoken text or none: the\n"
    "video clip message.263 and the speech clip message.723, and with --build-player the message\n"
    "itself, clipnote.exe. A message lasts at most 300 s: take a part of a longer video with\n"
    "--start and --duration.",
    kOptions, 1, 1,
    "One message, one folder: the clips go into -o DIR, else into the --build-player folder, else\n"
    "here; missing folders are made, and files already there are replaced only with --force.\n"
    "--max-size chooses the quantiser and the picture spacing together, and 5.3 kbit/s speech when\n"
    "6.3 does not fit, or refuses saying how many bytes the message needs. --html needs the\n"
    "browser player's page (scripts/run --web builds it). --build-native-player builds from the\n"
    "source tree make-message was built from, or from the one CLIPNOTE_SOURCE_DIR names.\n"
    "Exit codes: 0 made; 1 refused, with the reason; 2 usage; 130 interrupted."};

struct Options {
  std::string video;
  std::optional<std::string> audio, say, sayFile;
  bool noAudio = false;
  std::string output;
  int quantiser = kDefaultQuantiser;
  std::string voice = "en-us";
  int speed = 0;
  bool keepLevel = false;
  SpeechRate rate = SpeechRate::k63;
  double start = 0;
  double duration = -1;
  int64_t maxBytes = 0;
  std::optional<std::string> decoder, buildPlayer, buildNativePlayer, html, workDir;
  bool force = false;
  bool quiet = false;
};

// Reads the command line into Options; nothing to run (help, version, a usage error: the code).
std::optional<int> ParseOptions(int argc, char** argv, Options& o) {
  ct::Arguments args;
  if (const auto done = ct::ParseCommandLine(kCommand, argc, argv, args)) return done;
  o.video = args.operands()[0];
  o.audio = args.Value("audio");
  o.say = args.Value("say");
  o.sayFile = args.Value("say-file");
  o.noAudio = args.Has("no-audio");
  if (int(o.audio.has_value()) + int(o.say.has_value()) + int(o.sayFile.has_value()) + int(o.noAudio) > 1) {
    return ct::UsageError(kCommand, "--audio, --say, --say-file and --no-audio exclude each other");
  }
  o.output = args.Value("output").value_or("");
  if (const auto q = args.Value("quantiser")) {
    const auto value = ct::ParseInteger(*q, 2, 31);
    if (!value) return ct::UsageError(kCommand, "--quantiser must be between 2 and 31");
    o.quantiser = int(*value);
  }
  o.voice = args.Value("voice").value_or("en-us");
  if (const auto speed = args.Value("speed")) {
    const auto value = ct::ParseInteger(*speed, 10, 1000);
    if (!value) return ct::UsageError(kCommand, "--speed is words a minute, 10..1000");
    o.speed = int(*value);
  }
  o.keepLevel = args.Has("keep-level");
  if (const auto rate = args.Value("rate")) {
    if (*rate != "6.3" && *rate != "5.3") return ct::UsageError(kCommand, "--rate is 6.3 or 5.3, not " + *rate);
    o.rate = *rate == "6.3" ? SpeechRate::k63 : SpeechRate::k53;
  }
  if (const auto start = args.Value("start")) {
    const auto value = ct::ParseNumber(*start, 0, 1e9);
    if (!value) return ct::UsageError(kCommand, "--start is a number of seconds, not " + *start);
    o.start = *value;
  }
  if (const auto duration = args.Value("duration")) {
    const auto value = ct::ParseNumber(*duration, 0, 1e9);
    if (!value || *value <= 0) return ct::UsageError(kCommand, "--duration is a number of seconds above 0, not " + *duration);
    o.duration = *value;
  }
  if (const auto bytes = args.Value("max-size")) {
    const auto value = ct::ParseInteger(*bytes, 1, int64_t{1} << 40);
    if (!value) return ct::UsageError(kCommand, "--max-size is a number of bytes, not " + *bytes);
    o.maxBytes = *value;
  }
  o.decoder = args.Value("decoder");
  o.buildPlayer = args.Value("build-player");
  o.buildNativePlayer = args.Value("build-native-player");
  o.html = args.Value("html");
  o.workDir = args.Value("work-dir");
  o.force = args.Has("force");
  o.quiet = args.Has("quiet");
  return std::nullopt;
}

std::atomic<bool> interrupted{false};

void OnSignal(int) { interrupted.store(true); }

struct Refusal {
  std::string text;
};

// Makes the folder (and those above it); refuses one that cannot be made or written in.
void NeedFolder(const std::string& folder) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder)) {
    throw Refusal{"cannot make the folder '" + folder + "': " + (ec ? ec.message() : "a file is in the way")};
  }
  if (access(folder.c_str(), W_OK) != 0) {
    throw Refusal{"cannot write in '" + folder + "': " + std::strerror(errno)};
  }
}

std::string Join(const std::string& folder, const char* name) { return (fs::path(folder) / name).string(); }

std::string Seconds(double s) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", s);
  return text;
}

std::string ReadTextFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Refusal{"cannot read '" + path + "': " + std::strerror(errno)};
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The summary in a person's terms, counted and worded as `clipnote-decode info` says it.
void PrintSummary(const AuthoredMessage& m, bool speech) {
  const VideoSummary video = SummariseVideo(m.movie);
  const SpeechSummary voice = SummariseSpeech(m.voice, true);
  const uint64_t bytes = !m.executable.empty() ? m.executable.size() : m.movie.size() + m.voice.size();
  for (const auto& [label, value] : PlainSummary(&video, speech ? &voice : nullptr, bytes)) {
    std::printf("%-9s %s\n", (label + ":").c_str(), value.c_str());
  }
  std::printf("%-9s quantiser %d%s; clips of %zu and %zu bytes\n", "coded:", m.quantiser,
              speech ? (m.rate == SpeechRate::k63 ? ", speech at 6.3 kbit/s" : ", speech at 5.3 kbit/s") : "",
              m.movie.size(), m.voice.size());
}

int Run(const Options& o) {
  const bool speech = !o.noAudio;
  if (o.decoder && access(o.decoder->c_str(), X_OK) != 0) {
    throw Refusal{"decoder '" + *o.decoder + "' is not an executable"};
  }
  if (o.html) {
    std::string why;
    // Said before the clips are made, not after.
    if (!HavePlayerPage(why)) throw Refusal{"--html needs the browser player's page: " + why};
  }
  const std::string folder = !o.output.empty() ? o.output
                             : o.buildPlayer   ? *o.buildPlayer
                             : o.buildNativePlayer ? *o.buildNativePlayer
                                               : ".";
  const std::string moviePath = Join(folder, "message.263");
  const std::string voicePath = Join(folder, "message.723");
  std::vector<std::string> outputs = {moviePath, voicePath};
  if (o.buildPlayer) outputs.push_back(Join(*o.buildPlayer, "clipnote.exe"));
  if (o.html) outputs.push_back(*o.html);
  if (o.buildNativePlayer) {
    outputs.push_back(Join(*o.buildNativePlayer, "clipnote.exe"));
    outputs.push_back(Join(*o.buildNativePlayer, "clipnote"));
  }
  for (const std::string& path : outputs) {
    std::string why;
    if (!ct::MayWriteOutput(path, o.force, why)) throw Refusal{why};
  }
  if (o.workDir) NeedFolder(*o.workDir);

  ct::Progress bar(o.quiet);
  std::string stageShown;
  // The pipeline and the reader say how far they are as a fraction of their stage.
  const auto show = [&](const std::string& stage, double fraction) {
    if (stage != stageShown) {
      bar.Stage(stage, 1.0);
      stageShown = stage;
    }
    bar.Update(fraction);
  };
  MediaReader video;
  std::string error;
  if (!video.Open(o.video, error)) throw Refusal{error};
  if (!video.Streams().video) throw Refusal{"'" + o.video + "' has no video stream"};
  const double available = std::max(0.0, video.Streams().seconds - o.start);
  const double wanted = o.duration < 0 ? available : std::min(available, o.duration);
  if (video.Streams().seconds > 0 && o.start >= video.Streams().seconds) {
    throw Refusal{"'" + o.video + "' lasts " + Seconds(video.Streams().seconds) + " s: --start " + Seconds(o.start) +
                  " is past its end"};
  }
  const std::string limit = "; the player takes messages of up to 300 s: take a part with --start and --duration";
  if (wanted > kMaxMessageSeconds + 1) throw Refusal{"'" + o.video + "' lasts " + Seconds(wanted) + " s" + limit};

  // Where the sound comes from.
  std::unique_ptr<MediaReader> soundFile;
  if (speech && !o.say && !o.sayFile) {
    if (o.audio) {
      soundFile = std::make_unique<MediaReader>();
      if (!soundFile->Open(*o.audio, error)) throw Refusal{error};
      if (!soundFile->Streams().audio) throw Refusal{"'" + *o.audio + "' has no audio stream"};
    } else if (!video.Streams().audio) {
      throw Refusal{"'" + o.video + "' has no sound: give --audio FILE, --say TEXT or --no-audio"};
    }
  }
  std::vector<int16_t> spoken;
  int spokenRate = 0;
  if (speech && (o.say || o.sayFile)) {
    const std::string text = o.say ? *o.say : ReadTextFile(*o.sayFile);
    show("speaking the text", 0);
    if (!Speak(text, o.voice, o.speed, spoken, spokenRate, &interrupted, error)) throw Refusal{error};
  }
  for (const std::string& path : outputs) NeedFolder(fs::path(path).parent_path().empty()
                                                         ? std::string(".")
                                                         : fs::path(path).parent_path().string());

  MessageSettings settings;
  settings.quantiser = o.quantiser;
  settings.rate = o.rate;
  settings.levelSpeech = !o.keepLevel;
  settings.speech = speech;
  settings.maxBytes = o.maxBytes;
  // The speech clip is made on a second thread while the video clip is checked.
  settings.runBeside = [](std::function<void()> task) {
    auto worker = std::make_shared<std::thread>(std::move(task));
    return std::function<void()>([worker] { worker->join(); });
  };
  const auto player = clipnote::PlayerTemplate();
  settings.playerTemplate.assign(player.begin(), player.end());
  MessagePipeline pipeline(settings);
  pipeline.SetCancel(&interrupted);
  pipeline.SetProgress([&](Stage stage, double fraction) { show(StageName(stage), fraction); });
  if (!spoken.empty()) pipeline.AddSound(spoken, 1, spokenRate);

  const double total = wanted > 0 ? wanted : 1;
  const auto tooLong = [&](double seconds) { return seconds > kMaxMessageSeconds + 1; };
  bool overLimit = false;
  const PictureFn onPicture = [&](double seconds, const SourcePicture& picture) {
    if (tooLong(seconds)) {
      overLimit = true;
      return false;
    }
    pipeline.AddPicture(seconds, picture);
    return true;
  };
  const SoundFn onSound = [&](std::span<const int16_t> samples, int rate) {
    if (tooLong(pipeline.SoundSeconds())) {
      overLimit = true;
      return false;
    }
    return pipeline.AddSound(samples, 1, rate);
  };
  const ReadProgressFn onRead = [&](double seconds) { show("reading", seconds / total); };
  const ReadWindow window{o.start, o.duration};
  const bool ownSound = speech && !soundFile && spoken.empty();
  if (!video.Read(window, onPicture, ownSound ? onSound : SoundFn{}, onRead, &interrupted, error)) {
    throw Refusal{error};
  }
  if (soundFile && !soundFile->Read(window, {}, onSound, {}, &interrupted, error)) throw Refusal{error};
  if (interrupted) throw Refusal{"interrupted"};
  if (overLimit) throw Refusal{"the message would last more than 300 s" + limit};
  if (pipeline.PictureSeconds() == 0) throw Refusal{"'" + o.video + "' has no picture that ffmpeg can decode"};
  if (speech && pipeline.SoundSeconds() == 0) {
    throw Refusal{"'" + (o.audio ? *o.audio : o.video) + "' has no sound that ffmpeg can decode"};
  }

  AuthoredMessage message;
  if (!pipeline.Finish(message, error)) {
    if (error.find("up to 300 s") != std::string::npos) error += ": take a part with --start and --duration";
    throw Refusal{error};
  }

  // Every output of the run, put in place together.
  std::vector<std::unique_ptr<clipnote::tools::OutputFile>> files;
  const auto add = [&](const std::string& path, const void* data, size_t size) {
    auto file = std::make_unique<clipnote::tools::OutputFile>();
    if (!file->Open(path, error)) throw Refusal{error + "; nothing written"};
    std::fwrite(data, 1, size, file->stream());
    if (!file->Finish(error)) throw Refusal{error + "; nothing written"};
    files.push_back(std::move(file));
  };
  show(StageName(Stage::kWriting), 0);
  add(moviePath, message.movie.data(), message.movie.size());
  add(voicePath, message.voice.data(), message.voice.size());
  if (o.buildPlayer) add(Join(*o.buildPlayer, "clipnote.exe"), message.executable.data(), message.executable.size());
  if (o.html) {
    MessageInput input;
    input.bytes = message.executable;
    std::string reason;
    const auto read = clipnote::message::ReadMessage(input.bytes, "message.exe",
                                                     clipnote::message::SpeechForm::ByName, reason);
    if (!read) throw Refusal{"the message cannot be read back: " + reason};
    input.message = *read;
    if (!speech) input.message.speech.reset();  // a page without sound plays its pictures alone
    const auto page = MessagePage(input, "message.exe", error);
    if (!page) throw Refusal{error};
    add(*o.html, page->data(), page->size());
  }
  if (interrupted) throw Refusal{"interrupted"};
  std::vector<clipnote::tools::OutputFile*> all;
  for (auto& f : files) all.push_back(f.get());
  if (!clipnote::tools::CommitOutputs(all, error)) throw Refusal{error + "; nothing written"};
  bar.Done();
  if (!o.quiet) {
    PrintSummary(message, speech);
    std::printf("wrote %s and %s\n", moviePath.c_str(), voicePath.c_str());
    if (o.buildPlayer) std::printf("wrote %s\n", Join(*o.buildPlayer, "clipnote.exe").c_str());
    if (o.html) std::printf("wrote %s\n", o.html->c_str());
  }

  if (o.buildNativePlayer) {
    char work[] = "/tmp/make-message-build-XXXXXX";
    if (mkdtemp(work) == nullptr) throw Refusal{std::string("cannot make a build folder: ") + std::strerror(errno)};
    std::vector<std::pair<std::string, std::string>> built;
    const auto log = [&](const std::string& line) {
      if (!o.quiet) std::fprintf(stderr, "%s\n", line.c_str());
    };
    // A checkout that has moved since make-message was built can be named.
    const char* named = std::getenv("CLIPNOTE_SOURCE_DIR");
    const std::string source = named != nullptr && *named != '\0' ? named : CLIPNOTE_SOURCE_DIR;
    const bool ok = BuildPlayers(source, message.movie, message.voice, work, built, log, error);
    std::vector<std::unique_ptr<clipnote::tools::OutputFile>> players;
    std::string commitError;
    bool placed = ok && !interrupted;
    if (placed) {
      std::vector<clipnote::tools::OutputFile*> list;
      for (const auto& [name, builtPath] : built) {
        const std::string& path = builtPath;  // a lambda may not capture a structured binding before C++23 in clang
        const std::vector<uint8_t> bytes = [&] {
          std::ifstream in(path, std::ios::binary);
          return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }();
        auto file = std::make_unique<clipnote::tools::OutputFile>();
        const std::string target = Join(*o.buildNativePlayer, name.c_str());
        placed = placed && file->Open(target, commitError);
        if (!placed) break;
        std::fwrite(bytes.data(), 1, bytes.size(), file->stream());
        if (name == "clipnote") fchmod(fileno(file->stream()), 0755);
        placed = file->Finish(commitError);
        list.push_back(file.get());
        players.push_back(std::move(file));
      }
      placed = placed && clipnote::tools::CommitOutputs(list, commitError);
    }
    std::error_code ec;
    fs::remove_all(work, ec);
    if (!ok || interrupted) throw Refusal{interrupted ? "interrupted" : error};
    if (!placed) throw Refusal{commitError + "; the players were not written"};
    for (const auto& [name, path] : built) log("built " + Join(*o.buildNativePlayer, name.c_str()));
  }
  return kExitMade;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const auto done = ParseOptions(argc, argv, options)) return *done;
  struct sigaction action = {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
  try {
    return Run(options);
  } catch (const Refusal& r) {
    if (interrupted) {
      std::fprintf(stderr, "\nmake-message: interrupted; this run's unfinished files removed\n");
      return kExitInterrupted;
    }
    return ct::Refuse("make-message: error", r.text);
  }
}
