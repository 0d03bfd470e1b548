"""Picture layer of an H.263 clip: finding pictures, checking their headers, setting TR.

ffmpeg's encoder starts every picture and every GOB header on a byte boundary, and sixteen
zero bits in a row occur nowhere else in an H.263 stream, so scanning whole bytes finds them.
"""

from dataclasses import dataclass

QCIF = 2
INTRA = 0
INTER = 1


class ClipError(ValueError):
    """A clip the player would not play as intended."""


@dataclass
class PictureHeader:
    offset: int
    temporal_reference: int
    source_format: int
    coding_type: int
    pquant: int
    pei: int
    optional_modes: tuple  # split screen, document camera, freeze release, UMV, SAC, AP, PB, CPM
    ptype_marker: int
    ptype_h263: int

    @property
    def kind(self):
        return "INTRA" if self.coding_type == INTRA else "INTER"


def _start_codes(data):
    """Yields (offset, third byte) of every byte-aligned run of 16 zeros followed by a one."""
    index = data.find(b"\x00\x00")
    while 0 <= index < len(data) - 2:
        third = data[index + 2]
        if third != 0:
            yield index, third
            index = data.find(b"\x00\x00", index + 2)
        else:
            index += 1
            index = data.find(b"\x00\x00", index)


def picture_offsets(data):
    """Offsets of the picture start codes (GOB start code with group number 0)."""
    return [offset for offset, third in _start_codes(data) if third & 0xFC == 0x80]


def gob_header_offsets(data):
    """Offsets of the GOB start codes with a group number of 1 or more."""
    return [offset for offset, third in _start_codes(data) if 0x84 <= third < 0xFC]


def end_of_sequence_offsets(data):
    return [offset for offset, third in _start_codes(data) if third & 0xFC == 0xFC]


def _bits(data, offset, count):
    """count bits starting at bit offset, most significant first; zeros past the end."""
    value = 0
    for i in range(count):
        byte = offset + i
        bit = (data[byte >> 3] >> (7 - (byte & 7))) & 1 if (byte >> 3) < len(data) else 0
        value = (value << 1) | bit
    return value


def parse_picture_header(data, offset):
    bit = offset * 8 + 22
    tr = _bits(data, bit, 8)
    bit += 8
    fields = [_bits(data, bit + i, 1) for i in range(5)]  # marker, h263, split, doc, freeze
    bit += 5
    source_format = _bits(data, bit, 3)
    bit += 3
    coding_type, umv, sac, ap, pb = (_bits(data, bit + i, 1) for i in range(5))
    bit += 5
    pquant = _bits(data, bit, 5)
    bit += 5
    cpm = _bits(data, bit, 1)
    pei = _bits(data, bit + 1, 1)
    return PictureHeader(offset, tr, source_format, coding_type, pquant, pei,
                         (fields[2], fields[3], fields[4], umv, sac, ap, pb, cpm),
                         fields[0], fields[1])


def picture_headers(data):
    return [parse_picture_header(data, offset) for offset in picture_offsets(data)]


def check_baseline_qcif(header, index):
    """Raises ClipError unless the picture is what the player decodes and shows."""
    where = f"picture {index} (byte {header.offset})"
    if header.ptype_h263 != 0:
        raise ClipError(f"{where} is not an H.263 picture header")
    if any(header.optional_modes):
        raise ClipError(f"{where} uses an optional mode the player does not decode")
    if header.source_format != QCIF:
        raise ClipError(f"{where} has source format {header.source_format}; the player shows "
                        "QCIF (176x144) only")
    if header.pei != 0:
        raise ClipError(f"{where} carries extra insertion information (PEI 1)")
    if header.pquant == 0:
        raise ClipError(f"{where} has quantiser 0")


def set_temporal_reference(buffer, offset, tr):
    """Writes TR (8 bits right after the 22-bit start code) of the picture at offset."""
    tr &= 0xFF
    buffer[offset + 2] = (buffer[offset + 2] & 0xFC) | (tr >> 6)
    buffer[offset + 3] = (buffer[offset + 3] & 0x03) | ((tr & 0x3F) << 2)


def strip_end_of_sequence(data):
    """Removes a trailing end-of-sequence code; refuses one with pictures after it."""
    ends = end_of_sequence_offsets(data)
    if not ends:
        return bytes(data)
    cut = ends[0]
    if any(offset > cut for offset in picture_offsets(data)):
        raise ClipError(f"end-of-sequence code at byte {cut} is followed by more pictures")
    return bytes(data[:cut])


def retime(data, ticks):
    """The clip with picture i carrying temporal reference ticks[i] mod 256, checked."""
    buffer = bytearray(strip_end_of_sequence(data))
    headers = picture_headers(buffer)
    if len(headers) != len(ticks):
        raise ClipError(f"the encoder wrote {len(headers)} pictures, {len(ticks)} were given")
    if not headers or headers[0].offset != 0:
        raise ClipError("the clip does not begin with a picture start code")
    for index, header in enumerate(headers):
        check_baseline_qcif(header, index)
        set_temporal_reference(buffer, header.offset, ticks[index])
    if headers[0].coding_type != INTRA:
        raise ClipError("the first picture is not intra-coded")
    return bytes(buffer)


def tick_gaps(temporal_references):
    """Gaps between consecutive temporal references, counted modulo 256 as the player does."""
    return [(b - a) % 256 for a, b in zip(temporal_references, temporal_references[1:])]
