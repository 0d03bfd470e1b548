#!/usr/bin/python3
"""Time, bytes and quality of make-message against another make-message (the Python one of an
older checkout), side by side in one run, on two inputs made here:

  a 17 s 320x240 video with its own sound (a moving test picture, speech with pauses)
  a 3-minute QCIF camera-like clip (a moving picture with sensor noise), with its own sound
  (both H.264 and AAC in MP4, as a phone or camera writes them)

The sound is real speech: espeak-ng speaks several sentences with pauses between them, mixed
under a faint room noise; the 3-minute clip repeats that passage.

Each tool makes the clips and the executable (--build-player). Quality: PSNR of the pictures the
player shows, tick by tick, against the letterboxed source; segmental SNR of the decoded speech
against the source at 8 kHz (both levelled to a -3 dBFS peak), over its 30 ms segments with sound.

  bench/make-message/compare.py --ours BUILD/tools/make-message/make-message \\
      --theirs OLD-CHECKOUT/tools/make-message/make-message --decoder BUILD/tools/clipnote-decode/clipnote-decode
"""

import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time
import wave

import numpy as np

TICK = 1 / 30


def ffmpeg(*args):
    subprocess.run(["nice", "-n", "19", "ffmpeg", "-hide_banner", "-nostdin", "-v", "error", "-y", *args], check=True)


SENTENCES = [
    "Hello, this is a short message from me.",
    "I am testing the new recorder on my computer.",
    "The pictures move a little, and the sound should be clear.",
    "Call me back when you have a moment.",
    "Thank you, and see you soon.",
]


def make_speech(work):
    """A passage of spoken sentences with pauses between them, as a WAV file."""
    path = os.path.join(work, "speech.wav")
    markup = "<speak>" + "".join(f"{s}<break time=\"900ms\"/>" for s in SENTENCES) + "</speak>"
    subprocess.run(["nice", "-n", "19", "espeak-ng", "-m", "-v", "en", "-s", "150", "-w", path, markup],
                   check=True, stdout=subprocess.DEVNULL)
    return path


def make_inputs(work):
    speech = make_speech(work)
    # The speech, repeated as long as needed, under a faint noise floor like a room's.
    sound = ["-stream_loop", "-1", "-i", speech, "-f", "lavfi", "-i", "anoisesrc=a=0.002:c=pink:r=48000"]
    mix = ["-filter_complex", "[1:a]aresample=48000,volume=0.8[s];[s][2:a]amix=inputs=2:duration=first:normalize=0[a]",
           "-map", "0:v", "-map", "[a]"]
    short = os.path.join(work, "short-320x240.mp4")
    ffmpeg("-f", "lavfi", "-i", "testsrc2=s=320x240:r=30:d=17", *sound, *mix, "-t", "17",
           "-c:v", "libx264", "-crf", "18", "-pix_fmt", "yuv420p", "-c:a", "aac", short)
    camera = os.path.join(work, "camera-qcif.mp4")
    ffmpeg("-f", "lavfi", "-i", "testsrc2=s=176x144:r=30:d=180,noise=alls=6:allf=t", *sound, *mix, "-t", "180",
           "-c:v", "libx264", "-crf", "20", "-pix_fmt", "yuv420p", "-c:a", "aac", camera)
    return [("17 s 320x240, own sound", short), ("3 min QCIF camera, own sound", camera)]


def read_y4m_frames(path):
    with open(path, "rb") as f:
        data = f.read()
    header_end = data.index(b"\n")
    frames = []
    at = header_end + 1
    size = 176 * 144 * 3 // 2
    while at < len(data):
        at = data.index(b"\n", at) + 1
        frames.append(np.frombuffer(data, np.uint8, 176 * 144, at).astype(np.float64))
        at += size
    return frames


