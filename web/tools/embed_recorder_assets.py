#!/usr/bin/env python3
"""Writes what the recorder page carries as a module: the player template the message
executables are written on, the player's self-contained page the saved pages are made
from, and the maker's logo for the preview.

usage: embed_recorder_assets.py TEMPLATE.exe PLAYER_PAGE.html LOGO.bmp OUT.js
"""
import base64
import sys


def encoded(path):
    with open(path, "rb") as f:
        return base64.b64encode(f.read()).decode()


def main(argv):
    if len(argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    template, page, logo, out = argv[1:]
    with open(out, "w") as f:
        f.write("// The recorder's built-in files: the player template, the player page and the logo.\n")
        f.write(f'export const templateBase64 = "{encoded(template)}";\n')
        f.write(f'export const playerPageBase64 = "{encoded(page)}";\n')
        f.write(f'export const recorderLogoBase64 = "{encoded(logo)}";\n')
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
