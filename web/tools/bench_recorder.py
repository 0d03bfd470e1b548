#!/usr/bin/env python3
"""The recorder's figures in headless chromium with fake devices: a recording of SECONDS
(default 30) from a generated camera clip and speech, then the time from Stop to "Save"
enabled, the memory of chromium's processes by kind of mapping (when Save is enabled and
after a memory-pressure signal), and the page's message beside make-message's from the same
input (the fed files looped to the recording's length) at the page's budget, at 1 MB and at
best quality: bytes, pictures, quantiser, speech rate, picture PSNR against the fed frames at
their ticks and against the closest fed frame, how far the camera's frames slipped from the
page's ticks, and aligned speech segSNR against the fed sound. A benchmark, not a test.

usage: /usr/bin/python3 web/tools/bench_recorder.py [SECONDS] [--screenshot OUT.png]
  (CLIPNOTE_WEB_SITE names the built site, default build/web/site; CLIPNOTE_DECODE and
   CLIPNOTE_MAKE_MESSAGE the native tools, default under build/native)
"""
import collections
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests"))
from browser import DECODE, ROOT, SITE, Server, chromium, descendants, recorder_letterbox, wait_for  # noqa: E402
from clipnote_media_measures import (aligned_segsnr, letterboxed_pictures, picture_psnrs, picture_ticks,  # noqa: E402
                                     psnr, read_y4m, wav_samples)

MAKE_MESSAGE = os.environ.get("CLIPNOTE_MAKE_MESSAGE",
                              os.path.join(ROOT, "build", "native", "tools", "make-message", "make-message"))
FED_SIZE = (320, 240)
PAGE_BUDGET = 5000000  # the page's default choice
SMALL_BUDGET = 1000000


def run(*command):
    return subprocess.run(["nice", "-n", "19", *command], check=True, capture_output=True, text=True).stdout


def process_kind(pid):
    """The chromium process's --type (and utility sub-type), "browser" for the main one."""
    with open(f"/proc/{pid}/cmdline", "rb") as f:
        # chromium rewrites its children's command lines with spaces between the words.
        words = f.read().decode(errors="replace").replace("\0", " ").split()
    if "chromium" not in words[0]:
        return None
    kind = next((w.split("=", 1)[1] for w in words if w.startswith("--type=")), "browser")
    sub = next((w.split("=", 1)[1].rsplit(".", 1)[-1] for w in words if w.startswith("--utility-sub-type=")), "")
    if "--top-chrome-webui" in words or "--extension-process" in words:
        kind += " (browser UI)"
    return f"{kind} {sub}".strip()


def mappings(pid):
    """Resident and proportional kB of the process by mapping: the chromium binary and other
    files, shared-memory regions (memfd), and anonymous memory split into the large regions
    (a WebAssembly memory is one) and the rest."""
    groups = collections.defaultdict(lambda: [0, 0])
    name, size = None, 0
    with open(f"/proc/{pid}/smaps") as f:
        for line in f:
            fields = line.split()
            if not fields[0].endswith(":"):
                start, end = (int(a, 16) for a in fields[0].split("-"))
                size = end - start
                path = " ".join(fields[5:])
                if "memfd:" in path or path.startswith("/dev/shm"):
                    name = "shared memory (memfd)"
                elif path.endswith("/chromium"):
                    name = "chromium binary"
                elif path and not path.startswith("["):
                    name = "other files"
                else:
                    name = "anonymous"
            elif fields[0] in ("Rss:", "Pss:"):
                kb = int(fields[1])
                if name == "anonymous" and fields[0] == "Rss:" and kb > 32 * 1024 and size < 2**33:
                    name = "anonymous, regions over 32 MB"
                groups[name][0 if fields[0] == "Rss:" else 1] += kb
    return groups


def memory_breakdown(pids):
    """Per chromium process: kind, resident and proportional MB, and by mapping."""
    rows = []
    for pid in pids:
        try:
            kind = process_kind(pid)
            if kind:
                rows.append((pid, kind, mappings(pid)))
        except OSError:
            pass
    return rows


def print_memory(rows, heap, when):
    print(f"\nmemory {when}, MB (resident / proportional, PSS splitting shared pages between processes):")
    total_rss = total_pss = 0
    for pid, kind, groups in rows:
        rss = sum(v[0] for v in groups.values()) / 1024
        pss = sum(v[1] for v in groups.values()) / 1024
        total_rss, total_pss = total_rss + rss, total_pss + pss
        parts = ", ".join(f"{name} {v[0] / 1024:.0f}/{v[1] / 1024:.0f}"
                          for name, v in sorted(groups.items(), key=lambda g: -g[1][0]) if v[0] >= 1024)
        print(f"  {kind:28s} {rss:6.0f} / {pss:5.0f}   {parts}")
    print(f"  {'all':28s} {total_rss:6.0f} / {total_pss:5.0f}")
    print(f"  the page's JavaScript heap {heap['used'] / 2**20:.0f} MB used of {heap['total'] / 2**20:.0f} MB")


