#!/usr/bin/env python3
"""The sound capture that the player's end-to-end tests rely on: a WAVE file
played from memory (SND_MEMORY) by a Windows program under Wine arrives in the
capture file sample for sample, identical. The file played is the player's own start-up chime, so this also shows
that the Windows sound service accepts its format.

  sound_capture_test.py --win32-build-dir <Windows build tree> --wave <file.wav>
"""
import argparse
import math
import struct
from pathlib import Path

from alsa_capture import read_capture, write_wav
from wine_harness import HarnessError, WineSession, find_win32_output, run_script, scratch

MAX_LAG = 400      # samples of silence the device may put in front


def best_alignment(reference, captured):
    """(SNR in dB, lag) of the captured samples against the reference."""
    signal = sum(s * s for s in reference) or 1
    best = (-math.inf, 0)
    for lag in range(0, min(MAX_LAG, max(0, len(captured) - len(reference))) + 1):
        error = sum((captured[lag + i] - s) ** 2 for i, s in enumerate(reference))
        snr = math.inf if error == 0 else 10 * math.log10(signal / error)
        if snr > best[0]:
            best = (snr, lag)
        if error == 0:
            break
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win32-build-dir", required=True)
    parser.add_argument("--wave", required=True)
    args = parser.parse_args()
    player = find_win32_output(args.win32_build_dir, "play_wave.exe")
    wave = Path(args.wave).read_bytes()
    reference = struct.unpack(f"<{(len(wave) - 44) // 2}h", wave[44:44 + (len(wave) - 44) // 2 * 2])

    with scratch("sound-capture") as temp:
        capture = temp / "capture.raw"
        with WineSession(capture_sound=capture) as wine:
            code, output = wine.run(player, str(Path(args.wave).resolve()), timeout=120)
            if code != 0:
                raise HarnessError(f"play_wave.exe exited with {code}: {output}")
        captured = read_capture(capture)
        if len(captured) < len(reference):
            write_wav(temp / "captured.wav", captured)
            raise HarnessError(f"captured {len(captured)} samples, expected at least {len(reference)}")
        snr, lag = best_alignment(reference, captured)
        print(f"captured {len(captured)} samples; best match at lag {lag}: SNR {snr:.1f} dB")
        if snr != math.inf:
            write_wav(temp / "captured.wav", captured)
            raise HarnessError(f"captured sound differs from what was played (SNR {snr:.1f} dB)")


if __name__ == "__main__":
    run_script(main)
