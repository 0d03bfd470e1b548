#!/usr/bin/python3
"""Our H.263 encoder beside ffmpeg's, on the same QCIF sources at the same picture schedule
(every picture at 30000/1001 Hz).

For each source: ours at quantisers 4, 8, 12 and 20, at each --speed setting asked for; ffmpeg's -c:v h263 at the bitrates ours
reached, once at its defaults and once with -mbd rd -trellis 1. Every stream is decoded by
our decoder (clipnote-decode video); PSNR-Y is of that against the source. Prints the points,
the BD-rate of ours against each ffmpeg setting per source and on average (negative: ours
needs fewer bytes for the same PSNR), and encoding speed in pictures per second of CPU time
(user + system, one thread). Also checks, on every picture, that our encoder's
reconstruction equals our decoder's pictures of its stream, and reports the lowest PSNR of
ffmpeg's decode of our stream against ours.

    nice -n 19 bench/encoders/video_bench.py [--seconds S] [--build build/native] [--work DIR]
        [--speeds thorough,fast] [--only NAME,...]
    nice -n 19 bench/encoders/video_bench.py --interop --seconds 180   # the long exactness run

Needs ffmpeg and numpy (Debian's python3-numpy, so /usr/bin/python3).
"""

import argparse
import os
import pathlib
import resource
import subprocess
import sys
import tempfile

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent
W, H = 176, 144
PICTURE = W * H * 3 // 2
RATE = "30000/1001"
QUANTISERS = (4, 8, 12, 20)
FFMPEG_SETTINGS = {"default": [], "rd+trellis": ["-mbd", "rd", "-trellis", "1"]}


def sources(seconds):
    """name -> (ffmpeg input arguments, filter after the input or None)."""
    q = f"s={W}x{H}:r={RATE}"
    half = seconds / 2
    third = seconds / 3
    footage = ROOT / "bench/encoders/footage"
    loop = lambda path: ["-stream_loop", "-1", "-i", str(path)]
    return {
        # Camera footage (bench/encoders/footage/README.md says where it comes from), looped
        # to length: a hand moving a box, a hand turning a cup, people walking past a fixed
        # camera at 10 pictures a second (each picture held for three ticks).
        "camera: box": (loop(footage / "box.mkv"), None),
        "camera: cup": (loop(footage / "cup.mkv"), None),
        "camera: walkers": (loop(footage / "pedestrians.mkv"), None),
        # The default message's landscape scene, as our decoder shows it, looped to length
        # (already H.263-coded, so it flatters an H.263 encoder).
        "landscape": (loop(ROOT / "resources/message.263"), None),
        "testsrc2+noise": (["-f", "lavfi", "-i", f"testsrc2={q},noise=alls=10:allf=t"], None),
        "mandelbrot zoom": (["-f", "lavfi", "-i", f"mandelbrot={q}"], None),
        "life cells": (["-f", "lavfi", "-i",
                        f"life={q}:seed=7:mold=10:ratio=0.2:death_color=#204080:life_color=#e0c040,"
                        "noise=alls=4:allf=t"], None),
        "scene cuts": (["-f", "lavfi", "-i",
                        f"testsrc2={q}:d={third}[a];"
                        f"mandelbrot={q},trim=duration={third},setpts=PTS-STARTPTS[b];"
                        f"cellauto={q}:rule=110,trim=duration={third},setpts=PTS-STARTPTS[c];"
                        "[a][b][c]concat=n=3,noise=alls=6:allf=t[out0]"], None),
        "pan+noise": (["-f", "lavfi", "-i",
                       f"gradients={q}:speed=0.02,noise=alls=14:allf=t"], None),
    }


def run(command, **kw):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kw)


