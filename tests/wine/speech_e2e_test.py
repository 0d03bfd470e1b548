#!/usr/bin/env python3
"""The Windows player's sound under Wine, captured at ALSA's default device: the
start-up sound is requested and cut at once (at most a fragment of it is heard),
then the speech played is the samples of our decoder's WAV image, from its first
sample for as long as it played before the window was closed. Wine's mixer
passes 16-bit samples through floating point and moves some by a unit or two,
so samples are compared within MAX_SAMPLE_ERROR and by SNR.

  speech_e2e_test.py --win32-build-dir <Windows tree> --decoder <clipnote-decode>
                     --voice <message.723> --chime <startup_chime.wav>
"""
import argparse
import array
import math
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from alsa_capture import RATE, read_capture, write_wav
from wine_harness import PLAYER_TITLE, HarnessError, WineSession, find_win32_output

PLAY_SECONDS = 6       # the window is closed this long after it appears
MIN_SPEECH_SECONDS = 2  # at least this much speech must have come out, sample for sample
ANCHOR = 400            # samples of speech used to find where it starts in the capture
MAX_SAMPLE_ERROR = 8    # Wine's float mixing moves samples by 1 or 2; anything real is far more
MIN_SNR_DB = 60.0


def check(condition, message):
    if not condition:
        raise HarnessError(message)


def wav_samples(path):
    data = Path(path).read_bytes()
    samples = array.array("h")
    samples.frombytes(data[44:44 + (len(data) - 44) // 2 * 2])
    if sys.byteorder != "little":
        samples.byteswap()
    return samples


def close(a, b):
    return all(abs(x - y) <= MAX_SAMPLE_ERROR for x, y in zip(a, b))


def find(haystack, needle):
    """First index where haystack holds needle within the sample error, or -1."""
    for at in range(0, len(haystack) - len(needle) + 1):
        if abs(haystack[at] - needle[0]) <= MAX_SAMPLE_ERROR and close(haystack[at:at + len(needle)], needle):
            return at
    return -1


def snr_db(reference, measured):
    signal = sum(s * s for s in reference) or 1
    error = sum((a - b) ** 2 for a, b in zip(reference, measured))
    return math.inf if error == 0 else 10 * math.log10(signal / error)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win32-build-dir", required=True)
    parser.add_argument("--decoder", required=True)
    parser.add_argument("--voice", required=True)
    parser.add_argument("--chime", required=True)
    args = parser.parse_args()
    player = find_win32_output(args.win32_build_dir, "clipnote.exe")
    closer = find_win32_output(args.win32_build_dir, "post_wm_close.exe")
    chime = wav_samples(args.chime)

    with tempfile.TemporaryDirectory() as temp:
        temp = Path(temp)
        subprocess.run([args.decoder, "audio", args.voice, str(temp / "speech.wav"), "--voice"],
                       check=True, timeout=300, stdout=subprocess.DEVNULL)
        speech = wav_samples(temp / "speech.wav")
        check(len(speech) > MIN_SPEECH_SECONDS * RATE, "the carried speech is too short for this test")
        # The speech's first non-silent stretch anchors it in the capture.
        first = next(i for i, s in enumerate(speech) if s != 0)
        first = min(first, len(speech) - ANCHOR)

        capture = temp / "capture.raw"
        with WineSession(capture_sound=capture) as wine:
            process = wine.start(player)
            wine.wait_for_windows(PLAYER_TITLE, count=1, timeout=90, process=process)
            time.sleep(PLAY_SECONDS)
            code, output = wine.run(closer, PLAYER_TITLE, timeout=90)
            check(code == 0, f"post_wm_close exited with {code}: {output}")
            code = wine.wait_for_exit(process, timeout=60)
            check(code == 0, f"player exited with code {code}")
        captured = read_capture(capture)

    kept = Path(tempfile.gettempdir()) / "clipnote-speech-capture.wav"
    anchor = find(captured, speech[first:first + ANCHOR])
    if anchor < 0:
        write_wav(kept, captured)
        raise HarnessError(f"the speech never appears in the {len(captured)} captured samples "
                           f"(kept in {kept})")
    start = anchor - first
    check(start >= 0 and close(captured[start:anchor], speech[:first]),
          "the capture does not hold the speech from its first sample")
    # The speech runs until the cut: the last sounding sample of the capture.
    end = max(i for i, s in enumerate(captured) if s != 0) + 1
    played = end - start
    check(played <= len(speech), "more came out than the speech holds")
    worst = max(abs(a - b) for a, b in zip(captured[start:end], speech[:played]))
    snr = snr_db(speech[:played], captured[start:end])
    print(f"speech starts at captured sample {start}; {played} samples ({played / RATE:.2f} s) "
          f"follow the decoder's: largest difference {worst}, SNR {snr:.1f} dB")
    check(played >= MIN_SPEECH_SECONDS * RATE, f"only {played} samples of speech came out")
    if worst > MAX_SAMPLE_ERROR or snr < MIN_SNR_DB:
        write_wav(kept, captured)
        raise HarnessError(f"the speech that came out differs from the decoder's (kept in {kept})")

    # Before the speech: silence and at most a cut fragment of the start-up sound.
    before = captured[:start]
    sounding = [i for i, s in enumerate(before) if s != 0]
    if sounding:
        fragment = before[sounding[0]:sounding[-1] + 1]
        check(len(fragment) < len(chime), "the start-up sound played in full: it was not cut")
        print(f"start-up sound: a fragment of {len(fragment)} samples before the cut")
    else:
        print("start-up sound: requested and cut before any of it was heard")


if __name__ == "__main__":
    try:
        main()
    except HarnessError as error:
        print(f"FAIL: {error}", file=sys.stderr)
        sys.exit(1)
