"""Decoding every clip before it is written, with clipnote-decode: the player's own decoders.

Every picture must decode (result 0, with the temporal reference and kind planned) and the
speech must decode to 240 samples per frame.
"""

import os
import re
import shutil
import subprocess
import wave

from . import external, g723_stream, h263_stream

PICTURE_BYTES = 176 * 144 * 3 // 2
SOURCE_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
# Where make-message builds clipnote-decode for itself when no build tree has one.
OWN_BUILD = os.path.join(SOURCE_ROOT, "build", "make-message")
_BUILT = [os.path.join(SOURCE_ROOT, *tree, "tools", "clipnote-decode", "clipnote-decode")
          for tree in (("build", "native"), ("build",), ("build", "make-message"))]
_PICTURE_LINE = re.compile(rb"picture (\d+) tr (\d+) (INTRA|INTER) result (-?\d+)")


def find_decoder(explicit=None, log=lambda *_: None):
    """clipnote-decode from --decoder, $CLIPNOTE_DECODE, a build tree of this source or PATH;
    failing those, built here from this source."""
    if explicit:
        if not os.access(explicit, os.X_OK):
            raise external.ToolError(f"decoder '{explicit}' is not an executable")
        return explicit
    for path in [os.environ.get("CLIPNOTE_DECODE"), *_BUILT, shutil.which("clipnote-decode")]:
        if path and os.access(path, os.X_OK):
            return path
    return build_decoder(log)


def build_decoder(log):
    if not os.path.isfile(os.path.join(SOURCE_ROOT, "tools", "clipnote-decode",
                                       "CMakeLists.txt")):
        raise external.ToolError("no clipnote-decode to check the clips with: name one with "
                                 "--decoder")
    external.require("cmake")
    log("building clipnote-decode to check the clips ...")
    generator = ["-G", "Ninja"] if shutil.which("ninja") else []
    for args in (["-S", SOURCE_ROOT, "-B", OWN_BUILD, *generator, "-DCMAKE_BUILD_TYPE=Release"],
                 ["--build", OWN_BUILD, "--target", "clipnote-decode"]):
        result = subprocess.run(["cmake", *args], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, check=False)
        if result.returncode != 0:
            tail = result.stdout.decode(errors="replace").strip().splitlines()[-5:]
            raise external.ToolError("building clipnote-decode failed:\n" + "\n".join(tail))
    return os.path.join(OWN_BUILD, "tools", "clipnote-decode", "clipnote-decode")


def _decode(decoder, args, what):
    result = subprocess.run([decoder, *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            check=False)
    if result.returncode != 0:
        raise external.ToolError(f"clipnote-decode refused the {what}: "
                                 + result.stderr.decode(errors="replace").strip())
    return result.stdout + result.stderr


def check_video(clip, ticks, decoder, work_dir):
    """Every picture decodes with the TR and kind planned; returns the raw 4:2:0 pictures."""
    headers = h263_stream.picture_headers(clip)
    if [h.temporal_reference for h in headers] != [t % 256 for t in ticks]:
        raise external.ToolError("the pictures' temporal references are not the ones planned")
    path = os.path.join(work_dir, "check.263")
    with open(path, "wb") as f:
        f.write(clip)
    out = os.path.join(work_dir, "check.yuv")
    lines = _PICTURE_LINE.findall(_decode(decoder, ["video", path, out, "--verbose", "--force"],
                                          "video clip"))
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
    with open(out, "rb") as f:
        pictures = f.read()
    if len(pictures) != len(ticks) * PICTURE_BYTES:
        raise external.ToolError(f"clipnote-decode wrote {len(pictures) // PICTURE_BYTES} of the "
                                 f"{len(ticks)} pictures of the video clip")
    return pictures


def check_speech(clip, decoder, work_dir):
    """The whole clip decodes to 240 samples per frame; returns the samples as bytes."""
    _, frames = g723_stream.parse_voice_clip(clip)
    expected = len(frames) * g723_stream.PCM_BYTES_PER_FRAME
    path = os.path.join(work_dir, "check.723")
    with open(path, "wb") as f:
        f.write(clip)
    out = os.path.join(work_dir, "check.wav")
    _decode(decoder, ["audio", path, out, "--voice", "--force"], "speech clip")
    with wave.open(out, "rb") as w:
        if (w.getframerate(), w.getnchannels(), w.getsampwidth()) != (8000, 1, 2):
            raise external.ToolError("clipnote-decode wrote speech that is not 8 kHz mono")
        pcm = w.readframes(w.getnframes())
    if len(pcm) != expected:
        raise external.ToolError(f"clipnote-decode decoded the speech to {len(pcm)} bytes, "
                                 f"expected {expected}")
    return pcm
