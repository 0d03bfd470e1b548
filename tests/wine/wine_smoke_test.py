#!/usr/bin/env python3
"""The Windows player under Wine: it opens its window, a second start only brings
that window forward and exits with code 0, and a WM_CLOSE ends it with code 0.

  wine_smoke_test.py --win32-build-dir <Windows build tree>
"""
import argparse
import time

from wine_harness import PLAYER_TITLE, WineSession, check, find_win32_output, run_script


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win32-build-dir", required=True)
    args = parser.parse_args()
    player = find_win32_output(args.win32_build_dir, "clipnote.exe")
    closer = find_win32_output(args.win32_build_dir, "post_wm_close.exe")

    with WineSession() as wine:
        first = wine.start(player)
        windows = wine.wait_for_windows(PLAYER_TITLE, count=1, timeout=90, process=first)
        print(f"player window on screen: {windows[0]}")

        code, output = wine.run(player, timeout=60)
        check(code == 0, f"second start exited with {code}: {output}")
        # Give a wrongly opened second window the time to appear before counting.
        time.sleep(2)
        check(len(wine.windows(PLAYER_TITLE)) == 1,
              f"{len(wine.windows(PLAYER_TITLE))} player windows after a second start, expected 1")
        check(first.poll() is None, f"first player ended ({first.returncode}) after a second start")
        print("second start exited with code 0 and left one window")

        code, output = wine.run(closer, PLAYER_TITLE, timeout=90)
        check(code == 0, f"post_wm_close exited with {code}: {output}")
        code = wine.wait_for_exit(first, timeout=60)
        check(code == 0, f"player exited with code {code} after WM_CLOSE")
        wine.wait_for_windows(PLAYER_TITLE, count=0, timeout=10)
        print("WM_CLOSE ended the player with exit code 0")


if __name__ == "__main__":
    run_script(main)
