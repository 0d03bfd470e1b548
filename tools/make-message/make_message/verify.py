"""Decoding every clip before it is written: with clipnote-decode, the player's own decoders.

Until a clipnote-decode with both commands is at hand, ffmpeg's decoders stand in; the check
is the same: every picture decodes, and the speech decodes to 240 samples per frame.
"""

import os
import re
import shutil
import subprocess
import wave

from . import external, g723_stream, h263_stream

PICTURE_BYTES = 176 * 144 * 3 // 2
_REPO_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))


class Decoder:
    """Where the checks decode: clipnote-decode for each command it has, ffmpeg otherwise."""

    def __init__(self, path=None, commands=()):
        self.path = path
        self.commands = set(commands)

    def has(self, command):
        return self.path is not None and command in self.commands

    def name(self, command):
        return "clipnote-decode" if self.has(command) else "ffmpeg"


def find_decoder(explicit=None):
    """The clipnote-decode to check with: --decoder, $CLIPNOTE_DECODE, the repository's build
    tree, then PATH. ffmpeg stands in for any command it does not have yet."""
    if explicit and not os.access(explicit, os.X_OK):
        raise external.ToolError(f"decoder '{explicit}' is not an executable")
    built = [os.path.join(_REPO_ROOT, *tree, "tools", "clipnote-decode", "clipnote-decode")
             for tree in (("build", "native"), ("build",))]
    candidates = [explicit, os.environ.get("CLIPNOTE_DECODE"), *built,
                  shutil.which("clipnote-decode")]
    for path in candidates:
        if path and os.access(path, os.X_OK):
            return Decoder(path, _working_commands(path))
    return Decoder()


def _working_commands(path):
    """The commands of a clipnote-decode that are built (a stub says it is not)."""
    working = []
    for command in ("video", "audio"):
        result = subprocess.run([path, command], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                check=False)
        if b"not built yet" not in result.stderr:
            working.append(command)
    return working


_PICTURE_LINE = re.compile(rb"picture (\d+) tr (\d+) (INTRA|INTER) result (-?\d+)")


def check_video(clip, ticks, decoder, work_dir):
    """Every picture decodes; returns the pictures as one raw 4:2:0 byte string."""
    headers = h263_stream.picture_headers(clip)
    if [h.temporal_reference for h in headers] != [t % 256 for t in ticks]:
        raise external.ToolError("the pictures' temporal references are not the ones planned")
    path = os.path.join(work_dir, "check.263")
    with open(path, "wb") as f:
        f.write(clip)
    out = os.path.join(work_dir, "check.yuv")
    if decoder.has("video"):
        result = subprocess.run([decoder.path, "video", path, out, "--verbose"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
        complaint = result.stderr.decode(errors="replace").strip()
        if result.returncode != 0:
            raise external.ToolError(f"clipnote-decode refused the video clip: {complaint}")
        _check_picture_lines(result.stdout + result.stderr, headers, ticks)
    else:
        # Passthrough: one output picture per coded picture, whatever the TRs say.
        external.ffmpeg(["-f", "h263", "-i", path, "-fps_mode", "passthrough", "-f", "rawvideo",
                         "-pix_fmt", "yuv420p", out],
                        "decoding the video clip with ffmpeg")
    with open(out, "rb") as f:
        pictures = f.read()
    decoded = len(pictures) // PICTURE_BYTES
    if decoded != len(ticks) or len(pictures) % PICTURE_BYTES:
        raise external.ToolError(f"{decoder.name('video')} decoded {decoded} of the "
                                 f"{len(ticks)} pictures of the video clip")
    return pictures


def _check_picture_lines(output, headers, ticks):
    """clipnote-decode's per-picture lines: every result 0, with the TR and kind planned."""
    lines = _PICTURE_LINE.findall(output)
    if not lines:
        return
    if len(lines) != len(ticks):
        raise external.ToolError(f"clipnote-decode reported {len(lines)} of the {len(ticks)} "
                                 "pictures")
    for (number, tr, kind, result), header, tick in zip(lines, headers, ticks):
        if int(result) != 0:
            raise external.ToolError(f"picture {int(number)} failed to decode (result "
                                     f"{int(result)})")
        if int(tr) != tick % 256 or kind.decode() != header.kind:
            raise external.ToolError(f"picture {int(number)} decoded as {kind.decode()} TR "
                                     f"{int(tr)}, expected {header.kind} TR {tick % 256}")


def check_speech(clip, decoder, work_dir):
    """The whole clip decodes to 240 samples per frame; returns the samples as bytes."""
    _, frames = g723_stream.parse_voice_clip(clip)
    expected = len(frames) * g723_stream.PCM_BYTES_PER_FRAME
    path = os.path.join(work_dir, "check.723")
    with open(path, "wb") as f:
        f.write(clip if decoder.has("audio") else clip[4:])
    if decoder.has("audio"):
        out = os.path.join(work_dir, "check.wav")
        result = subprocess.run([decoder.path, "audio", path, out, "--voice"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
        if result.returncode != 0:
            raise external.ToolError("clipnote-decode refused the speech clip: "
                                     + result.stderr.decode(errors="replace").strip())
        with wave.open(out, "rb") as w:
            if (w.getframerate(), w.getnchannels(), w.getsampwidth()) != (8000, 1, 2):
                raise external.ToolError("clipnote-decode wrote speech that is not 8 kHz mono")
            pcm = w.readframes(w.getnframes())
    else:
        out = os.path.join(work_dir, "check.raw")
        if frames:
            external.ffmpeg(["-f", "g723_1", "-i", path, "-f", "s16le", out],
                            "decoding the speech clip with ffmpeg")
            with open(out, "rb") as f:
                pcm = f.read()
        else:
            pcm = b""
    if len(pcm) != expected:
        raise external.ToolError(f"{decoder.name('audio')} decoded the speech to {len(pcm)} "
                                 f"bytes, expected {expected}")
    return pcm
