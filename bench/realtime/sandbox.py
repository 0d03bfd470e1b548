"""A private screen and a real-time sound sink for the measurements.

One Xvfb screen, one PulseAudio server with a null sink (it plays in real time: its clock is
the system's), an ALSA configuration whose default device is that server (for the native
player), and optionally a Wine prefix whose sound goes to that server too. Everything started
here is stopped on leaving; nothing is left running.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "tests" / "support"))
from clipnote_test_support import VirtualDisplay  # noqa: E402

SINK = "clipnote_realtime"
SINK_RATE = 48000
# The latency the null sink is held to, hence how far ahead of real time it renders: the
# recorder's bound on error (a constant, taken off with mpv's offset). A desktop sound
# server runs its device with a few tens of milliseconds; 10 ms makes Wine's output run
# dry on a busy machine. CLIPNOTE_SINK_LATENCY_MS sets another for an experiment.
SINK_LATENCY_MS = int(os.environ.get("CLIPNOTE_SINK_LATENCY_MS", "25"))

ALSA_CONFIG = """pcm.!default { type pulse }
ctl.!default { type pulse }
"""


class SandboxError(Exception):
    pass


class Sandbox:
    def __init__(self, wine_prefix=None, screen="640x480x24"):
        self._wine_prefix = Path(wine_prefix) if wine_prefix else None
        self._screen = screen
        self._temp = None
        self._display = None
        self._pulse = None
        self.env = None
        self.monitor = SINK + ".monitor"

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
        for tool in ("Xvfb", "pulseaudio", "pactl"):
            if shutil.which(tool) is None:
                raise SandboxError(f"{tool} is missing: run scripts/setup")
        self._temp = Path(tempfile.mkdtemp(prefix="clipnote-realtime-"))
        runtime = self._temp / "runtime"
        runtime.mkdir(mode=0o700)
        (self._temp / "home").mkdir()
        socket = runtime / "pulse.sock"
        (self._temp / "asound.conf").write_text(ALSA_CONFIG)
        env = dict(os.environ)
        env.update({
            "HOME": str(self._temp / "home"),
            "XDG_RUNTIME_DIR": str(runtime),
            "PULSE_SERVER": f"unix:{socket}",
            "ALSA_CONFIG_PATH": str(self._temp / "asound.conf"),
            "SDL_AUDIODRIVER": "pulseaudio",
        })
        env.pop("PULSE_SINK", None)
        self._display = VirtualDisplay(self._screen)
        env["DISPLAY"] = self._display.name
        self._pulse = subprocess.Popen(
            ["pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
             "--use-pid-file=no", "--log-target=stderr", "--log-level=error",
             # As on a desktop, where the sound server gets real-time scheduling.
             "--realtime=yes", "--high-priority=yes",
             "-L", f"module-null-sink sink_name={SINK} rate={SINK_RATE} channels=1",
             "-L", f"module-native-protocol-unix socket={socket} auth-anonymous=1"],
            env=env, stdout=subprocess.DEVNULL, stderr=open(self._temp / "pulse.log", "w"))
        deadline = time.monotonic() + 20
        while subprocess.run(["pactl", "info"], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL).returncode != 0:
            if self._pulse.poll() is not None or time.monotonic() > deadline:
                log = (self._temp / "pulse.log").read_text(errors="replace")
                raise SandboxError(f"the PulseAudio server did not start: {log}")
            time.sleep(0.1)
        subprocess.run(["pactl", "set-default-sink", SINK], env=env, check=True)
        self.env = env
        self._hold_low_latency()
        if self._wine_prefix is not None:
            self._prepare_wine()

    def _hold_low_latency(self):
        """A null sink renders as far ahead of real time as the lowest latency any client
        asks for (two seconds when none asks), and what it has rendered ahead it plays out
        before anything new. A recording client that asks for SINK_LATENCY_MS, kept for
        the whole session, holds it to that; the rest of the first two seconds is waited
        out."""
        self._holder = subprocess.Popen(
            ["parec", "--raw", f"--latency-msec={SINK_LATENCY_MS}", "-d", self.monitor],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while self._sink_latency_ms() > 2 * SINK_LATENCY_MS + 10:
            if time.monotonic() > deadline:
                raise SandboxError("the null sink did not come down to a low latency")
            time.sleep(0.2)

    def _sink_latency_ms(self):
        listing = subprocess.run(["pactl", "list", "sinks"], env=self.env, text=True,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout
        for line in listing.splitlines():
            words = line.split()
            if words[:1] == ["Latency:"] and len(words) > 2 and words[2] == "usec,":
                return int(words[1]) / 1000
        return float("inf")

    def _prepare_wine(self):
        """A 32-bit prefix (kept between runs where the caller keeps its folder) whose sound
        goes to the PulseAudio server; its wineserver is started at once, so a start of
        the player is a start of a program on a running system."""
        if shutil.which("wine") is None:
            raise SandboxError("wine is missing: run scripts/setup")
        self.env.update({
            "WINEPREFIX": str(self._wine_prefix),
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "WINEARCH": "win32",
        })
        if not (self._wine_prefix / "system.reg").exists():
            self._wine(["wineboot", "-i"])
        self._wine(["wine", "reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Audio",
                    "/d", "pulse", "/f"])
        self._wine(["wineserver", "-w"])
        self._wineserver = subprocess.Popen(["wineserver", "-f", "-p"], env=self.env,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def _wine(self, command):
        result = subprocess.run(command, env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=300, text=True)
        if result.returncode != 0:
            raise SandboxError(f"{' '.join(command)} failed: {result.stdout[-2000:]}")

    def __exit__(self, *exc):
        if self.env and "WINEPREFIX" in self.env:
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
            server = getattr(self, "_wineserver", None)
            if server is not None:
                try:
                    server.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    server.kill()
        holder = getattr(self, "_holder", None)
        if holder is not None:
            holder.terminate()
            holder.wait(timeout=10)
        if self._pulse is not None:
            self._pulse.terminate()
            try:
                self._pulse.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self._pulse.kill()
        if self._display is not None:
            self._display.stop()
        if self._temp is not None:
            shutil.rmtree(self._temp, ignore_errors=True)
        return False
