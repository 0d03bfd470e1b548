"""Players around new clips. write_player puts them into the Windows player template that
clipnote-decode carries (clipnote-decode pack: milliseconds, no compiler); build_players
builds a copy of this source tree with the clips in place of resources/message.263 and
resources/message.723, for Windows (clipnote.exe, with the mingw-w64 cross compiler) and
natively (clipnote)."""

import os
import shutil
import subprocess
import tempfile

from . import external, output_files

SOURCE_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
_SKIPPED = {".git", "out", "__pycache__"}


def _ignore(directory, names):
    return [n for n in names if n in _SKIPPED or n.startswith("build")]


def _cmake(args, what, log):
    log(f"{what} ...")
    result = subprocess.run(["cmake"] + args, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            check=False)
    if result.returncode != 0:
        tail = "\n".join(result.stdout.decode(errors="replace").strip().splitlines()[-15:])
        raise external.ToolError(f"{what} failed:\n{tail}")
    return result.stdout.decode(errors="replace")


def _find(root, name):
    for directory, _, files in os.walk(root):
        if name in files:
            return os.path.join(directory, name)
    return None


def _generator():
    return ["-G", "Ninja"] if shutil.which("ninja") else []


def write_player(decoder, movie_path, speech_path, out_dir):
    """Writes out_dir/clipnote.exe with decoder's pack command, whole or not at all; returns
    its path. The same clips give the clipnote.exe of a build around them, byte for byte."""
    os.makedirs(out_dir, exist_ok=True)
    exe = os.path.join(out_dir, "clipnote.exe")
    result = subprocess.run([decoder, "pack", movie_path, speech_path, exe, "--force"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=False)
    if result.returncode != 0:
        raise external.ToolError("clipnote-decode pack failed: "
                                 + result.stdout.decode(errors="replace").strip())
    return exe


def build_players(movie_path, speech_path, out_dir, log, source_root=SOURCE_ROOT):
    """Builds clipnote.exe and, where this tree has it, the native clipnote; returns paths."""
    if not os.path.isfile(os.path.join(source_root, "CMakeLists.txt")):
        raise external.ToolError(f"no Clipnote source tree at {source_root}")
    external.require("cmake")
    os.makedirs(out_dir, exist_ok=True)
    # Both players are put in place together once both are built.
    with tempfile.TemporaryDirectory(prefix="make-message-build-") as work, \
            output_files.OutputRun() as players:
        built = _build(movie_path, speech_path, out_dir, log, source_root, work, players)
        players.commit()
    return built


def windows_player(movie_path, speech_path, work, log, source_root=SOURCE_ROOT):
    """Builds clipnote.exe around the clips in a copy of the source tree under work; returns
    its path there. The same source and clips give the same bytes in any folder."""
    tree = os.path.join(work, "src")
    shutil.copytree(source_root, tree, ignore=_ignore)
    shutil.copyfile(movie_path, os.path.join(tree, "resources", "message.263"))
    shutil.copyfile(speech_path, os.path.join(tree, "resources", "message.723"))
    cross = os.path.join(work, "cross")
    toolchain = os.path.join(tree, "cmake", "mingw-i686.cmake")
    _cmake(["-S", tree, "-B", cross, *_generator(), "-DCMAKE_BUILD_TYPE=Release",
            f"-DCMAKE_TOOLCHAIN_FILE={toolchain}"], "configuring the Windows build", log)
    _cmake(["--build", cross, "-j", _jobs(), "--target", "clipnote"],
           "building clipnote.exe", log)
    exe = _find(cross, "clipnote.exe")
    if exe is None:
        raise external.ToolError("the Windows build made no clipnote.exe")
    return exe


def _jobs():
    return str(min(2, os.cpu_count() or 1))


def _build(movie_path, speech_path, out_dir, log, source_root, work, players):
    built = []
    exe = windows_player(movie_path, speech_path, work, log, source_root)
    built.append(os.path.join(out_dir, "clipnote.exe"))
    players.copy(exe, built[-1])

    tree = os.path.join(work, "src")
    native = os.path.join(work, "native")
    _cmake(["-S", tree, "-B", native, *_generator(), "-DCMAKE_BUILD_TYPE=Release"],
           "configuring the native build", log)
    targets = _cmake(["--build", native, "--target", "help"], "listing native targets", log)
    if not any(line.split(":")[0].strip() == "clipnote" for line in targets.splitlines()):
        log("note: this source tree has no native player yet; only clipnote.exe was built")
        return built
    _cmake(["--build", native, "-j", _jobs(), "--target", "clipnote"],
           "building the native clipnote", log)
    player = os.path.join(native, "platform", "gtk", "clipnote")
    if not os.path.isfile(player):
        player = _find(native, "clipnote")
    if player is None:
        raise external.ToolError("the native build made no clipnote")
    built.append(os.path.join(out_dir, "clipnote"))
    players.copy(player, built[-1])
    return built
