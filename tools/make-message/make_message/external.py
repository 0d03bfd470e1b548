"""Running ffmpeg, ffprobe, espeak-ng and sox, with failures turned into clear messages."""

import json
import shutil
import subprocess


class ToolError(RuntimeError):
    """An input or a tool run that make-message cannot turn into a valid clip."""


def require(program):
    path = shutil.which(program)
    if path is None:
        raise ToolError(f"'{program}' is not installed (make-message needs ffmpeg, espeak-ng "
                        "and sox)")
    return path


def run(args, what, stdin_bytes=None):
    """Runs a command, returning its standard output; raises ToolError with its last words."""
    require(args[0])
    result = subprocess.run(args, input=stdin_bytes, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, check=False)
    if result.returncode != 0:
        detail = result.stderr.decode(errors="replace").strip().splitlines()
        tail = detail[-1] if detail else f"exit code {result.returncode}"
        raise ToolError(f"{what} failed: {tail}")
    return result.stdout


def ffmpeg(args, what):
    return run(["ffmpeg", "-hide_banner", "-nostdin", "-v", "error", "-y"] + args, what)


def probe_streams(path):
    """(has_video, has_audio, duration_seconds or None) of a media file; refuses unreadable ones."""
    try:
        with open(path, "rb"):
            pass
    except OSError as error:
        raise ToolError(f"cannot read '{path}': {error.strerror}") from None
    try:
        out = run(["ffprobe", "-v", "error", "-print_format", "json", "-show_streams",
                   "-show_format", str(path)], f"reading '{path}'")
    except ToolError:
        raise ToolError(f"'{path}' is not a media file that ffmpeg can read") from None
    info = json.loads(out or b"{}")
    streams = info.get("streams", [])
    kinds = {s.get("codec_type") for s in streams}
    # A still image probes as a one-frame video stream; a message needs moving pictures.
    has_video = any(s.get("codec_type") == "video"
                    and s.get("disposition", {}).get("attached_pic", 0) == 0 for s in streams)
    duration = info.get("format", {}).get("duration")
    return has_video, "audio" in kinds, float(duration) if duration else None
