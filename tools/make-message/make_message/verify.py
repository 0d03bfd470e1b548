"""Decoding every clip before it is written: with clipnote-decode, the player's own decoders.

Until a clipnote-decode with both commands is at hand, ffmpeg's decoders stand in; the check
is the same: every picture decodes, and the speech decodes to 240 samples per frame.
"""

import os
import shutil
import subprocess
import wave

from . import external, g723_stream, h263_stream

PICTURE_BYTES = 176 * 144 * 3 // 2
_REPO_ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))


class Decoder:
    """Where the checks decode: a clipnote-decode executable, or ffmpeg when there is none."""

    def __init__(self, clipnote_decode=None):
        self.path = clipnote_decode

    @property
    def name(self):
        return "clipnote-decode" if self.path else "ffmpeg"


def find_decoder(explicit=None, allow_ffmpeg=True):
    """The clipnote-decode to check with: --decoder, $CLIPNOTE_DECODE, the repository's build
    tree, then PATH; ffmpeg stands in when allowed and none is found."""
    candidates = [explicit, os.environ.get("CLIPNOTE_DECODE"),
                  os.path.join(_REPO_ROOT, "build", "tools", "clipnote-decode", "clipnote-decode"),
                  shutil.which("clipnote-decode")]
    if explicit and not os.access(explicit, os.X_OK):
        raise external.ToolError(f"decoder '{explicit}' is not an executable")
    for path in candidates:
        if path and os.access(path, os.X_OK) and _has_decoders(path):
            return Decoder(path)
    if not allow_ffmpeg:
        raise external.ToolError("no clipnote-decode with its video and audio commands was found; "
                                 "build it (cmake --build build --target clipnote-decode) or "
                                 "name it with --decoder")
    return Decoder(None)


def _has_decoders(path):
    """A clipnote-decode whose commands are still stubs says so; such a one cannot check."""
    for command in ("video", "audio"):
        result = subprocess.run([path, command], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                check=False)
        if b"not built yet" in result.stderr:
            return False
    return True


def check_video(clip, ticks, decoder, work_dir):
    """Every picture decodes; returns the pictures as one raw 4:2:0 byte string."""
    headers = h263_stream.picture_headers(clip)
    if [h.temporal_reference for h in headers] != [t % 256 for t in ticks]:
        raise external.ToolError("the pictures' temporal references are not the ones planned")
    path = os.path.join(work_dir, "check.263")
    with open(path, "wb") as f:
        f.write(clip)
    out = os.path.join(work_dir, "check.yuv")
    if decoder.path:
        result = subprocess.run([decoder.path, "video", path, out], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, check=False)
        complaint = result.stderr.decode(errors="replace").strip()
        if result.returncode != 0:
            raise external.ToolError(f"clipnote-decode refused the video clip: {complaint}")
    else:
        # Passthrough: one output picture per coded picture, whatever the TRs say.
        external.ffmpeg(["-f", "h263", "-i", path, "-fps_mode", "passthrough", "-f", "rawvideo",
                         "-pix_fmt", "yuv420p", out],
                        "decoding the video clip with ffmpeg")
    with open(out, "rb") as f:
        pictures = f.read()
    decoded = len(pictures) // PICTURE_BYTES
    if decoded != len(ticks) or len(pictures) % PICTURE_BYTES:
        raise external.ToolError(f"{decoder.name} decoded {decoded} of the {len(ticks)} pictures "
                                 "of the video clip")
    return pictures


def check_speech(clip, decoder, work_dir):
    """The whole clip decodes to 240 samples per frame; returns the samples as bytes."""
    _, frames = g723_stream.parse_voice_clip(clip)
    expected = len(frames) * g723_stream.PCM_BYTES_PER_FRAME
    path = os.path.join(work_dir, "check.723")
    with open(path, "wb") as f:
        f.write(clip if decoder.path else clip[4:])
    if decoder.path:
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
        raise external.ToolError(f"{decoder.name} decoded the speech to {len(pcm)} bytes, "
                                 f"expected {expected}")
    return pcm
