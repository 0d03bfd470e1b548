"""Runs Windows programs under Wine on a private virtual X display, for tests.

    with WineSession() as wine:
        player = wine.start(exe)
        windows = wine.wait_for_windows("Tarvany Clipnote Player")
        # the picture on screen against an expected image
        area = native_picture_area(wine.window_geometry(windows[0]))
        wine.screenshot("picture.png", crop=area)
        assert psnr("picture.png", "expected.png") > 30
        wine.run(helper_exe, "Tarvany Clipnote Player")
        code = wine.wait_for_exit(player)

Each session has its own Xvfb server and, unless told otherwise, a fresh Wine
prefix in a temporary folder, initialised once with `wineboot -i`. With
`capture_sound=<file>` everything played through ALSA's default device (which is
what Wine plays to) is written to that file as raw PCM instead (see
alsa_capture.py).
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "support"))
from clipnote_test_support import VirtualDisplay, kept_file, scratch  # noqa: E402,F401

PLAYER_TITLE = "Tarvany Clipnote Player"
PLAY_BUTTON = (22, 303)   # centre of the Play/Stop button, (0, 289) 44 x 28 in client pixels
SIZE_BUTTON = (67, 303)   # centre of the size button, (45, 289) 44 x 28
SKIP = 77  # CTest's SKIP_RETURN_CODE for the tests built on this harness


class HarnessError(Exception):
    pass


def check(condition, message):
    if not condition:
        raise HarnessError(message)


def run_script(main):
    """Runs a test script's main: a HarnessError fails the test with its reason."""
    try:
        main()
    except HarnessError as error:
        print(f"FAIL: {error}", file=sys.stderr)
        sys.exit(1)


def missing_tools(*tools):
    return [tool for tool in tools if shutil.which(tool) is None]


def require_tools(*tools):
    """Exits the test as skipped when a tool is missing, except in CI, where a test
    that cannot run is a failure."""
    missing = missing_tools(*tools)
    if not missing:
        return
    message = f"missing tools: {' '.join(missing)} (scripts/setup installs them)"
    if os.environ.get("CI"):
        print(f"FAIL: {message}; CI must run this test", file=sys.stderr)
        sys.exit(1)
    print(f"SKIP: {message}", file=sys.stderr)
    sys.exit(SKIP)


# The boxes the player shows before its window when a message lacks a clip: title, text.
MISSING_CLIP_BOXES = {
    "Video only": "This message contains video only!",
    "Audio only": "This message contains audio only!",
}


def add_player_options(parser):
    """--pack DECODER --pack-clip FILE...: play a message executable that DECODER's pack
    command writes from the clips (into the player template it carries), not clipnote.exe.
    --expect-box TITLE: the player first shows that missing-clip box, to be dismissed.
    --player EXE: play that message executable as it is (one make-message wrote, say)."""
    parser.add_argument("--pack", metavar="DECODER", help="clipnote-decode, to write the player")
    parser.add_argument("--pack-clip", action="append", default=[], metavar="FILE")
    parser.add_argument("--player", metavar="EXE", help="a message executable to play as it is")
    parser.add_argument("--expect-box", choices=sorted(MISSING_CLIP_BOXES), metavar="TITLE")


def start_player(wine, args, player):
    """Starts the player, dismisses the missing-clip box the options expect, and
    returns (process, window) once its window is on screen."""
    process = wine.start(player)
    if args.expect_box:
        texts = find_win32_output(args.win32_build_dir, "window_texts.exe")
        wine.dismiss_box(args.expect_box, MISSING_CLIP_BOXES[args.expect_box], texts,
                         process=process)
    window = wine.wait_for_windows(PLAYER_TITLE, count=1, timeout=90, process=process)[0]
    return process, window


