#!/usr/bin/env python3
"""The recorder's figures in headless chromium with fake devices: a recording of SECONDS
(default 30) from a generated camera clip and speech, then the time from Stop to "Save"
enabled and the memory of the page's processes at the end. A benchmark, not a test.

usage: /usr/bin/python3 web/tools/bench_recorder.py [SECONDS] [--screenshot OUT.png]
  (CLIPNOTE_WEB_SITE names the built site, default build/web/site)
"""
import os
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from browser import SITE, Server, chromium, wait_for  # noqa: E402


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


def resident_mb(pids, kind):
    """Resident memory in MB of the chromium processes of --type=`kind` among pids."""
    total = 0
    for pid in pids:
        try:
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                if f"--type={kind}".encode() not in f.read():
                    continue
            with open(f"/proc/{pid}/status") as f:
                total += next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
        except (OSError, StopIteration):
            pass
    return total / 1024


def main(argv):
    seconds = int(argv[1]) if len(argv) > 1 and argv[1].isdigit() else 30
    screenshot = argv[argv.index("--screenshot") + 1] if "--screenshot" in argv else None
    work = tempfile.mkdtemp(prefix="clipnote-bench-recorder-")
    video, sound, speech = (os.path.join(work, n) for n in ("fed.y4m", "fed.wav", "speech.wav"))
    quiet = {"check": True, "capture_output": True}
    subprocess.run(["ffmpeg", "-v", "error", "-f", "lavfi", "-i", "testsrc2=size=320x240:rate=30", "-frames:v", "120",
                    "-pix_fmt", "yuv420p", video], **quiet)
    subprocess.run(["espeak-ng", "-w", speech, "Hello from the recorder. This message was made in the browser."],
                   **quiet)
    subprocess.run(["ffmpeg", "-v", "error", "-i", speech, "-af", "apad=pad_dur=1.5", "-ar", "48000", "-ac", "1", sound],
                   **quiet)
    server = Server(SITE, "recorder.html")
    driver = chromium(arguments=["--use-fake-device-for-media-stream", f"--use-file-for-fake-video-capture={video}",
                                 f"--use-file-for-fake-audio-capture={sound}", "--use-fake-ui-for-media-stream",
                                 "--window-size=900,800"])
    try:
        driver.get(server.url)
        wait_for(driver, "return !document.getElementById('record-button').disabled")
        driver.find_element("id", "record-button").click()
        time.sleep(seconds)
        driver.find_element("id", "record-button").click()
        wait_for(driver, "return !document.getElementById('save-exe').disabled", timeout=600)
        figures = driver.execute_script("const r = clipnoteRecorder; return Object.assign({}, r.figures, "
                                        "r.made.summary, {bytes: r.made.exe.length});")
        pids = descendants(driver.service.process.pid)
        print(f"recording of {seconds} s: Stop to Save enabled {figures['stopToSave']:.2f} s; message "
              f"{figures['seconds']:.1f} s, {figures['pictures']} pictures at quantiser {figures['quantiser']}, "
              f"{figures['bytes']} bytes; memory at the end: renderer {resident_mb(pids, 'renderer'):.0f} MB, "
              f"JS heap {driver.execute_script('return performance.memory.usedJSHeapSize') / 2**20:.0f} MB")
        if screenshot:
            time.sleep(3)
            driver.find_element("id", "recorder").screenshot(screenshot)
    finally:
        driver.quit()
        server.close()
        subprocess.run(["rm", "-rf", work])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
