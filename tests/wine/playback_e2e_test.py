#!/usr/bin/env python3
"""The Windows player plays its embedded message under Wine: shortly after the
start the picture area holds, pixel for pixel, one of the clip's pictures as our
decoder and colour conversion make it; Stop and Play work; the size button
replays the message doubled from the client origin, again equal to a decoded and
doubled picture; closing ends the process with exit code 0.

  playback_e2e_test.py --win32-build-dir <Windows tree> --expected-pictures <program>
                       --clip <message.263> [--pack <clipnote-decode> --pack-clip <clip>...]

With --pack the player is the message executable clipnote-decode pack writes.
"""
import argparse
import subprocess
import time

from wine_harness import (PLAYER_TITLE, PLAY_BUTTON, SIZE_BUTTON, HarnessError, WineSession,
                          add_player_options, check, find_win32_output, native_picture_area,
                          player_to_test, run_script, scratch, start_player)


def grab_rgb(wine, area, path):
    wine.screenshot(path, crop=area)
    return subprocess.run(["convert", str(path), "-depth", "8", "rgb:-"], stdout=subprocess.PIPE,
                          check=True, timeout=60).stdout


def matching_picture(screen, pictures, width, height, visible_width):
    """Index of the picture whose left visible_width columns equal the screen's."""
    size = width * height * 3
    row = visible_width * 3
    for index in range(len(pictures) // size):
        picture = pictures[index * size:(index + 1) * size]
        if visible_width == width:
            if picture == screen:
                return index
        elif all(picture[r * width * 3:r * width * 3 + row] == screen[r * row:(r + 1) * row]
                 for r in range(height)):
            return index
    return None


def wait_for_match(wine, area, pictures, width, height, path, timeout=20):
    """Index of the decoded picture the area (x, y, visible width) shows, polled
    until one matches. The doubled picture is two columns wider than the client
    area, so only its visible part is compared."""
    x, y, visible_width = area
    deadline = time.monotonic() + timeout
    while True:
        screen = grab_rgb(wine, (x, y, visible_width, height), path)
        check(len(screen) == visible_width * height * 3, f"screenshot of {area} gave {len(screen)} bytes")
        index = matching_picture(screen, pictures, width, height, visible_width)
        if index is not None:
            return index
        if time.monotonic() > deadline:
            raise HarnessError(f"the picture area {area} never equalled a decoded picture "
                               f"(last screenshot kept in {path})")
        time.sleep(0.3)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win32-build-dir", required=True)
    parser.add_argument("--expected-pictures", required=True)
    parser.add_argument("--clip", required=True)
    add_player_options(parser)
    args = parser.parse_args()
    closer = find_win32_output(args.win32_build_dir, "post_wm_close.exe")

    with scratch("playback-e2e") as temp:
        player = player_to_test(args, temp)
        count = subprocess.run([args.expected_pictures, args.clip, temp / "native.rgb",
                                temp / "doubled.rgb"], stdout=subprocess.PIPE, text=True,
                               check=True, timeout=300).stdout.strip()
        native = (temp / "native.rgb").read_bytes()
        doubled = (temp / "doubled.rgb").read_bytes()
        print(f"{count} pictures decoded for comparison")
        shot = temp / "last.png"

        with WineSession() as wine:
            process, window = start_player(wine, args, player)
            geometry = wine.window_geometry(window)
            nx, ny, _, _ = native_picture_area(geometry)
            index = wait_for_match(wine, (nx, ny, 176), native, 176, 144, shot)
            print(f"native size: the picture area equals decoded picture {index}")

            # Stop (the button reads "Stop" once the speech runs), then idle.
            time.sleep(1.0)
            wine.click(window, PLAY_BUTTON)
            time.sleep(1.0)
            check(process.poll() is None, "player ended after Stop")
            # The size switch replays doubled from the client origin.
            wine.click(window, SIZE_BUTTON)
            x, y, client_width, _ = geometry
            doubled_area = (x, y, min(352, client_width))
            index = wait_for_match(wine, doubled_area, doubled, 352, 288, shot)
            print(f"doubled: the client area from (0, 0) equals decoded, doubled picture {index}")

            # Stop, then Play again at doubled size: it plays from the start once more.
            time.sleep(1.0)
            wine.click(window, PLAY_BUTTON)
            time.sleep(1.0)
            wine.click(window, PLAY_BUTTON)
            index = wait_for_match(wine, doubled_area, doubled, 352, 288, shot)
            print(f"replayed: decoded, doubled picture {index}")

            code, output = wine.run(closer, PLAYER_TITLE, timeout=90)
            check(code == 0, f"post_wm_close exited with {code}: {output}")
            code = wine.wait_for_exit(process, timeout=60)
            check(code == 0, f"player exited with code {code} after WM_CLOSE")
            print("closed: exit code 0")


if __name__ == "__main__":
    run_script(main)