def player_to_test(args, work):
    """--player's executable, clipnote.exe of the Windows tree, or the one pack writes into work."""
    if getattr(args, "player", None):
        return Path(args.player)
    if not args.pack:
        return find_win32_output(args.win32_build_dir, "clipnote.exe")
    exe = Path(work) / "written.exe"
    result = subprocess.run([args.pack, "pack", *args.pack_clip, str(exe), "--force"], stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True, timeout=60)
    if result.returncode != 0:
        raise HarnessError(f"clipnote-decode pack failed: {result.stdout.strip()}")
    print(f"playing the written {result.stdout.strip()}")
    return exe


def find_win32_output(build_dir, name):
    """A program built by the Windows tree: the usual places first, then anywhere."""
    build_dir = Path(build_dir)
    for candidate in (build_dir / name, build_dir / "platform" / "win32" / name,
                      build_dir / "app" / name, build_dir / "tests" / "wine" / name):
        if candidate.is_file():
            return candidate
    found = sorted(build_dir.rglob(name))
    if not found:
        raise HarnessError(f"{name} not found under {build_dir}: build the Windows tree first")
    return found[0]


class WineSession:
    def __init__(self, prefix=None, capture_sound=None, screen="1024x768x24"):
        self._given_prefix = prefix
        self._capture_sound = capture_sound
        self._screen = screen
        self._temp = None
        self.display = None
        self.env = None
        self._started = []

    def __enter__(self):
        require_tools("wine", "wineboot", "wineserver", "Xvfb", "xdotool")
        self._temp = tempfile.mkdtemp(prefix="clipnote-wine-")
        prefix = Path(self._given_prefix) if self._given_prefix else Path(self._temp) / "prefix"
        try:
            self.display = VirtualDisplay(self._screen)
        except RuntimeError as error:
            raise HarnessError(str(error))
        env = dict(os.environ)
        env.update({
            "WINEPREFIX": str(prefix),
            "WINEDEBUG": "-all",
            # No Mono or Gecko installer prompts: the player needs neither.
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "DISPLAY": self.display.name,
        })
        fresh = not (prefix / "system.reg").exists()
        if fresh:
            env["WINEARCH"] = "win32"  # the player is a 32-bit program; a 32-bit prefix boots faster
        if self._capture_sound:
            from alsa_capture import capture_environment
            env.update(capture_environment(self._capture_sound, Path(self._temp)))
        self.env = env
        if fresh:
            self._wine_command(["wineboot", "-i"], timeout=300)
        if self._capture_sound:
            # Play through ALSA (where the capture device is), not PulseAudio.
            self._wine_command(["wine", "reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Audio",
                                "/d", "alsa", "/f"], timeout=120)
        return self

    def __exit__(self, *exc):
        for process in self._started:
            if process.poll() is None:
                process.kill()
        if self.env:
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        if self.display:
            self.display.stop()
        if self._temp:
            shutil.rmtree(self._temp, ignore_errors=True)
        return False

    def _wine_command(self, command, timeout):
        result = subprocess.run(command, env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=timeout, text=True)
        if result.returncode != 0:
            raise HarnessError(f"{' '.join(command)} failed ({result.returncode}): {result.stdout}")

    def start(self, exe, *args):
        """Starts a Windows program and returns its process (its exit code is the program's)."""
        exe = Path(exe).resolve()
        process = subprocess.Popen(["wine", str(exe), *args], env=self.env, cwd=exe.parent,
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self._started.append(process)
        return process

    def run(self, exe, *args, timeout=120):
        """Runs a Windows program to its end and returns its exit code and output."""
        process = self.start(exe, *args)
        try:
            output, _ = process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            raise HarnessError(f"{Path(exe).name} {' '.join(args)} still running after {timeout} s; "
                               f"windows titled {PLAYER_TITLE!r}: {len(self.windows())}")
        return process.returncode, output.decode(errors="replace")

    def wait_for_exit(self, process, timeout=60):
        try:
            return process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise HarnessError(f"process {process.args} still running after {timeout} s")

    def windows(self, title=PLAYER_TITLE):
        """Ids of the X windows on screen whose name is exactly `title`."""
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", f"^{title}$"],
                                env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                text=True, timeout=30)
        return result.stdout.split()

    def wait_for_windows(self, title=PLAYER_TITLE, count=1, timeout=60, process=None):
        """Polls until exactly `count` such windows are on screen; fails early if
        `process` ends meanwhile."""
        deadline = time.monotonic() + timeout
        while True:
            found = self.windows(title)
            if len(found) == count:
                return found
            if process is not None and process.poll() is not None:
                output = process.stdout.read().decode(errors="replace") if process.stdout else ""
                raise HarnessError(f"program ended with code {process.returncode} while waiting "
                                   f"for {count} window(s) titled {title!r}: {output}")
            if time.monotonic() > deadline:
                raise HarnessError(f"{len(found)} window(s) titled {title!r} after {timeout} s, "
                                   f"expected {count}")
            time.sleep(0.25)

    def control_texts(self, texts_exe, title=PLAYER_TITLE):
        """The texts of the controls of the dialog titled `title` (window_texts.exe)."""
        code, output = self.run(texts_exe, title, timeout=90)
        check(code == 0, f"window_texts.exe {title!r} exited with {code}: {output}")
        return [line.strip() for line in output.splitlines() if line.strip()]

    def dismiss_box(self, title, text, texts_exe, timeout=90, process=None):
        """Waits for a message box titled `title`, checks with `texts_exe`
        (window_texts.exe) that one of its controls says `text`, and presses Return
        on it; fails if the box is still there afterwards."""
        box = self.wait_for_windows(title, count=1, timeout=timeout, process=process)[0]
        shown = self.control_texts(texts_exe, title)
        check(text in shown, f"the box titled {title!r} says {shown}, expected {text!r}")
        # Without a window manager activation may be refused; focusing is enough for
        # the key, which goes to the focused window.
        for command in (["windowactivate", "--sync", box], ["windowfocus", "--sync", box]):
            subprocess.run(["xdotool", *command], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=30)
        subprocess.run(["xdotool", "key", "Return"], env=self.env, check=True, timeout=30)
        deadline = time.monotonic() + 30
        while self.windows(title):
            check(time.monotonic() < deadline, f"the box titled {title!r} stayed after Return")
            time.sleep(0.25)
        print(f"dismissed the box {title!r}: {text!r}")

    def window_geometry(self, window):
        """(x, y, width, height) of an X window, in screen pixels."""
        result = subprocess.run(["xdotool", "getwindowgeometry", "--shell", window], env=self.env,
                                stdout=subprocess.PIPE, text=True, check=True, timeout=30)
        values = dict(line.split("=", 1) for line in result.stdout.split())
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def click(self, window, point):
        """A left click at `point` of the X window (client pixels)."""
        subprocess.run(["xdotool", "mousemove", "--window", window, str(point[0]), str(point[1]),
                        "click", "1"], env=self.env, check=True, timeout=30)

    def screenshot(self, path, crop=None):
        """Saves the whole screen (or the (x, y, width, height) `crop` of it) with
        ImageMagick's import."""
        command = ["import", "-window", "root"]
        if crop:
            x, y, w, h = crop
            command += ["-crop", f"{w}x{h}+{x}+{y}", "+repage"]
        subprocess.run(command + [str(path)], env=self.env, check=True, timeout=60)


def native_picture_area(window_geometry):
    """Screen rectangle (x, y, 176, 144) of the picture the player shows at native
    size: it centres the picture at (client width / 2 - 88, client height / 2 - 92).
    Wine on a bare Xvfb (no window manager) maps only the client area, so the X
    window's geometry is the client rectangle."""
    x, y, width, height = window_geometry
    return x + width // 2 - 88, y + height // 2 - 92, 176, 144


def psnr(image_a, image_b):
    """PSNR in dB between two images of the same size (ImageMagick's compare);
    infinity for identical images."""
    result = subprocess.run(["compare", "-metric", "PSNR", str(image_a), str(image_b), "null:"],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)
    text = result.stderr.strip().split()[0] if result.stderr.strip() else ""
    if result.returncode > 1 or not text:
        raise HarnessError(f"compare failed: {result.stderr.strip()}")
    return float("inf") if text == "inf" else float(text)
