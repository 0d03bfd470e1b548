"""Headless chromium for the page's tests: the page served from a local server,
driven by selenium with Debian's chromedriver, and the native tools to compare with."""
import base64
import functools
import http.server
import os
import subprocess
import sys
import threading
import unittest

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
from clipnote_test_support import scratch_dir  # noqa: E402,F401
SITE = os.environ.get("CLIPNOTE_WEB_SITE", os.path.join(ROOT, "build", "web", "site"))
DECODE = os.environ.get("CLIPNOTE_DECODE", os.path.join(ROOT, "build", "native", "tools", "clipnote-decode", "clipnote-decode"))
FIXTURES = os.environ.get("CLIPNOTE_WEB_FIXTURES", "")
RESOURCES = os.path.join(ROOT, "resources")

# A stand-in audio context whose clock and output latency the test sets; the page
# pumps only when the test says so.
FAKE_AUDIO = """
window.clipnoteFakeAudio = {
  currentTime: 0, outputLatency: %(latency)s, baseLatency: 0, state: 'running', destination: {},
  resume() { return Promise.resolve(); },
  createBuffer(channels, length) { const data = new Float32Array(length); return { getChannelData: () => data }; },
  createBufferSource() { return { connect() {}, disconnect() {}, start() {}, stop() {} }; },
};
window.clipnoteTestHooks = { createAudioContext: () => window.clipnoteFakeAudio, manualPump: true };
"""


def require(path, what):
    if not os.path.exists(path):
        if os.environ.get("CI"):
            raise AssertionError(f"{what} missing: {path}")
        raise unittest.SkipTest(f"{what} missing: {path}")


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


class Server:
    """The site on 127.0.0.1 at a free port."""

    def __init__(self, directory, page="index.html"):
        handler = functools.partial(QuietHandler, directory=directory)
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()
        self.url = f"http://127.0.0.1:{self.httpd.server_address[1]}/{page}"

    def close(self):
        self.httpd.shutdown()
        self.httpd.server_close()


def chromium(autoplay=True, fake_latency=None, arguments=(), downloads=None, network_log=False):
    """Headless chromium; `arguments` are further switches (fake media devices...), `downloads`
    a folder the page's downloads go to, `network_log` keeps the network events for
    network_requests()."""
    options = webdriver.ChromeOptions()
    options.binary_location = os.environ.get("CLIPNOTE_CHROMIUM", "/usr/bin/chromium")
    for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=800,600",
                     "--autoplay-policy=" + ("no-user-gesture-required" if autoplay else "document-user-activation-required"),
                     *arguments]:
        options.add_argument(argument)
    if network_log:
        options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    driver = webdriver.Chrome(service=Service(os.environ.get("CLIPNOTE_CHROMEDRIVER", "/usr/bin/chromedriver")),
                              options=options)
    if downloads:
        driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    if fake_latency is not None:
        driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": FAKE_AUDIO % {"latency": fake_latency}})
    return driver


def network_requests(driver):
    """The addresses the page asked for since the last call (network_log drivers only)."""
    import json
    urls = []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            urls.append(message["params"]["request"]["url"])
        elif message["method"] == "Network.webSocketCreated":
            urls.append(message["params"]["url"])
    return urls


def descendants(pid):
    """The process ids under `pid`, from /proc."""
    children = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as f:
                    parent = int(f.read().rsplit(")", 1)[1].split()[1])
                children.setdefault(parent, []).append(int(entry))
            except OSError:
                pass
    found, todo = [], [pid]
    while todo:
        for child in children.get(todo.pop(), []):
            found.append(child)
            todo.append(child)
    return found


def worker_threads(driver):
    """How many dedicated workers run in the driver's chromium: each has a thread of its own."""
    count = 0
    for pid in descendants(driver.service.process.pid):
        try:
            for thread in os.listdir(f"/proc/{pid}/task"):
                with open(f"/proc/{pid}/task/{thread}/comm") as f:
                    count += f.read().startswith("DedicatedWorker")
        except OSError:
            pass
    return count


def recorder_letterbox(driver, width, height):
    """Where the recorder page places a picture of width x height in the message's picture:
    [x, y, width, height], from its own module."""
    return driver.execute_script(
        "const m = clipnoteRecorder.module, p = m._cn_rec_letterbox(%d, %d) >> 2;"
        "return Array.from(m.HEAP32.subarray(p, p + 4));" % (width, height))


