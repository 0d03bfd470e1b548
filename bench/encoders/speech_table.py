#!/usr/bin/python3
"""Our speech encoder against ffmpeg's, side by side, every stream decoded by our decoder.

Clips: espeak-ng voices in several languages, the recorded speech of alsa-utils' channel
test files (when installed), each also with background noise mixed in, one clip of three
languages' sentences with pauses of background noise between them, and a spoken message:
sentences one at a time with a speaker's pauses between them, room noise throughout. Each
goes through our encoder at 6.3 and 5.3 kbit/s with silence compression on and off (and at
6.3 with harmonic noise shaping, HNS), and through ffmpeg's (-c:a g723_1, 6.3 kbit/s
only). Per clip and coder: segmental SNR and log-spectral distance of the decoded speech
against the input (after aligning ffmpeg's delay), bytes, and the shares of frames sent as
speech / SID / untransmitted. With silence compression on: the segSNR
over the frames sent as speech (against the same frames of the stream without it) and the
comfort noise's level against the input's in the untransmitted stretches. Then the
encoding speed of each, times real time, on all the clips joined (one process each,
CPU time of the child, best of three).

    bench/encoders/speech_table.py [--build build/native] [--keep DIR] [--clips WORD ...]

--clips runs only the clips whose names contain one of the words (the speed then over those).

Needs numpy, ffmpeg and espeak-ng; prints a Markdown table.
"""

import argparse
import os
import pathlib
import resource
import subprocess
import sys
import tempfile
import wave

import numpy as np

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent
FRAME = 240

TEXTS = {
    "en-us": ("The quick brown fox jumps over the lazy dog. "
              "Please call me back when you get this message. "
              "We will meet at the station at half past seven."),
    "en-gb+f3": ("She sells sea shells by the sea shore. "
                 "The weather tomorrow will be cloudy with some rain."),
    "de": ("Guten Morgen, wie geht es dir heute? "
           "Ich komme morgen um acht Uhr mit dem Zug an."),
    "fr": ("Bonjour, je vous appelle pour confirmer notre rendez-vous. "
           "Rappelez-moi quand vous pourrez."),
    "es": ("Hola, te llamo para decirte que llegaré tarde. "
           "Nos vemos mañana por la tarde."),
    "ru": "Привет, как дела? Я позвоню тебе вечером.",
}

MESSAGE = ("Hi, it's me.", "I wanted to tell you that the train is late tonight.",
           "I think I will be home at about nine.", "Could you feed the cat, please?",
           "Thanks. See you later.")
MESSAGE_GAPS = (0.8, 1.6, 1.2, 2.0, 1.4, 1.0)  # seconds before, between and after the sentences


def run(command, **kwargs):
    return subprocess.run(command, check=True, capture_output=True, **kwargs)


def read_wav(path):
    with wave.open(str(path)) as w:
        assert w.getframerate() == 8000 and w.getnchannels() == 1 and w.getsampwidth() == 2
        return np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.float64)


