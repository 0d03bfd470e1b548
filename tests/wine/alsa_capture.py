"""Captures what a program plays through ALSA, for end-to-end sound tests.

`capture_environment(out_file, work_dir)` writes an ALSA configuration whose
default device converts everything to 8000 Hz mono signed 16-bit little-endian
and writes it, raw, to `out_file` (the `file` plugin, with a `null` device
behind it so nothing needs a sound card; each opening of the device appends to
the file, which the device fills faster than real time), and returns the environment variables
that make a program use it. Wine plays to ALSA's default device once its audio
driver is set to ALSA (WineSession does that when asked to capture).

`read_capture(path)` gives the captured samples; `write_wav(path, samples)`
keeps them as a WAVE file for a person to listen to.
"""
import array
import struct
import sys
from pathlib import Path

RATE = 8000

CONFIG = """\
# Made by tests/wine/alsa_capture.py: the system configuration first, then a
# default device that records instead of playing.
</usr/share/alsa/alsa.conf>

pcm.!default {{
  type plug
  slave {{
    pcm "clipnote_capture"
    format S16_LE
    rate {rate}
    channels 1
  }}
}}

pcm.clipnote_capture {{
  type file
  slave.pcm "null"
  # A pipe: every opening of the device appends to the file (a plain file
  # would be rewritten from its start), so it holds one sound after another.
  file "| cat >> '{file}'"
  format "raw"
}}
"""


def capture_environment(out_file, work_dir):
    work_dir = Path(work_dir)
    work_dir.mkdir(parents=True, exist_ok=True)
    config = work_dir / "clipnote-capture-asound.conf"
    config.write_text(CONFIG.format(rate=RATE, file=Path(out_file).resolve()))
    return {"ALSA_CONFIG_PATH": str(config)}


def read_capture(path):
    samples = array.array("h")
    data = Path(path).read_bytes() if Path(path).exists() else b""
    samples.frombytes(data[: len(data) // 2 * 2])
    if sys.byteorder != "little":
        samples.byteswap()
    return samples


def write_wav(path, samples, rate=RATE):
    pcm = array.array("h", samples)
    if sys.byteorder != "little":
        pcm.byteswap()
    data = pcm.tobytes()
    header = struct.pack("<4sI4s4sIHHIIHH4sI", b"RIFF", 36 + len(data), b"WAVE", b"fmt ", 16, 1, 1,
                         rate, rate * 2, 2, 16, b"data", len(data))
    Path(path).write_bytes(header + data)