def wait_for(driver, script, timeout=20):
    return WebDriverWait(driver, timeout).until(lambda d: d.execute_script(script))


# The page's own playback state, read in one script so that no state between two reads
# is seen: "starting" (a run not yet heard to start), "playing" (Stop offered and enabled)
# or "idle" (Play offered and enabled). The button's text alone says nothing: a disabled
# button keeps the text of the state before.
PLAYBACK_STATE = """
  const p = clipnotePage.playback, b = document.getElementById('play-button');
  const playing = p.playing && p.run && p.run.generation === p.generation && p.run.started;
  if (playing && !b.disabled && b.textContent === 'Stop') return 'playing';
  if (!p.playing && !b.disabled && b.textContent === 'Play') return 'idle';
  return 'starting';"""


def wait_for_playback(driver, state, notice=None, timeout=20):
    """Waits until the playback is in `state` ("playing" or "idle"); with `notice`, of the
    message whose notice starts so (the notice and the new playback change in one task)."""
    check = f"return document.getElementById('notice').textContent.startsWith({notice!r});" if notice else ""
    script = f"if (!(() => {{ {check or 'return true;'} }})()) return false; return (() => {{ {PLAYBACK_STATE} }})() === {state!r};"
    return wait_for(driver, script, timeout)


def canvas_rgb(driver):
    """The picture canvas read back: (width, height, RGB bytes top row first)."""
    width, height, encoded = driver.execute_script("""
      const c = document.getElementById('picture');
      const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      let s = ''; for (let i = 0; i < data.length; i += 4) s += String.fromCharCode(data[i], data[i+1], data[i+2]);
      return [c.width, c.height, btoa(s)];""")
    return width, height, base64.b64decode(encoded)


def element_rgb(driver, element_id):
    """An element as drawn on the page: (width, height, RGB bytes top row first), through
    ImageMagick's convert."""
    png = driver.find_element("id", element_id).screenshot_as_png
    size = subprocess.run(["identify", "-format", "%w %h", "png:-"], input=png, capture_output=True, check=True)
    width, height = map(int, size.stdout.split())
    rgb = subprocess.run(["convert", "png:-", "-depth", "8", "rgb:-"], input=png, capture_output=True, check=True)
    return width, height, rgb.stdout


def page_pcm(driver):
    encoded = driver.execute_script("""
      const p = clipnotePage.playback.lastPcm; const b = new Uint8Array(p.buffer, p.byteOffset, p.byteLength);
      let s = ''; for (let i = 0; i < b.length; i += 8192) s += String.fromCharCode(...b.subarray(i, i + 8192));
      return btoa(s);""")
    return base64.b64decode(encoded)


class NativeReference:
    """clipnote-decode's pictures and speech of the built-in message, converted for display by the player's code."""

    def __init__(self, owner):
        """The files go into the scratch folder of `owner`, a test case or class."""
        require(DECODE, "clipnote-decode")
        require(FIXTURES, "web-fixtures")
        self.dir = scratch_dir(owner)
        self.run(DECODE, "video", os.path.join(RESOURCES, "message.263"), self.path("message.yuv"), "--force")
        self.run(DECODE, "audio", os.path.join(RESOURCES, "message.723"), self.path("message.wav"), "--force")
        self.run(FIXTURES, "exe", os.path.join(RESOURCES, "message.263"), os.path.join(RESOURCES, "message.723"),
                 self.path("message.exe"))

    def path(self, name):
        return os.path.join(self.dir, name)

    @staticmethod
    def run(*command):
        subprocess.run(command, check=True, stdout=subprocess.DEVNULL)

    def display(self, index, doubled):
        """Picture `index` as the player shows it, RGB top row first."""
        out = self.path(f"display{index}.rgb")
        self.run(FIXTURES, "display", self.path("message.yuv"), str(index), out)
        with open(out, "rb") as f:
            data = f.read()
        native = 176 * 144 * 3
        return data[native:] if doubled else data[:native]

    def pcm(self):
        with open(self.path("message.wav"), "rb") as f:
            return f.read()[44:]
