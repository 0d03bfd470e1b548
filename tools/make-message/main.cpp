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
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "authoring/message_pipeline.h"
#include "message/message_file.h"
#include "resources/player_template.h"
#include "tools/clipnote-decode/atomic_output.h"
#include "tools/clipnote-decode/clip_summary.h"
#include "tools/clipnote-decode/html_page.h"
#include "tools/make-message/media_reader.h"
#include "tools/make-message/native_player.h"
#include "tools/make-message/progress.h"
#include "tools/make-message/speech_synthesis.h"

namespace fs = std::filesystem;
using namespace clipnote::authoring;
using namespace makemessage;

namespace {

constexpr int kExitMade = 0;
constexpr int kExitRefused = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

constexpr const char* kHelp =
    "usage: make-message VIDEO [--audio FILE | --say TEXT | --say-file FILE | --no-audio] [options]\n"
    "\n"
    "Makes a Clipnote message from any video (any format ffmpeg reads; a still image is held\n"
    "for the length of the speech): the video clip message.263 and the speech clip message.723,\n"
    "and with --build-player the message itself, clipnote.exe. A message lasts at most 300 s:\n"
    "take a part of a longer video with --start and --duration.\n"
    "\n"
    "sound (default: the video's own):\n"
    "  --audio FILE           the sound of another file\n"
    "  --say TEXT             a text spoken with espeak-ng\n"
    "  --say-file FILE        a file whose text espeak-ng speaks (UTF-8)\n"
    "  --no-audio             a message without sound (the player says 'Video only')\n"
    "  --voice NAME           espeak-ng voice (default en-us; an unknown one lists the known)\n"
    "  --speed WPM            espeak-ng words per minute\n"
    "  --keep-level           do not bring the speech peak to -3 dBFS\n"
    "  --rate 6.3|5.3         speech at 6.3 kbit/s (default) or 5.3 kbit/s\n"
    "\n"
    "pictures:\n"
    "  --quantiser Q          H.263 quantiser 2..31, lower is sharper and larger (default 8)\n"
    "  --start SECONDS        begin this far into the video (as ffmpeg's -ss)\n"
    "  --duration SECONDS     take this much of it (as ffmpeg's -t)\n"
    "  --max-size BYTES       make the whole clipnote.exe at most this large: quantiser and\n"
    "                         picture spacing are chosen, and 5.3 kbit/s speech when 6.3 does\n"
    "                         not fit; refused, saying what it needs, when nothing fits\n"
    "\n"
    "output (one message, one folder; missing folders are made):\n"
    "  -o, --output DIR       where message.263 and message.723 go (default: the\n"
    "                         --build-player folder if given, else here)\n"
    "  --build-player DIR     also write DIR/clipnote.exe, the Windows player with the message\n"
    "  --build-native-player DIR\n"
    "                         also build clipnote.exe and the native clipnote around the clips\n"
    "                         from a copy of this source (cmake and mingw-w64; minutes)\n"
    "  --html OUT.html        also write the message as one web page that plays in any browser,\n"
    "                         straight from disk (needs the browser player's page, built under web/)\n"
    "  -f, -y, --force        replace files that are already there\n"
    "  -q, --quiet            no progress and no summary\n"
    "  --decoder PATH         accepted for old scripts (the clips are checked with the built-in\n"
    "                         decoders); PATH must be an executable\n"
    "  --work-dir DIR         accepted for old scripts (nothing intermediate is written)\n"
    "  -h, --help             this text\n"
    "  --version              the version\n";

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

// The command line's one seam: an option table, usage errors as one line and a pointer to --help.
struct UsageError {
  std::string text;
};

bool ParseNumber(const std::string& text, double& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text.c_str(), &end);
  return !text.empty() && end != nullptr && *end == '\0' && errno == 0 && std::isfinite(value);
}

bool ParseInteger(const std::string& text, int64_t& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text.c_str(), &end, 10);
  return !text.empty() && end != nullptr && *end == '\0' && errno == 0;
}

