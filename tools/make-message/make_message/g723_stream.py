"""G.723.1 frame streams as the player reads them: delimiting, SID frames, the VOICE layout."""

import struct

# Frame kind in the low two bits of a frame's first byte, and the frame's length in bytes.
ACTIVE_63 = 0
ACTIVE_53 = 1
SID = 2
UNTRANSMITTED = 3
FRAME_BYTES = {ACTIVE_63: 24, ACTIVE_53: 20, SID: 4, UNTRANSMITTED: 1}

SAMPLES_PER_FRAME = 240
PCM_BYTES_PER_FRAME = 2 * SAMPLES_PER_FRAME


class StreamError(ValueError):
    """A frame stream that the player could not delimit."""


def split_frames(data):
    """Splits a raw frame stream into frames by the kind bits of each first byte."""
    frames = []
    offset = 0
    while offset < len(data):
        length = FRAME_BYTES[data[offset] & 3]
        if offset + length > len(data):
            raise StreamError(
                f"frame at byte {offset} needs {length} bytes, only {len(data) - offset} remain")
        frames.append(bytes(data[offset:offset + length]))
        offset += length
    return frames


def frame_kind(frame):
    return frame[0] & 3


def lsp_word(frame):
    """The 24-bit LSP index word: bits 2..25 of an active or SID frame."""
    if frame_kind(frame) == UNTRANSMITTED:
        raise StreamError("an untransmitted frame carries no LSP indices")
    return (int.from_bytes(frame[:4], "little") >> 2) & 0xFFFFFF


def sid_frame(lsp_index, gain_index):
    """Packs a 4-byte silence descriptor: kind 2, the LSP word, the 6-bit SID gain index."""
    if not 0 <= lsp_index <= 0xFFFFFF:
        raise ValueError("LSP index word out of range")
    if not 0 <= gain_index <= 63:
        raise ValueError("SID gain index out of range")
    return (SID | (lsp_index << 2) | (gain_index << 26)).to_bytes(4, "little")


def sid_gain_index(frame):
    if frame_kind(frame) != SID:
        raise StreamError("not a SID frame")
    return frame[3] >> 2


UNTRANSMITTED_FRAME = bytes([UNTRANSMITTED])


def pcm_capacity(coded_bytes):
    """The PCM bytes the player reserves: every coded byte could be a 480-byte frame."""
    return PCM_BYTES_PER_FRAME * (coded_bytes + 1)


def voice_clip(frames):
    """The VOICE resource: 4-byte little-endian pcmCapacity, then the frames back to back."""
    coded = b"".join(frames)
    return struct.pack("<I", pcm_capacity(len(coded))) + coded


def parse_voice_clip(clip):
    """Returns (pcmCapacity, frames) of a VOICE resource, checking its framing."""
    if len(clip) < 4:
        raise StreamError("a speech clip needs its 4-byte length prefix")
    (capacity,) = struct.unpack_from("<I", clip)
    frames = split_frames(clip[4:])
    if capacity < PCM_BYTES_PER_FRAME * len(frames):
        raise StreamError(
            f"prefix reserves {capacity} PCM bytes but the frames decode to "
            f"{PCM_BYTES_PER_FRAME * len(frames)}")
    return capacity, frames


def kind_counts(frames):
    counts = {"active": 0, "sid": 0, "untransmitted": 0}
    for frame in frames:
        kind = frame_kind(frame)
        if kind in (ACTIVE_63, ACTIVE_53):
            counts["active"] += 1
        elif kind == SID:
            counts["sid"] += 1
        else:
            counts["untransmitted"] += 1
    return counts
