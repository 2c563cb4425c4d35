#!/usr/bin/env python3
"""Writes a HEIC as phones do: a grid of 512 x 512 HEVC tiles and a small thumbnail, optionally
with a quarter turn.

    make-tiled-heic.py <photo> <width> <height> <output.heic> [--turn]

Debian 12's heif-enc and libheif 1.15 write a picture as one coded image only, so each tile is
coded by heif-enc and the tiles are then put together as one 'grid' image, whose box layout
this writes itself (ISO/IEC 23008-12, 6.6.2.3). --turn adds an 'irot' of a quarter turn
clockwise, as a phone held upright records its sensor's landscape picture.
"""
import os
import struct
import subprocess
import sys
import tempfile

TILE = 512
THUMBNAIL = (320, 240)


def box(kind, payload):
    return struct.pack(">I4s", 8 + len(payload), kind) + payload


def full_box(kind, version, flags, payload):
    return box(kind, struct.pack(">I", (version << 24) | flags) + payload)


def children(data):
    """(type, payload) of each box in `data`."""
    offset = 0
    while offset + 8 <= len(data):
        size, kind = struct.unpack_from(">I4s", data, offset)
        yield kind, data[offset + 8:offset + size]
        offset += size


def child(data, kind):
    return next(payload for found, payload in children(data) if found == kind)


def coded_tile(path):
    """The hvcC property and the coded data of the single image heif-enc wrote to `path`."""
    data = open(path, "rb").read()
    meta = child(data, b"meta")[4:]
    hvcc = next(payload for kind, payload in children(child(child(meta, b"iprp"), b"ipco")) if kind == b"hvcC")
    iloc = child(meta, b"iloc")
    version = iloc[0]
    sizes = (iloc[4] << 8) | iloc[5]
    offset_size, length_size, base_size = sizes >> 12, (sizes >> 8) & 15, (sizes >> 4) & 15
    index_size = sizes & 15 if version in (1, 2) else 0
    position = 8 if version < 2 else 10
    read = lambda size, at: int.from_bytes(iloc[at:at + size], "big")
    position += 2 if version < 2 else 4  # item ID
    position += 2 if version in (1, 2) else 0  # construction method
    position += 2  # data reference index
    base = read(base_size, position)
    position += base_size
    extents = read(2, position)
    position += 2
    chunks = []
    for _ in range(extents):
        position += index_size
        start = base + read(offset_size, position)
        position += offset_size
        length = read(length_size, position)
        position += length_size
        chunks.append(data[start:start + length])
    return box(b"hvcC", hvcc), b"".join(chunks)


def grid_heic(tiles, thumbnail, columns, rows, width, height, turn):
    grid_id, thumbnail_id = len(tiles) + 1, len(tiles) + 2
    properties = [box(b"ispe", struct.pack(">III", 0, TILE, TILE)),
                  box(b"ispe", struct.pack(">III", 0, width, height)),
                  box(b"ispe", struct.pack(">III", 0, *THUMBNAIL)),
                  box(b"irot", bytes([3]))]  # anticlockwise quarters: 3 is a clockwise quarter
    associations = []
    for number, (hvcc, _) in enumerate(tiles, 1):
        properties.append(hvcc)
        associations.append(struct.pack(">HBBB", number, 2, 0x80 | len(properties), 1))
    turned = [0x80 | 4] if turn else []
    associations.append(struct.pack(">HB", grid_id, 1 + len(turned)) + bytes([2] + turned))
    properties.append(thumbnail[0])
    associations.append(struct.pack(">HB", thumbnail_id, 2 + len(turned)) +
                        bytes([0x80 | len(properties), 3] + turned))
    grid = struct.pack(">BBBBHH", 0, 0, rows - 1, columns - 1, width, height)
    payloads = [coded for _, coded in tiles] + [grid, thumbnail[1]]

    def meta(data_start):
        infe = [full_box(b"infe", 2, 1, struct.pack(">HH4s", number, 0, b"hvc1") + b"\0")
                for number in range(1, grid_id)]
        infe.append(full_box(b"infe", 2, 0, struct.pack(">HH4s", grid_id, 0, b"grid") + b"\0"))
        infe.append(full_box(b"infe", 2, 0, struct.pack(">HH4s", thumbnail_id, 0, b"hvc1") + b"\0"))
        locations, offset = [], data_start
        for number, payload in enumerate(payloads, 1):
            locations.append(struct.pack(">HHHII", number, 0, 1, offset, len(payload)))
            offset += len(payload)
        return full_box(b"meta", 0, 0, b"".join([
            full_box(b"hdlr", 0, 0, struct.pack(">I4s12x", 0, b"pict") + b"\0"),
            full_box(b"pitm", 0, 0, struct.pack(">H", grid_id)),
            full_box(b"iinf", 0, 0, struct.pack(">H", len(infe)) + b"".join(infe)),
            full_box(b"iref", 0, 0, box(b"dimg", struct.pack(">HH", grid_id, len(tiles)) +
                                        b"".join(struct.pack(">H", n) for n in range(1, grid_id))) +
                     box(b"thmb", struct.pack(">HHH", thumbnail_id, 1, grid_id))),
            box(b"iprp", box(b"ipco", b"".join(properties)) +
                full_box(b"ipma", 0, 0, struct.pack(">I", len(associations)) + b"".join(associations))),
            full_box(b"iloc", 0, 0, struct.pack(">BBH", 0x44, 0, len(payloads)) + b"".join(locations)),
        ]))

    ftyp = box(b"ftyp", b"heic" + struct.pack(">I", 0) + b"mif1heic")
    head = len(ftyp) + len(meta(0)) + 8
    return ftyp + meta(head) + box(b"mdat", b"".join(payloads))


def main():
    photo, width, height, output = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    turn = "--turn" in sys.argv[5:]
    columns, rows = -(-width // TILE), -(-height // TILE)
    with tempfile.TemporaryDirectory() as scratch:
        # The picture at its size, on a canvas of whole tiles; the grid's size crops it back.
        subprocess.run(["convert", photo, "-resize", f"{width}x{height}!", "-background", "gray", "-extent",
                        f"{columns * TILE}x{rows * TILE}", "-crop", f"{TILE}x{TILE}", "+repage",
                        os.path.join(scratch, "tile-%03d.png")], check=True)
        tiles = []
        for number in range(columns * rows):
            png, heic = (os.path.join(scratch, f"tile-{number:03d}.{kind}") for kind in ("png", "heic"))
            subprocess.run(["heif-enc", "-q", "85", "-o", heic, png], check=True, stdout=subprocess.DEVNULL)
            tiles.append(coded_tile(heic))
        png, heic = (os.path.join(scratch, f"thumbnail.{kind}") for kind in ("png", "heic"))
        subprocess.run(["convert", photo, "-resize", "{}x{}!".format(*THUMBNAIL), png], check=True)
        subprocess.run(["heif-enc", "-q", "85", "-o", heic, png], check=True, stdout=subprocess.DEVNULL)
        thumbnail = coded_tile(heic)
    with open(output, "wb") as written:
        written.write(grid_heic(tiles, thumbnail, columns, rows, width, height, turn))


if __name__ == "__main__":
    main()
