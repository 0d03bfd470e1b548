// av_recorder: records what a person would see and hear, against one clock.
//
// Two threads run side by side until the time is up or SIGTERM/SIGINT arrives:
// - the screen thread grabs the X screen (shared memory when the server offers
//   it) as fast as it can and writes, per grab, the monotonic time at which the
//   grab was taken and how many pixels show the marker colour (a saturated
//   green, which nothing else on a desktop of grey widgets uses), plus whether
//   the named window is mapped;
// - the sound thread reads a PulseAudio source (the null sink's monitor) in
//   small fragments. A small fragment size is also what makes the measurement
//   true: a null sink renders as far ahead of real time as the lowest latency
//   any of its clients asks for, and the monitor's recording stream is such a
//   client, so the sound reaches the monitor within one fragment of its playing
//   time whatever buffer the player itself uses.
//
// Output: the events file holds one line per grab,
//   v <ns> <marker pixels> <window mapped 0/1>
// the sound file the raw signed 16-bit mono samples, and the sound file's
// ".times" companion one line per fragment read,
//   a <samples so far> <ns at which the last of them was played>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> stopping{false};

void RequestStop(int) { stopping = true; }

int64_t NowNs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

struct Options {
  const char* source = nullptr;
  const char* eventsPath = nullptr;
  const char* soundPath = nullptr;
  const char* windowTitle = nullptr;
  double seconds = 60;
  unsigned rate = 48000;
  unsigned fragmentMs = 5;
};

// A saturated green: bright green, dim red and blue.
bool IsMarker(uint32_t pixel) {
  const unsigned r = (pixel >> 16) & 0xff, g = (pixel >> 8) & 0xff, b = pixel & 0xff;
  return g >= 150 && r < 110 && b < 110;
}

bool HasMappedWindowNamed(Display* display, Window window, const char* title, int depth) {
  char* name = nullptr;
  if (XFetchName(display, window, &name) && name != nullptr) {
    const bool match = std::strcmp(name, title) == 0;
    XFree(name);
    if (match) {
      XWindowAttributes attributes;
      if (XGetWindowAttributes(display, window, &attributes) &&
          attributes.map_state == IsViewable) {
        return true;
      }
    }
  }
  if (depth > 4) return false;
  Window root, parent, *children = nullptr;
  unsigned count = 0;
  if (!XQueryTree(display, window, &root, &parent, &children, &count)) return false;
  bool found = false;
  for (unsigned i = 0; i < count && !found; ++i) {
    found = HasMappedWindowNamed(display, children[i], title, depth + 1);
  }
  if (children != nullptr) XFree(children);
  return found;
}

int RecordScreen(const Options& options, FILE* events, const int64_t endNs) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "av_recorder: cannot open the X display\n");
    return 1;
  }
  const int screen = DefaultScreen(display);
  const Window root = RootWindow(display, screen);
  const int width = DisplayWidth(display, screen), height = DisplayHeight(display, screen);
  XShmSegmentInfo shm{};
  XImage* image = nullptr;
  const bool useShm = XShmQueryExtension(display);
  if (useShm) {
    image = XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen),
                            ZPixmap, nullptr, &shm, width, height);
    shm.shmid = shmget(IPC_PRIVATE, image->bytes_per_line * image->height, IPC_CREAT | 0600);
    shm.shmaddr = image->data = static_cast<char*>(shmat(shm.shmid, nullptr, 0));
    shm.readOnly = False;
    XShmAttach(display, &shm);
    XSync(display, False);
    shmctl(shm.shmid, IPC_RMID, nullptr);  // goes once both sides detach
  }
  int grabs = 0;
  int mapped = options.windowTitle == nullptr ? 1 : 0;
  while (!stopping && NowNs() < endNs) {
    const int64_t before = NowNs();
    XImage* grabbed = image;
    if (useShm) {
      XShmGetImage(display, root, image, 0, 0, AllPlanes);
    } else {
      grabbed = XGetImage(display, root, 0, 0, width, height, AllPlanes, ZPixmap);
    }
    const int64_t after = NowNs();
    long marker = 0;
    if (grabbed != nullptr && grabbed->bits_per_pixel == 32) {
      for (int y = 0; y < height; ++y) {
        const auto* row =
            reinterpret_cast<const uint32_t*>(grabbed->data + y * grabbed->bytes_per_line);
        for (int x = 0; x < width; ++x) marker += IsMarker(row[x]);
      }
    }
    if (!useShm && grabbed != nullptr) XDestroyImage(grabbed);
    // The window is looked for until it is seen; afterwards it stays mapped
    // for the purpose of the measurement.
    if (!mapped && (grabs % 2) == 0) {
      mapped = HasMappedWindowNamed(display, root, options.windowTitle, 0);
    }
    // The screen was as grabbed somewhere between the request and the reply.
    std::fprintf(events, "v %lld %ld %d\n", static_cast<long long>((before + after) / 2), marker,
                 mapped);
    ++grabs;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (useShm) {
    XShmDetach(display, &shm);
    XDestroyImage(image);
    shmdt(shm.shmaddr);
  }
  XCloseDisplay(display);
  return 0;
}

