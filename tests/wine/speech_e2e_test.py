#!/usr/bin/env python3
"""The Windows player's sound under Wine, captured at ALSA's default device.

The player is left to play its message to the end. What comes out must be:
at most a cut fragment of the start-up sound (it is requested and cut at once);
then the speech, sample for sample the WAV image that the Windows build's own
speech decoder makes (decode_voice.exe), all of it; then, after a click on the
size button, which only an ended playback enables, the speech once more from its
first sample, without the start-up sound, exact up to where closing the window
cut it. A message without video keeps the size button disabled; there the replay
is a click on Play once the button reads "Play" again, which it does only when
the playback has ended.

  speech_e2e_test.py --win32-build-dir <Windows tree> --voice <message.723>
                     --chime <startup_chime.wav> [--pack <clipnote-decode> --pack-clip <clip>...]

With --pack the player is the message executable clipnote-decode pack writes.
"""
import argparse
import array
import sys
import time
from pathlib import Path

from alsa_capture import RATE, read_capture, write_wav
from wine_harness import (PLAYER_TITLE, PLAY_BUTTON, SIZE_BUTTON, HarnessError, WineSession,
                          add_player_options, check, find_win32_output, kept_file,
                          player_to_test, run_script, scratch, start_player)

ANCHOR = 400            # samples of speech used to find where it starts in the capture
END_MARGIN = 60         # seconds past the speech's length for the playback to end by itself
MIN_REPLAY_SECONDS = 1  # at least this much of the replay must come out before the close


def wav_samples(path):
    data = Path(path).read_bytes()
    samples = array.array("h")
    samples.frombytes(data[44:44 + (len(data) - 44) // 2 * 2])
    if sys.byteorder != "little":
        samples.byteswap()
    return samples


def find(haystack, needle, start=0):
    """First sample index at or after `start` where haystack holds needle exactly, or -1."""
    hay, pin = haystack.tobytes(), needle.tobytes()
    at = hay.find(pin, start * 2)
    while at >= 0 and at % 2:
        at = hay.find(pin, at + 1)
    return at // 2 if at >= 0 else -1


def follow(captured, speech, start):
    """Walks the capture from `start` along the speech, sample for sample. The
    capture device runs faster than real time, so the sound service may fall
    behind it now and then, and the device then puts silence between two of its
    buffers: runs of zeros where the speech has none are skipped and counted.
    Returns (capture index after the last speech sample met, speech samples met,
    zeros skipped); it stops at the first sample that differs."""
    i, j, skipped = start, 0, 0
    while j < len(speech) and i < len(captured):
        if captured[i] == speech[j]:
            i, j = i + 1, j + 1
        elif captured[i] == 0:
            while i < len(captured) and captured[i] == 0:
                i, skipped = i + 1, skipped + 1
        else:
            break
    return i, j, skipped


def replay_by_button(wine, window, args):
    """Clicks the button that replays an ended playback: the size button, or, for a
    message without video (its size button stays disabled), Play once it reads so."""
    if args.expect_box != "Audio only":
        wine.click(window, SIZE_BUTTON)
        return
    texts = find_win32_output(args.win32_build_dir, "window_texts.exe")
    if "Play" in wine.control_texts(texts, PLAYER_TITLE):
        wine.click(window, PLAY_BUTTON)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win32-build-dir", required=True)
    parser.add_argument("--voice", required=True)
    parser.add_argument("--chime", required=True)
    add_player_options(parser)
    args = parser.parse_args()
    closer = find_win32_output(args.win32_build_dir, "post_wm_close.exe")
    decoder = find_win32_output(args.win32_build_dir, "decode_voice.exe")
    chime = wav_samples(args.chime)

    with scratch("speech-e2e") as temp:
        player = player_to_test(args, temp)
        capture = temp / "capture.raw"
        with WineSession(capture_sound=capture) as wine:
            code, output = wine.run(decoder, str(Path(args.voice).resolve()), str(temp / "speech.wav"),
                                    timeout=300)
            check(code == 0, f"decode_voice.exe exited with {code}: {output}")
            speech = wav_samples(temp / "speech.wav")
            check(len(speech) > 2 * ANCHOR, "the carried speech is too short for this test")
            # The speech's first non-silent stretch anchors it in the capture.
            first = next(i for i, s in enumerate(speech) if s != 0)
            first = min(first, len(speech) - ANCHOR)
            anchor = speech[first:first + ANCHOR]

            process, window = start_player(wine, args, player)
            started = time.monotonic()
            deadline = started + len(speech) / RATE + END_MARGIN
            # Once the speech has come out in full, click the size button until the
            # replay starts: it stays disabled until the playback has ended by itself.
            replay = -1
            while replay < 0:
                check(time.monotonic() < deadline,
                      f"no replay within {deadline - started:.0f} s: the playback never ended by "
                      f"itself, or its speech never came out in full")
                time.sleep(2)
                captured = read_capture(capture)
                start = find(captured, anchor) - first
                if start >= 0 and len(captured) >= start + len(speech):
                    replay = find(captured, anchor, start + len(speech))
                    if replay < 0:
                        replay_by_button(wine, window, args)
            print(f"the playback ended by itself; its button replayed it "
                  f"{time.monotonic() - started:.1f} s after the window appeared")
            time.sleep(MIN_REPLAY_SECONDS + 2)
            code, output = wine.run(closer, PLAYER_TITLE, timeout=90)
            check(code == 0, f"post_wm_close exited with {code}: {output}")
            code = wine.wait_for_exit(process, timeout=60)
            check(code == 0, f"player exited with code {code}")
        captured = read_capture(capture)

    try:
        start = find(captured, anchor) - first
        check(start >= 0, "the capture lost the speech")
        end, met, skipped = follow(captured, speech, start)
        check(met == len(speech), f"the speech that came out differs from the player's WAV image "
                                  f"at its sample {met}")
        print(f"first playback: all {len(speech)} samples ({len(speech) / RATE:.2f} s) of the "
              f"speech, exactly, from captured sample {start} ({skipped} samples of silence "
              f"from the device falling behind)")

        # Before the speech: silence and at most a cut fragment of the start-up sound.
        sounding = [i for i, s in enumerate(captured[:start]) if s != 0]
        if sounding:
            fragment = sounding[-1] - sounding[0] + 1
            check(fragment < len(chime), "the start-up sound played in full: it was not cut")
            print(f"start-up sound: a fragment of {fragment} samples before the cut")
        else:
            print("start-up sound: requested and cut before any of it was heard")

        replay = find(captured, anchor, end) - first
        check(replay >= end, "the replay is missing from the capture")
        check(not any(captured[end:replay]),
              "something sounded between the end of the speech and its replay (a start-up sound?)")
        end, played, skipped = follow(captured, speech, replay)
        check(not any(captured[end:]), f"the replay differs from the speech at its sample {played}")
        check(played >= MIN_REPLAY_SECONDS * RATE, f"only {played} samples of the replay came out")
        print(f"replay: the first {played} samples ({played / RATE:.2f} s) of the speech, exactly, "
              f"until the close cut it ({skipped} samples of silence from the device)")
    except HarnessError:
        kept = kept_file("speech-capture.wav")
        write_wav(kept, captured)
        print(f"capture kept in {kept}", file=sys.stderr)
        raise


if __name__ == "__main__":
    run_script(main)
