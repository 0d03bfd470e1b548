"""Reads a compiled Windows resource file (.res, as windres -O res writes it).

Each entry is a header (data size, header size, type, name, version fields,
memory flags, language) followed by the data, both padded to 4 bytes. A type
or name is either a UTF-16 string or 0xFFFF followed by a 16-bit ordinal.
"""
import struct
from dataclasses import dataclass


@dataclass
class Resource:
    type: object  # int ordinal or str name
    name: object
    language: int
    data: bytes


def _read_id(blob, offset):
    (first,) = struct.unpack_from("<H", blob, offset)
    if first == 0xFFFF:
        (ordinal,) = struct.unpack_from("<H", blob, offset + 2)
        return ordinal, offset + 4
    end = offset
    while struct.unpack_from("<H", blob, end)[0] != 0:
        end += 2
    return blob[offset:end].decode("utf-16-le"), end + 2


def read_res(blob):
    resources = []
    offset = 0
    while offset + 8 <= len(blob):
        data_size, header_size = struct.unpack_from("<II", blob, offset)
        type_id, cursor = _read_id(blob, offset + 8)
        name_id, cursor = _read_id(blob, cursor)
        cursor = (cursor + 3) & ~3
        _data_version, _flags, language = struct.unpack_from("<IHH", blob, cursor)
        data_start = offset + header_size
        data = blob[data_start:data_start + data_size]
        if len(data) != data_size:
            raise ValueError(f"resource file truncated at offset {offset}")
        # The file starts with an empty entry (type 0, name 0) that marks it as 32-bit.
        if not (type_id == 0 and name_id == 0 and data_size == 0):
            resources.append(Resource(type_id, name_id, language, data))
        offset = (data_start + data_size + 3) & ~3
    return resources