// Returns 0 to go on, or the exit code (help and version end the run).
int ParseOptions(int argc, char** argv, Options& o) {
  int sounds = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool inlineValue = false;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
      inlineValue = true;
    }
    const auto next = [&]() -> std::string {
      if (inlineValue) return value;
      if (i + 1 >= argc) throw UsageError{arg + " needs a value"};
      return argv[++i];
    };
    if (arg == "-h" || arg == "--help") {
      std::fputs(kHelp, stdout);
      return -1;
    } else if (arg == "--version") {
      std::printf("make-message (Clipnote) %s\n", CLIPNOTE_VERSION);
      return -1;
    } else if (arg == "--audio") {
      o.audio = next();
      ++sounds;
    } else if (arg == "--say") {
      o.say = next();
      ++sounds;
    } else if (arg == "--say-file") {
      o.sayFile = next();
      ++sounds;
    } else if (arg == "--no-audio") {
      o.noAudio = true;
      ++sounds;
    } else if (arg == "-o" || arg == "--output") {
      o.output = next();
    } else if (arg == "--quantiser") {
      int64_t q = 0;
      if (!ParseInteger(next(), q) || q < 2 || q > 31) throw UsageError{"--quantiser must be between 2 and 31"};
      o.quantiser = static_cast<int>(q);
    } else if (arg == "--voice") {
      o.voice = next();
    } else if (arg == "--speed") {
      int64_t s = 0;
      if (!ParseInteger(next(), s) || s < 10 || s > 1000) throw UsageError{"--speed is words a minute, 10..1000"};
      o.speed = static_cast<int>(s);
    } else if (arg == "--keep-level") {
      o.keepLevel = true;
    } else if (arg == "--rate") {
      const std::string r = next();
      if (r != "6.3" && r != "5.3") throw UsageError{"--rate is 6.3 or 5.3, not " + r};
      o.rate = r == "6.3" ? SpeechRate::k63 : SpeechRate::k53;
    } else if (arg == "--start" || arg == "--duration") {
      double v = 0;
      const std::string text = next();
      if (!ParseNumber(text, v) || v < 0 || (arg == "--duration" && v == 0)) {
        throw UsageError{arg + " is a number of seconds" + (arg == "--duration" ? " above 0" : "") + ", not " + text};
      }
      (arg == "--start" ? o.start : o.duration) = v;
    } else if (arg == "--max-size") {
      int64_t b = 0;
      if (!ParseInteger(next(), b) || b <= 0) throw UsageError{"--max-size is a number of bytes"};
      o.maxBytes = b;
    } else if (arg == "--decoder") {
      o.decoder = next();
    } else if (arg == "--build-player") {
      o.buildPlayer = next();
    } else if (arg == "--build-native-player") {
      o.buildNativePlayer = next();
    } else if (arg == "--html") {
      o.html = next();
    } else if (arg == "--work-dir") {
      o.workDir = next();
    } else if (arg == "-f" || arg == "-y" || arg == "--force") {
      o.force = true;
    } else if (arg == "-q" || arg == "--quiet") {
      o.quiet = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      throw UsageError{"unknown option " + arg};
    } else if (o.video.empty()) {
      o.video = arg;
    } else {
      throw UsageError{"one video at a time ('" + arg + "' is a second)"};
    }
  }
  if (o.video.empty()) throw UsageError{"no video given"};
  if (sounds > 1) throw UsageError{"--audio, --say, --say-file and --no-audio exclude each other"};
  return 0;
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

// The summary in a person's terms, counted as `clipnote-decode info` counts.
void PrintSummary(const AuthoredMessage& m, bool speech) {
  const VideoSummary video = SummariseVideo(m.movie);
  const SpeechSummary voice = SummariseSpeech(m.voice, true);
  const double seconds = video.lastTick / 30.0;
  std::printf("message: %.2f s, %d pictures (%.1f a second), quantiser %d\n", seconds, video.pictures,
              seconds > 0 ? video.pictures / seconds : 0.0, m.quantiser);
  if (speech) {
    const int spoken = voice.frames63 + voice.frames53;
    const double total = voice.Frames() * 0.03;
    std::printf("speech: %.2f s of %.2f s sent as speech (%d%%) at %s kbit/s, the rest as silence\n", spoken * 0.03,
                total, voice.Frames() > 0 ? spoken * 100 / voice.Frames() : 0,
                m.rate == SpeechRate::k63 ? "6.3" : "5.3");
  } else {
    std::printf("speech: none (the player says 'Video only')\n");
  }
  std::printf("size: pictures %zu bytes, speech %zu bytes", m.movie.size(), m.voice.size());
  if (!m.executable.empty()) std::printf(", the message executable %zu bytes", m.executable.size());
  std::printf("\n");
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
  if (!o.force) {
    for (const std::string& path : outputs) {
      if (fs::exists(path)) throw Refusal{"'" + path + "' is already there: --force (or -y) replaces it"};
    }
  }
  if (o.workDir) NeedFolder(*o.workDir);

  Progress progress(!o.quiet && isatty(STDERR_FILENO));
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
    progress.Show("speaking the text", 0);
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
  const auto player = clipnote::PlayerTemplate();
  settings.playerTemplate.assign(player.begin(), player.end());
  MessagePipeline pipeline(settings);
  pipeline.SetCancel(&interrupted);
  pipeline.SetProgress([&](Stage stage, double fraction) { progress.Show(StageName(stage), fraction); });
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
  const ReadProgressFn onRead = [&](double seconds) { progress.Show("reading", seconds / total); };
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
  progress.Show(StageName(Stage::kWriting), 0);
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
  progress.Clear();
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
    const bool ok = BuildPlayers(CLIPNOTE_SOURCE_DIR, message.movie, message.voice, work, built, log, error);
    std::vector<std::unique_ptr<clipnote::tools::OutputFile>> players;
    std::string commitError;
    bool placed = ok;
    if (ok) {
      std::vector<clipnote::tools::OutputFile*> list;
      for (const auto& [name, path] : built) {
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
    if (!ok) throw Refusal{error};
    if (!placed) throw Refusal{commitError + "; the players were not written"};
    for (const auto& [name, path] : built) log("built " + Join(*o.buildNativePlayer, name.c_str()));
  }
  return kExitMade;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  try {
    const int done = ParseOptions(argc, argv, options);
    if (done != 0) return kExitMade;
  } catch (const UsageError& e) {
    std::fprintf(stderr, "make-message: %s\nTry 'make-message --help' for more.\n", e.text.c_str());
    return kExitUsage;
  }
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
    std::fprintf(stderr, "make-message: error: %s\n", r.text.c_str());
    return kExitRefused;
  }
}
