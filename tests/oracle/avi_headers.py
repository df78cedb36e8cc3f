"""A small, independent reader of the AVI headers the outside checks compare.

It reads only the top-level RIFF parts and the first part's hdrl list (stream headers and
formats), never the media data, and refuses sizes that run past their parent or the file.
"""

import os
import struct

HDRL_LIMIT = 16 << 20  # no real hdrl comes near this; a bigger size field is damage


class AviError(Exception):
    pass


def riff_parts(path):
    """The top-level RIFF parts as (form type, offset, size of the part's data)."""
    parts = []
    file_size = os.path.getsize(path)
    with open(path, "rb") as f:
        offset = 0
        while offset + 12 <= file_size:
            f.seek(offset)
            fourcc, size, form = struct.unpack("<4sI4s", f.read(12))
            if fourcc != b"RIFF":
                break
            parts.append((form.decode("latin-1"), offset, size))
            offset += 8 + size + (size & 1)
    if not parts or parts[0][0] != "AVI ":
        raise AviError(f"{path}: not an AVI file")
    return parts


def children(data, start, end):
    """(fourcc, list type or None, payload start, payload end) of each chunk in data[start:end]."""
    pos = start
    while pos + 8 <= end:
        fourcc, size = struct.unpack_from("<4sI", data, pos)
        body = pos + 8
        if body + size > end:
            raise AviError(f"chunk {fourcc!r} at {pos} runs past its parent")
        if fourcc == b"LIST" and size >= 4:
            yield fourcc, data[body:body + 4], body + 4, body + size
        else:
            yield fourcc, None, body, body + size
        pos = body + size + (size & 1)


def read_hdrl(path):
    with open(path, "rb") as f:
        data = f.read(12)
        if len(data) < 12 or data[:4] != b"RIFF" or data[8:12] != b"AVI ":
            raise AviError(f"{path}: not an AVI file")
        while True:
            head = f.read(12)
            if len(head) < 8:
                raise AviError(f"{path}: no hdrl list")
            fourcc, size = struct.unpack_from("<4sI", head)
            if fourcc == b"LIST" and head[8:12] == b"hdrl":
                if size > HDRL_LIMIT:
                    raise AviError(f"{path}: hdrl of {size} bytes")
                body = f.read(size - 4)
                if len(body) != size - 4:
                    raise AviError(f"{path}: hdrl cut short")
                return body
            f.seek(size + (size & 1) - 4, os.SEEK_CUR)


def stream_headers(path):
    """One dict per stream, in file order, with the strh fields the checks use and strf bytes."""
    hdrl = read_hdrl(path)
    streams = []
    for fourcc, list_type, start, end in children(hdrl, 0, len(hdrl)):
        if list_type != b"strl":
            continue
        stream = {}
        for sub, _, body, body_end in children(hdrl, start, end):
            if sub == b"strh":
                if body_end - body < 48:
                    raise AviError(f"{path}: short strh")
                (fcc_type, handler, _flags, _prio, _lang, _initial, scale, rate, first, length,
                 _buffer, _quality, sample_size) = struct.unpack_from("<4s4sIHHIIIIIIII", hdrl,
                                                                      body)
                frame = None
                if body_end - body >= 56:
                    frame = struct.unpack_from("<4h", hdrl, body + 48)
                stream.update(type=fcc_type.decode("latin-1"), handler=handler, scale=scale,
                              rate=rate, start=first, length=length, sample_size=sample_size,
                              frame=frame)
            elif sub == b"strf":
                stream["format"] = bytes(hdrl[body:body_end])
        if "type" not in stream:
            raise AviError(f"{path}: stream {len(streams)} has no strh")
        streams.append(stream)
    return streams
