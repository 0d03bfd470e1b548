#!/usr/bin/env python3
"""Writes the page's built-in message (the player's own clips and logo) as a module.

usage: embed_default.py MESSAGE.263 MESSAGE.723 LOGO.bmp OUT.js
"""
import base64
import sys


def main(argv):
    if len(argv) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    movie, voice, logo, out = argv[1:]
    write_message_module(out, [("message.263", movie), ("message.723", voice)], logo)
    return 0


def encoded(path):
    with open(path, "rb") as f:
        return base64.b64encode(f.read()).decode()


def write_message_module(out, files, logo):
    """The module the page takes its built-in message from: files as (name, path)."""
    entries = ",\n".join(f'  {{ name: "{name}", base64: "{encoded(path)}" }}' for name, path in files)
    with open(out, "w") as f:
        f.write("// The message the page plays when it opens, and the maker's logo.\n")
        f.write(f"export const builtInFiles = [\n{entries}\n];\n")
        f.write(f'export const logoBase64 = "{encoded(logo)}";\n')


if __name__ == "__main__":
    sys.exit(main(sys.argv))