def message_row(label, exe, work, fed, fed8k):
    """The measured figures of one message executable."""
    folder = tempfile.mkdtemp(dir=work)
    info = json.loads(run(DECODE, "info", exe, "--json"))
    run(DECODE, "extract", exe, folder)
    decoded_path = os.path.join(folder, "decoded.y4m")
    subprocess.run([DECODE, "video", os.path.join(folder, "message.263"), decoded_path], capture_output=True)
    with open(os.path.join(folder, "message.263"), "rb") as f:
        ticks = picture_ticks(f.read())
    decoded = read_y4m(decoded_path, 176, 144)
    values = picture_psnrs(decoded, ticks, fed)
    # Each picture against the fed frame it resembles most, wherever in the loop: what the
    # coding and the colour conversions leave, apart from the capture's timing; and how far
    # that frame is from the one at the picture's tick, over the first and the last 5 s.
    best = [max(range(len(fed)), key=lambda k: psnr(d, fed[k])) for d in decoded]
    matched = [psnr(d, fed[k]) for d, k in zip(decoded, best)]
    slips = [(k - t) % len(fed) for k, t in zip(best, ticks)]
    slips = [s - len(fed) if s > len(fed) // 2 else s for s in slips]
    slips = [s - slips[0] for s in slips]
    head = [s for s, t in zip(slips, ticks) if t < 150]
    tail = [s for s, t in zip(slips, ticks) if t >= ticks[-1] - 150]
    decoded_wav = os.path.join(folder, "decoded.wav")
    run(DECODE, "audio", os.path.join(folder, "message.723"), decoded_wav)
    speech = info["speech"]
    rate = "/".join(r for r, key in (("6.3", "frames_6_3"), ("5.3", "frames_5_3")) if speech.get(key))
    video = info["video"]
    quantiser = (f"{video['quantiser_min']}" if video["quantiser_min"] == video["quantiser_max"]
                 else f"{video['quantiser_min']}..{video['quantiser_max']}")
    return {"label": label, "bytes": info["bytes"], "seconds": video["duration_ms"] / 1000,
            "pictures": video["pictures"], "quantiser": quantiser, "rate": rate,
            "psnr": float(np.mean(values)), "psnr_low": float(np.percentile(values, 10)),
            "matched": float(np.mean(matched)), "slip": float(np.median(tail) - np.median(head)),
            "segsnr": aligned_segsnr(fed8k, wav_samples(decoded_wav))}


def print_comparison(rows):
    print("\n| message | `clipnote.exe` | length | pictures | quantiser | speech kbit/s "
          "| picture PSNR (10th percentile) | against the closest fed frame | slip | speech segSNR |")
    print("| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |")
    for r in rows:
        print(f"| {r['label']} | {r['bytes']} B | {r['seconds']:.1f} s | {r['pictures']} | {r['quantiser']} "
              f"| {r['rate']} | {r['psnr']:.2f} dB ({r['psnr_low']:.1f}) | {r['matched']:.2f} dB "
              f"| {r['slip']:+.0f} frames | {r['segsnr']:.2f} dB |")


def wait_saved(folder, name, into):
    path = os.path.join(folder, name)
    for _ in range(300):
        if os.path.exists(path) and not os.path.exists(path + ".crdownload") and os.path.getsize(path) > 0:
            shutil.move(path, into)
            return into
        time.sleep(0.1)
    raise RuntimeError(f"{name} was not downloaded")


def main(argv):
    seconds = int(argv[1]) if len(argv) > 1 and argv[1].isdigit() else 30
    screenshot = argv[argv.index("--screenshot") + 1] if "--screenshot" in argv else None
    work = tempfile.mkdtemp(prefix="clipnote-bench-recorder-")
    downloads = os.path.join(work, "downloads")
    os.mkdir(downloads)
    video, sound, speech = (os.path.join(work, n) for n in ("fed.y4m", "fed.wav", "speech.wav"))
    run("ffmpeg", "-v", "error", "-f", "lavfi", "-i", f"testsrc2=size={FED_SIZE[0]}x{FED_SIZE[1]}:rate=30",
        "-frames:v", "120", "-pix_fmt", "yuv420p", video)
    run("espeak-ng", "-w", speech, "Hello from the recorder. This message was made in the browser.")
    run("ffmpeg", "-v", "error", "-i", speech, "-af", "apad=pad_dur=1.5", "-ar", "48000", "-ac", "1", sound)
    server = Server(SITE, "recorder.html")
    driver = chromium(arguments=["--use-fake-device-for-media-stream", f"--use-file-for-fake-video-capture={video}",
                                 f"--use-file-for-fake-audio-capture={sound}", "--use-fake-ui-for-media-stream",
                                 "--window-size=900,800"], downloads=downloads)
    saved = {}
    try:
        driver.get(server.url)
        wait_for(driver, "return !document.getElementById('record-button').disabled")
        driver.find_element("id", "record-button").click()
        time.sleep(seconds)
        driver.find_element("id", "record-button").click()
        wait_for(driver, "return !document.getElementById('save-exe').disabled", timeout=600)
        figures = driver.execute_script("const r = clipnoteRecorder; return Object.assign({}, r.figures, "
                                        "r.made.summary, {bytes: r.made.exe.length});")
        memory = memory_breakdown(descendants(driver.service.process.pid))
        heap = driver.execute_script("return {used: performance.memory.usedJSHeapSize, "
                                     "total: performance.memory.totalJSHeapSize}")
        geometry = recorder_letterbox(driver, *FED_SIZE)
        print(f"recording of {seconds} s: Stop to Save enabled {figures['stopToSave']:.2f} s; message "
              f"{figures['seconds']:.1f} s, {figures['pictures']} pictures at quantiser {figures['quantiser']}, "
              f"{figures['bytes']} bytes", flush=True)
        print_memory(memory, heap, "when Save is enabled")
        # What of it chromium gives back when the system runs short.
        driver.execute_cdp_cmd("Memory.simulatePressureNotification", {"level": "critical"})
        time.sleep(3)
        print_memory(memory_breakdown(descendants(driver.service.process.pid)), heap,
                     "3 s after a critical memory-pressure signal")
        if screenshot:
            time.sleep(3)
            driver.find_element("id", "recorder").screenshot(screenshot)
        driver.find_element("id", "save-exe").click()
        saved[PAGE_BUDGET] = wait_saved(downloads, "message.exe", os.path.join(work, "page-5mb.exe"))
        # The same recording made again at the smaller budget, as a change of the choice does.
        driver.execute_script("const b = document.getElementById('budget'); b.value = '%d';"
                              "b.dispatchEvent(new Event('change'));" % SMALL_BUDGET)
        wait_for(driver, "return !clipnoteRecorder.making && !document.getElementById('save-exe').disabled",
                 timeout=600)
        driver.find_element("id", "save-exe").click()
        saved[SMALL_BUDGET] = wait_saved(downloads, "message.exe", os.path.join(work, "page-1mb.exe"))
    finally:
        driver.quit()
        server.close()
    try:
        # make-message from the fed files looped to the page's length, as the fake devices
        # replay them.
        length = f"{figures['seconds']:.3f}"
        long_video, long_sound = os.path.join(work, "long.y4m"), os.path.join(work, "long.wav")
        run("ffmpeg", "-v", "error", "-stream_loop", "-1", "-i", video, "-t", length, "-pix_fmt", "yuv420p", long_video)
        run("ffmpeg", "-v", "error", "-stream_loop", "-1", "-i", sound, "-t", length, long_sound)
        made = {}
        for key, options in ((PAGE_BUDGET, ["--max-size", str(PAGE_BUDGET)]),
                             (SMALL_BUDGET, ["--max-size", str(SMALL_BUDGET)]), (0, ["--quantiser", "2"])):
            folder = os.path.join(work, f"make-message-{key}")
            started = time.monotonic()
            run(MAKE_MESSAGE, long_video, "--audio", long_sound, *options, "--build-player", folder, "-q")
            made[key] = (os.path.join(folder, "clipnote.exe"), time.monotonic() - started)
        fed = letterboxed_pictures(video, geometry, os.path.join(work, "fed_boxed.y4m"))
        fed8k_path = os.path.join(work, "fed8k.wav")
        run("ffmpeg", "-v", "error", "-i", sound, "-ar", "8000", "-ac", "1", fed8k_path)
        fed8k = wav_samples(fed8k_path)
        rows = [message_row("page, 5 MB", saved[PAGE_BUDGET], work, fed, fed8k),
                message_row(f"make-message --max-size {PAGE_BUDGET}", made[PAGE_BUDGET][0], work, fed, fed8k),
                message_row("page, 1 MB", saved[SMALL_BUDGET], work, fed, fed8k),
                message_row(f"make-message --max-size {SMALL_BUDGET}", made[SMALL_BUDGET][0], work, fed, fed8k),
                message_row("make-message --quantiser 2 (best quality)", made[0][0], work, fed, fed8k)]
        print_comparison(rows)
        print(f"\nmake-message's time: {made[PAGE_BUDGET][1]:.1f} s at 5 MB (the page: {figures['makeSeconds']:.1f} s)")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