def write_wav(path, samples):
    with wave.open(str(path), "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(8000)
        w.writeframes(np.clip(np.round(samples), -32768, 32767).astype("<i2").tobytes())


def to_8k(source, target):
    run(["nice", "-n", "19", "ffmpeg", "-v", "error", "-y", "-i", str(source), "-ac", "1",
         "-ar", "8000", "-c:a", "pcm_s16le", str(target)])


def noise(n, level, seed):
    # Brownish background (fan, room): white noise through a one-pole low-pass.
    rng = np.random.default_rng(seed)
    white = rng.standard_normal(n)
    out = np.empty(n)
    y = 0.0
    for i, x in enumerate(white):
        y = 0.9 * y + x
        out[i] = y
    return out * (level / np.sqrt(np.mean(out ** 2)))


def make_clips(work):
    clips = {}
    for voice, text in TEXTS.items():
        raw = work / f"espeak_{voice}.wav"
        run(["espeak-ng", "-v", voice, "-s", "150", "-w", str(raw), text])
        to_8k(raw, work / f"{voice}.wav")
        clips[f"espeak {voice}"] = read_wav(work / f"{voice}.wav")
    alsa = sorted(pathlib.Path("/usr/share/sounds/alsa").glob("*.wav"))
    recorded = [f for f in alsa if f.name != "Noise.wav"]
    if recorded:
        pieces = []
        for i, f in enumerate(recorded):
            to_8k(f, work / f"alsa{i}.wav")
            pieces.append(read_wav(work / f"alsa{i}.wav"))
        clips["recorded (alsa-utils)"] = np.concatenate(pieces)
    out = {}
    for name, speech in clips.items():
        speech = speech * (8000 / max(1.0, np.sqrt(np.mean(speech[np.abs(speech) > 100] ** 2))))
        out[name] = speech
        out[name + " + noise"] = speech + noise(len(speech), 300, 1)
    # Speech with pauses: the sentences of the English clip apart, 1.5 s of quiet room
    # between them.
    pause = 12000
    parts = [out["espeak en-us"]]
    for name in ("espeak de", "espeak fr"):
        parts += [noise(pause, 60, len(parts)), out[name]]
    parts.append(noise(pause, 60, 99))
    out["pauses (en, de, fr)"] = np.concatenate([noise(pause, 60, 98)] + parts)
    # A spoken message: its sentences said one at a time, with the pauses a speaker leaves
    # between them (0.8 to 2 s), the room's noise under all of it.
    message = [np.zeros(int(MESSAGE_GAPS[0] * 8000))]
    for i, sentence in enumerate(MESSAGE):
        raw = work / f"message{i}.wav"
        run(["espeak-ng", "-v", "en-us", "-s", "150", "-w", str(raw), sentence])
        to_8k(raw, work / f"message{i}_8k.wav")
        message += [read_wav(work / f"message{i}_8k.wav"), np.zeros(int(MESSAGE_GAPS[i + 1] * 8000))]
    message = np.concatenate(message)
    message *= 8000 / np.sqrt(np.mean(message[np.abs(message) > 100] ** 2))
    out["message with pauses (en)"] = message + noise(len(message), 60, 5)
    return out


def frame_kinds(stream):
    kinds = [0, 0, 0]  # speech, SID, untransmitted
    at = 0
    while at < len(stream):
        kind = stream[at] & 3
        kinds[0 if kind < 2 else kind - 1] += 1
        at += (24, 20, 4, 1)[kind]
    return kinds


def frame_kind_list(stream):
    out = []
    at = 0
    while at < len(stream):
        kind = stream[at] & 3
        out.append(kind)
        at += (24, 20, 4, 1)[kind]
    return out


def align(reference, decoded):
    """decoded shifted by the lag (0..480 samples) that best matches the reference."""
    n = min(len(reference), len(decoded)) - 480
    best, lag = -1e300, 0
    for d in range(0, 481):
        c = np.dot(reference[:n], decoded[d:d + n])
        if c > best:
            best, lag = c, d
    shifted = decoded[lag:]
    n = min(len(reference), len(shifted))
    return reference[:n], shifted[:n], lag


def segsnr(ref, dec, frames=None, floor=1e4):
    values = []
    for f in range(len(ref) // FRAME):
        if frames is not None and not frames(f):
            continue
        r = ref[f * FRAME:(f + 1) * FRAME]
        d = dec[f * FRAME:(f + 1) * FRAME]
        s = np.sum(r * r)
        if s / FRAME < floor:
            continue
        values.append(np.clip(10 * np.log10((s + 1) / (np.sum((r - d) ** 2) + 1)), -10, 40))
    return float(np.mean(values)) if values else float("nan")


def lsd(ref, dec, floor=1e4):
    window = np.hanning(FRAME)
    values = []
    for f in range(len(ref) // FRAME):
        r = ref[f * FRAME:(f + 1) * FRAME]
        if np.mean(r * r) < floor:
            continue
        d = dec[f * FRAME:(f + 1) * FRAME]
        a = np.abs(np.fft.rfft(r * window, 256)) ** 2 + 1e-3
        b = np.abs(np.fft.rfft(d * window, 256)) ** 2 + 1e-3
        values.append(np.sqrt(np.mean((10 * np.log10(a / b)) ** 2)))
    return float(np.mean(values)) if values else float("nan")


def cpu_seconds(command):
    best = 1e300
    for _ in range(3):
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        run(command)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        best = min(best, after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=str(ROOT / "build" / "native"))
    parser.add_argument("--keep")
    parser.add_argument("--clips", nargs="+", metavar="WORD",
                        help="only the clips whose names contain one of these words")
    args = parser.parse_args()
    encoder = pathlib.Path(args.build) / "tools" / "clipnote-encode" / "clipnote-encode"
    decoder = pathlib.Path(args.build) / "tools" / "clipnote-decode" / "clipnote-decode"
    work = pathlib.Path(args.keep or tempfile.mkdtemp(prefix="speech_table."))
    work.mkdir(parents=True, exist_ok=True)

    clips = make_clips(work)
    if args.clips:
        clips = {name: samples for name, samples in clips.items()
                 if any(word in name for word in args.clips)}
        if not clips:
            sys.exit("no clip's name contains any of: " + ", ".join(args.clips))
    coders = {
        "ours 6.3": ["--rate", "6.3", "--no-silence"],
        "ours 6.3 HNS": ["--rate", "6.3", "--no-silence", "--noise-shaping"],
        "ours 6.3 SC": ["--rate", "6.3"],
        "ours 5.3": ["--rate", "5.3", "--no-silence"],
        "ours 5.3 SC": ["--rate", "5.3"],
        "ffmpeg 6.3": None,
    }
    print("| clip | coder | segSNR dB | LSD dB | bytes | speech/SID/untx % | SC: speech segSNR vs off | CN level dB |")
    print("|---|---|---|---|---|---|---|---|")
    for index, (name, samples) in enumerate(clips.items()):
        wav = work / f"clip{index}.wav"
        write_wav(wav, samples)
        reference = read_wav(wav)
        decoded_plain = {}
        for coder, options in coders.items():
            stream = work / f"clip{index}_{coder.replace(' ', '_')}.g723"
            if options is None:
                run(["nice", "-n", "19", "ffmpeg", "-v", "error", "-y", "-i", str(wav), "-c:a",
                     "g723_1", "-b:a", "6300", "-f", "g723_1", str(stream)])
            else:
                run(["nice", "-n", "19", str(encoder), "speech", str(wav), str(stream), "--raw", "--force"] + options)
            out_wav = stream.with_suffix(".wav")
            run(["nice", "-n", "19", str(decoder), "audio", str(stream), str(out_wav), "--raw", "--force"])
            ref, dec, _ = align(reference, read_wav(out_wav))
            data = stream.read_bytes()
            kinds = frame_kinds(data)
            total = sum(kinds)
            shares = "/".join(f"{100 * k / total:.0f}" for k in kinds)
            extra_snr, cn = "", ""
            base = coder.replace(" SC", "")
            if coder.endswith("SC") and base in decoded_plain:
                kinds_list = frame_kind_list(data)
                active = lambda f: f < len(kinds_list) and kinds_list[f] < 2
                plain_ref, plain_dec = decoded_plain[base]
                extra_snr = (f"{segsnr(ref, dec, active):.2f} vs "
                             f"{segsnr(plain_ref, plain_dec, active):.2f}")
                quiet = [f for f in range(min(len(kinds_list), len(ref) // FRAME)) if kinds_list[f] == 3]
                if quiet:
                    e_in = np.mean([np.mean(ref[f * FRAME:(f + 1) * FRAME] ** 2) for f in quiet])
                    e_out = np.mean([np.mean(dec[f * FRAME:(f + 1) * FRAME] ** 2) for f in quiet])
                    cn = f"{10 * np.log10((e_out + 1e-9) / (e_in + 1e-9)):+.1f}"
            else:
                decoded_plain[coder] = (ref, dec)
            print(f"| {name} | {coder} | {segsnr(ref, dec):.2f} | {lsd(ref, dec):.2f} | "
                  f"{len(data)} | {shares} | {extra_snr} | {cn} |")
        sys.stdout.flush()

    joined = np.concatenate(list(clips.values()))
    wav = work / "all.wav"
    write_wav(wav, joined)
    seconds = len(joined) / 8000
    ours = cpu_seconds([str(encoder), "speech", str(wav), str(work / "all.g723"), "--raw", "--force",
                        "--no-silence"])
    theirs = cpu_seconds(["ffmpeg", "-v", "error", "-y", "-threads", "1", "-i", str(wav), "-c:a",
                          "g723_1", "-b:a", "6300", "-f", "g723_1", str(work / "all_ffmpeg.g723")])
    print(f"\nspeed on {seconds:.1f} s of speech (CPU time, best of 3): ours 6.3 "
          f"{seconds / ours:.0f}x real time, ffmpeg {seconds / theirs:.0f}x real time")
    ours53 = cpu_seconds([str(encoder), "speech", str(wav), str(work / "all53.g723"), "--raw", "--force",
                          "--rate", "5.3", "--no-silence"])
    print(f"ours 5.3: {seconds / ours53:.0f}x real time")


if __name__ == "__main__":
    main()