def letterboxed_source(source, work):
    raw = os.path.join(work, "source.yuv")
    ffmpeg("-i", source, "-map", "0:v:0", "-vf",
           "fps=30,scale=176:144:force_original_aspect_ratio=decrease,pad=176:144:-1:-1:color=black,format=yuv420p",
           "-f", "rawvideo", raw)
    data = np.fromfile(raw, np.uint8)
    size = 176 * 144 * 3 // 2
    return [data[i * size:i * size + 176 * 144].astype(np.float64) for i in range(len(data) // size)]


def picture_psnr(decoder, clip, source_frames, work):
    out = os.path.join(work, "decoded.y4m")
    run = subprocess.run([decoder, "video", clip, out, "--verbose", "--force"], capture_output=True, text=True)
    if run.returncode != 0:
        run = subprocess.run([decoder, "video", clip, out, "--verbose"], capture_output=True, text=True, check=True)
    ticks = []
    for line in run.stdout.splitlines():
        if line.startswith("picture "):
            ticks.append(int(line.split()[3]))
    # TRs to ticks (they wrap at 256).
    absolute, last = [], None
    for tr in ticks:
        absolute.append(tr if last is None else absolute[-1] + ((tr - last) % 256))
        last = tr
    pictures = read_y4m_frames(out) if out.endswith(".y4m") else None
    mse = []
    shown = 0
    for tick in range(absolute[-1] + 1):
        while shown + 1 < len(absolute) and absolute[shown + 1] <= tick:
            shown += 1
        reference = source_frames[min(tick, len(source_frames) - 1)]
        mse.append(np.mean((pictures[shown] - reference) ** 2))
    return 10 * np.log10(255 ** 2 / max(np.mean(mse), 1e-9)), len(absolute)


def speech_segsnr(decoder, clip, source, work):
    wav = os.path.join(work, "decoded.wav")
    subprocess.run([decoder, "audio", clip, wav, "--voice", "--force"], capture_output=True)
    if not os.path.exists(wav):
        subprocess.run([decoder, "audio", clip, wav, "--voice"], capture_output=True, check=True)
    with wave.open(wav) as w:
        decoded = np.frombuffer(w.readframes(w.getnframes()), "<i2").astype(np.float64)
    ref_path = os.path.join(work, "source8k.raw")
    ffmpeg("-i", source, "-map", "0:a:0", "-ac", "1", "-ar", "8000", "-f", "s16le", ref_path)
    reference = np.fromfile(ref_path, "<i2").astype(np.float64)
    reference *= 32768 * 10 ** (-3 / 20) / max(np.max(np.abs(reference)), 1)
    n = min(len(decoded), len(reference))
    # The decoder's delay: the lag that lines the two up best.
    best = max(range(0, 160), key=lambda lag: np.dot(decoded[lag:n], reference[:n - lag]))
    d, r = decoded[best:n], reference[:n - best]
    snrs = []
    for at in range(0, len(r) - 240, 240):
        rs, ds = r[at:at + 240], d[at:at + 240]
        energy = np.sum(rs ** 2)
        if energy / 240 < 100 ** 2:  # silence: nothing to measure
            continue
        snrs.append(np.clip(10 * np.log10(energy / max(np.sum((rs - ds) ** 2), 1e-9)), -10, 35))
    return float(np.mean(snrs)) if snrs else float("nan")


def run_tool(name, tool, source, folder, decoder):
    command = [tool, source, "-o", folder, "--build-player", folder]
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    if name == "theirs":
        command += ["--decoder", decoder]
    else:
        command += ["--quiet"]
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run(["nice", "-n", "19", *command], check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                   env=env)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    # Processor time of the tool and everything it ran: on a shared machine the fairer figure.
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--ours", required=True)
    parser.add_argument("--theirs", required=True)
    parser.add_argument("--decoder", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="make-message-compare-") as work:
        rows = []
        for label, source in make_inputs(work):
            frames = letterboxed_source(source, work)
            for name, tool in (("ours", args.ours), ("theirs", args.theirs)):
                folder = os.path.join(work, f"{name}-{os.path.basename(source)}")
                seconds, cpu = run_tool(name, tool, source, folder, args.decoder)
                exe = os.path.getsize(os.path.join(folder, "clipnote.exe"))
                clips = sum(os.path.getsize(os.path.join(folder, n)) for n in ("message.263", "message.723"))
                psnr, pictures = picture_psnr(args.decoder, os.path.join(folder, "message.263"), frames, work)
                snr = speech_segsnr(args.decoder, os.path.join(folder, "message.723"), source, work)
                rows.append((label, name, seconds, cpu, exe, clips, pictures, psnr, snr))
                print(f"{label:30} {name:6} {seconds:7.1f} s {cpu:7.1f} s cpu {exe:9} B exe {clips:8} B clips {pictures:5} pictures "
                      f"{psnr:6.2f} dB PSNR {snr:6.2f} dB segSNR", flush=True)
        print()
        print("| input | tool | time (wall) | processor time | executable | clips | pictures | picture PSNR | speech segSNR |")
        print("| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |")
        for label, name, seconds, cpu, exe, clips, pictures, psnr, snr in rows:
            tool = "C++" if name == "ours" else "Python (before)"
            print(f"| {label} | {tool} | {seconds:.1f} s | {cpu:.1f} s | {exe} B | {clips} B | {pictures} | {psnr:.2f} dB | {snr:.2f} dB |")


if __name__ == "__main__":
    sys.exit(main())