int RecordSound(const Options& options, FILE* events, FILE* sound, const int64_t endNs) {
  const pa_sample_spec format{PA_SAMPLE_S16LE, options.rate, 1};
  const uint32_t fragmentBytes = options.rate * options.fragmentMs / 1000 * 2;
  pa_buffer_attr attributes;
  std::memset(&attributes, 0xff, sizeof attributes);
  attributes.fragsize = fragmentBytes;
  int error = 0;
  pa_simple* stream = pa_simple_new(nullptr, "av_recorder", PA_STREAM_RECORD, options.source,
                                    "monitor", &format, nullptr, &attributes, &error);
  if (stream == nullptr) {
    std::fprintf(stderr, "av_recorder: cannot record %s: %s\n", options.source,
                 pa_strerror(error));
    stopping = true;
    return 1;
  }
  std::vector<int16_t> buffer(fragmentBytes / 2);
  long long total = 0;
  while (!stopping && NowNs() < endNs) {
    if (pa_simple_read(stream, buffer.data(), buffer.size() * 2, &error) < 0) {
      std::fprintf(stderr, "av_recorder: reading failed: %s\n", pa_strerror(error));
      break;
    }
    const int64_t now = NowNs();
    const pa_usec_t latency = pa_simple_get_latency(stream, &error);
    total += static_cast<long long>(buffer.size());
    std::fwrite(buffer.data(), 2, buffer.size(), sound);
    std::fprintf(events, "a %lld %lld\n", total,
                 static_cast<long long>(now - static_cast<int64_t>(latency) * 1000));
  }
  pa_simple_free(stream);
  return 0;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--source") options.source = value;
    else if (name == "--events") options.eventsPath = value;
    else if (name == "--sound") options.soundPath = value;
    else if (name == "--window") options.windowTitle = value;
    else if (name == "--seconds") options.seconds = std::atof(value);
    else if (name == "--rate") options.rate = static_cast<unsigned>(std::atoi(value));
    else if (name == "--fragment-ms") options.fragmentMs = static_cast<unsigned>(std::atoi(value));
    else return false;
  }
  return options.source != nullptr && options.eventsPath != nullptr &&
         options.soundPath != nullptr && options.seconds > 0 && options.rate >= 8000 &&
         options.fragmentMs >= 1 && options.fragmentMs <= 100;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (argc % 2 == 0 || !ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: av_recorder --source PULSE_SOURCE --events FILE --sound FILE "
                 "[--window TITLE] [--seconds N] [--rate HZ] [--fragment-ms MS]\n");
    return 2;
  }
  std::signal(SIGTERM, RequestStop);
  std::signal(SIGINT, RequestStop);
  FILE* screenEvents = std::fopen(options.eventsPath, "w");
  FILE* soundEvents = std::fopen((std::string(options.soundPath) + ".times").c_str(), "w");
  FILE* sound = std::fopen(options.soundPath, "wb");
  if (screenEvents == nullptr || soundEvents == nullptr || sound == nullptr) {
    std::fprintf(stderr, "av_recorder: cannot write the output files\n");
    return 1;
  }
  const int64_t endNs = NowNs() + static_cast<int64_t>(options.seconds * 1e9);
  int soundResult = 0;
  std::thread soundThread(
      [&] { soundResult = RecordSound(options, soundEvents, sound, endNs); });
  // Both are recording before anything is started: say so on stdout.
  std::printf("recording\n");
  std::fflush(stdout);
  const int screenResult = RecordScreen(options, screenEvents, endNs);
  stopping = true;
  soundThread.join();
  std::fclose(screenEvents);
  std::fclose(soundEvents);
  std::fclose(sound);
  return screenResult != 0 ? screenResult : soundResult;
}
