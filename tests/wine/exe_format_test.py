#!/usr/bin/env python3
"""clipnote.exe is a self-contained 32-bit Windows GUI program that carries every
resource of the player, the clips and the sound byte for byte as committed.

  exe_format_test.py --win32-build-dir <Windows build tree> --resources <resources dir>
"""
import argparse
import re
import shutil
import subprocess
import sys
from pathlib import Path

from wine_harness import find_win32_output, require_tools, run_script

# (wrestool type, name) of every resource the player uses.
EXPECTED = [("5", "'DISPLAYBOX'"), ("14", "128"), ("2", "147"), ("'WAVE'", "150"),
            ("263", "'MOVIE'"), ("723", "'VOICE'")]
# Resources extracted raw must equal these committed files.
SAME_AS_FILE = {("'WAVE'", "150"): "startup_chime.wav", ("263", "'MOVIE'"): "message.263",
                ("723", "'VOICE'"): "message.723"}
# DLLs a statically linked mingw program must not need.
RUNTIME_DLLS = re.compile(r"libstdc\+\+|libgcc|libwinpthread", re.IGNORECASE)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--win32-build-dir", required=True)
    parser.add_argument("--resources", required=True)
    args = parser.parse_args()
    require_tools("file", "wrestool")
    exe = find_win32_output(args.win32_build_dir, "clipnote.exe")
    failures = []

    kind = subprocess.run(["file", "-b", str(exe)], stdout=subprocess.PIPE, text=True, check=True).stdout
    if not kind.startswith("PE32 executable (GUI) Intel 80386"):
        failures.append(f"file reads {kind.strip()!r}")

    listing = subprocess.run(["wrestool", "-l", str(exe)], stdout=subprocess.PIPE, text=True,
                             check=True).stdout
    entries = {}
    for line in listing.splitlines():
        fields = dict(re.findall(r"--(type|name|language)=(\S+)", line))
        if "type" in fields and "name" in fields:
            entries[(fields["type"], fields["name"])] = fields.get("language")
    for key in EXPECTED:
        if key not in entries:
            failures.append(f"wrestool -l lists no resource of type {key[0]} named {key[1]}")
        elif entries[key] != "1033":
            failures.append(f"resource {key} has language {entries[key]}, expected 1033 (0x409)")

    for (rtype, name), filename in SAME_AS_FILE.items():
        extracted = subprocess.run(["wrestool", "-x", "--raw", f"--type={rtype.strip(chr(39))}",
                                    f"--name={name.strip(chr(39))}", str(exe)],
                                   stdout=subprocess.PIPE, check=True).stdout
        if extracted != (Path(args.resources) / filename).read_bytes():
            failures.append(f"resource {rtype} {name} differs from resources/{filename}")

    objdump = shutil.which("i686-w64-mingw32-objdump") or shutil.which("objdump")
    if objdump:
        headers = subprocess.run([objdump, "-p", str(exe)], stdout=subprocess.PIPE, text=True).stdout
        for dll in re.findall(r"DLL Name: (\S+)", headers):
            if RUNTIME_DLLS.search(dll):
                failures.append(f"clipnote.exe needs {dll}: it must be linked statically")

    for failure in failures:
        print(f"FAIL: {failure}", file=sys.stderr)
    if failures:
        sys.exit(1)
    print(f"{exe}: {kind.strip()}; all {len(EXPECTED)} resources present")


if __name__ == "__main__":
    run_script(main)