def cpu_seconds(command):
    """CPU time (user + system) the command's process took."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    run(command)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def read_y4m(path):
    data = pathlib.Path(path).read_bytes()
    header_end = data.index(b"\n") + 1
    frames = []
    at = header_end
    while at < len(data):
        at = data.index(b"\n", at) + 1
        frames.append(np.frombuffer(data, np.uint8, PICTURE, at))
        at += PICTURE
    return np.array(frames)


def read_yuv(path):
    data = np.fromfile(path, np.uint8)
    return data[: len(data) // PICTURE * PICTURE].reshape(-1, PICTURE)


def psnr_y(a, b):
    """Per picture luma PSNR of two stacks of pictures."""
    d = a[:, : W * H].astype(np.float64) - b[:, : W * H].astype(np.float64)
    mse = np.maximum((d * d).mean(axis=1), 1e-10)
    return np.minimum(10 * np.log10(255.0 * 255.0 / mse), 99.0)


def bd_rate(ours, theirs):
    """Bjontegaard delta rate (%) of `ours` against `theirs`, each [(bytes, psnr)...]: the
    mean difference of log rate over the PSNR range both cover, cubic fits."""
    r1 = np.log([p[0] for p in theirs]); q1 = np.array([p[1] for p in theirs])
    r2 = np.log([p[0] for p in ours]); q2 = np.array([p[1] for p in ours])
    f1 = np.polyint(np.polyfit(q1, r1, 3)); f2 = np.polyint(np.polyfit(q2, r2, 3))
    lo, hi = max(q1.min(), q2.min()), min(q1.max(), q2.max())
    if hi <= lo:
        return float("nan")
    mean1 = (np.polyval(f1, hi) - np.polyval(f1, lo)) / (hi - lo)
    mean2 = (np.polyval(f2, hi) - np.polyval(f2, lo)) / (hi - lo)
    return (np.exp(mean2 - mean1) - 1) * 100


def make_source(name, recipe, seconds, path):
    args, _ = recipe
    run(["ffmpeg", "-v", "error", "-y", *args, "-t", str(seconds), "-r", RATE,
         "-vf", f"scale={W}:{H}", "-pix_fmt", "yuv420p", str(path)])


def ours(build, source, quantiser, work, speed="thorough"):
    clip = work / f"ours_{speed}_q{quantiser}.263"
    recon = work / f"ours_{speed}_q{quantiser}.recon.y4m"
    cpu = cpu_seconds([str(build / "tools/clipnote-encode/clipnote-encode"), "video", str(source),
                       str(clip), "--quantiser", str(quantiser), "--speed", speed,
                       "--reconstruction", str(recon), "--force"])
    return clip, recon, cpu


def decode_ours(build, clip, work):
    out = work / (clip.name + ".yuv")
    run([str(build / "tools/clipnote-decode/clipnote-decode"), "video", str(clip), str(out), "--force"])
    return read_yuv(out)


def decode_ffmpeg(clip, work):
    out = work / (clip.name + ".ff.yuv")
    run(["ffmpeg", "-v", "error", "-y", "-i", str(clip), "-fps_mode", "passthrough",
         "-f", "rawvideo", "-pix_fmt", "yuv420p", str(out)])
    return read_yuv(out)


def theirs(source, bitrate, extra, work, tag):
    clip = work / f"ffmpeg_{tag}.263"
    cpu = cpu_seconds(["ffmpeg", "-v", "error", "-y", "-threads", "1", "-i", str(source),
                       "-c:v", "h263", "-threads", "1", "-b:v", str(int(bitrate)), *extra,
                       "-f", "h263", str(clip)])
    return clip, cpu


def bench(args, build, work):
    modes = args.speeds.split(",")
    table = []
    bd = {(m, k): [] for m in modes for k in FFMPEG_SETTINGS}
    speed = {**{m: [0, 0.0] for m in modes}, **{k: [0, 0.0] for k in FFMPEG_SETTINGS}}
    for name, recipe in sources(args.seconds).items():
        if args.only and not any(o in name for o in args.only.split(",")):
            continue
        source = work / "source.y4m"
        make_source(name, recipe, args.seconds, source)
        original = read_y4m(source)
        n = len(original)
        points = {**{m: [] for m in modes}, **{k: [] for k in FFMPEG_SETTINGS}}
        exact = True
        lowest_interop = 99.0
        for q in QUANTISERS:
            for mode in modes:
                clip, recon, cpu = ours(build, source, q, work, mode)
                shown = decode_ours(build, clip, work)
                exact &= len(shown) == n and np.array_equal(read_y4m(recon), shown)
                ff = decode_ffmpeg(clip, work)
                if len(ff) == len(shown):
                    lowest_interop = min(lowest_interop, psnr_y(ff, shown).min())
                else:
                    lowest_interop = float("nan")
                size = clip.stat().st_size
                points[mode].append((size, psnr_y(shown, original).mean()))
                speed[mode][0] += n; speed[mode][1] += cpu
                if mode == modes[0]:
                    bitrate = size * 8 / (n * 1001 / 30000)
            # ffmpeg's at the bitrate the first of our modes reached.
            for tag, extra in FFMPEG_SETTINGS.items():
                fclip, fcpu = theirs(source, bitrate, extra, work, f"{tag}_q{q}")
                fshown = decode_ours(build, fclip, work)
                points[tag].append((fclip.stat().st_size, psnr_y(fshown[:n], original[: len(fshown)]).mean()))
                speed[tag][0] += n; speed[tag][1] += fcpu
        row = [name, n, "yes" if exact else "NO", f"{lowest_interop:.2f}"]
        for mode in modes:
            for tag in FFMPEG_SETTINGS:
                value = bd_rate(points[mode], points[tag])
                bd[(mode, tag)].append(value)
                row.append(f"{value:+.1f}%")
        table.append(row)
        for who, pts in points.items():
            print(f"  {name:16s} {who:10s} " +
                  "  ".join(f"{b:8d} B {p:5.2f} dB" for b, p in pts), flush=True)
    print()
    header = ["Source", "Pictures", "Reference = our decode", "Lowest ffmpeg vs ours (dB)"]
    header += [f"{m} vs {'ffmpeg default' if t == 'default' else '-mbd rd -trellis 1'}"
               for m in modes for t in FFMPEG_SETTINGS]
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for row in table:
        print("| " + " | ".join(str(c) for c in row) + " |")
    print("| **average** | | | | " + " | ".join(f"**{np.nanmean(v):+.1f}%**" for v in bd.values()) + " |")
    print()
    for who, (pictures, cpu) in speed.items():
        if cpu > 0:
            print(f"speed {who:10s} {pictures / cpu:8.0f} pictures/s (CPU time, one thread)")


def interop(args, build, work):
    """Long clips: reference = our decode, and ffmpeg's decode of our stream against ours."""
    worst = 99.0
    for name, recipe in sources(args.seconds).items():
        source = work / "source.y4m"
        make_source(name, recipe, args.seconds, source)
        if args.only and not any(o in name for o in args.only.split(",")):
            continue
        for q, mode in [(q, m) for q in (2, 8, 20) for m in args.speeds.split(",")]:
            clip, recon, _ = ours(build, source, q, work, mode)
            shown = decode_ours(build, clip, work)
            ff = decode_ffmpeg(clip, work)
            exact = np.array_equal(read_y4m(recon), shown)
            low = psnr_y(ff, shown).min() if len(ff) == len(shown) else float("nan")
            worst = min(worst, low)
            print(f"{name:16s} q{q:<2d} {mode:8s} {len(shown)} pictures  reference = our decode: "
                  f"{'yes' if exact else 'NO'}  lowest ffmpeg vs ours {low:.2f} dB", flush=True)
    print(f"lowest over all: {worst:.2f} dB")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--build", default=str(ROOT / "build/native"))
    parser.add_argument("--work")
    parser.add_argument("--interop", action="store_true")
    parser.add_argument("--speeds", default="thorough,fast",
                        help="our encoder's --speed settings, comma-separated")
    parser.add_argument("--only", help="comma-separated pieces of the source names to run")
    args = parser.parse_args()
    build = pathlib.Path(args.build).resolve()
    with tempfile.TemporaryDirectory(dir=args.work) as work:
        (interop if args.interop else bench)(args, build, pathlib.Path(work))


if __name__ == "__main__":
    sys.exit(main())
