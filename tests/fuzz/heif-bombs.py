#!/usr/bin/env python3
"""Writes HEIF files that claim a small picture ('ispe' 16 x 12) while libheif would build a huge
one, as loader inputs of the fuzz corpus (the loader's mode byte in front).

    tests/fuzz/heif-bombs.py [CORPUS_DIR]      (default: tests/fuzz/corpus)

The one coded tile (64 x 64, HEVC) comes from heif-enc, which must be installed."""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

LOADER = b"\0"
TILE = 1


def box(kind, payload):
    return struct.pack(">I", 8 + len(payload)) + kind + payload


def full_box(kind, version, flags, payload):
    return box(kind, bytes([version]) + flags.to_bytes(3, "big") + payload)


def children(data, start, end):
    at = start
    while at + 8 <= end:
        size, kind = struct.unpack(">I4s", data[at:at + 8])
        yield kind, data[at + 8:at + size], at + 8
        at += size


def locations(iloc):
    """(item, offset, length) of each item's first extent."""
    version, sizes, more = iloc[0], iloc[4], iloc[5]
    at = 6

    def read(size):
        nonlocal at
        at += size
        return int.from_bytes(iloc[at - size:at], "big")

    for _ in range(read(2 if version < 2 else 4)):
        item = read(2 if version < 2 else 4)
        if version in (1, 2):
            read(2)  # construction method
        read(2)  # data reference index
        base = read(more >> 4)
        extents = [(read(more & 15 if version in (1, 2) else 0), read(sizes >> 4), read(sizes & 15))
                   for _ in range(read(2))]
        yield item, base + extents[0][1], extents[0][2]


def tile_of(heic):
    """The hvcC property and the coded bytes of heif-enc's one tile."""
    meta = next(body for kind, body, _ in children(heic, 0, len(heic)) if kind == b"meta")
    boxes = {kind: body for kind, body, _ in children(meta, 4, len(meta))}
    ipco = next(body for kind, body, _ in children(boxes[b"iprp"], 0, len(boxes[b"iprp"])) if kind == b"ipco")
    hvcc = next(body for kind, body, _ in children(ipco, 0, len(ipco)) if kind == b"hvcC")
    for item, offset, length in locations(boxes[b"iloc"]):
        if item == TILE:
            return hvcc, heic[offset:offset + length]
    raise SystemExit("heif-bombs: no tile in heif-enc's output")


def heif(primary_type, descriptor, sources, hvcc, coded, tile_size=(64, 64)):
    """A file of the coded tile (item 1) and a primary item 2 of `primary_type`, its `descriptor`
    in 'idat', derived from `sources` (item IDs); the primary's 'ispe' says 16 x 12."""
    infe = lambda item, kind: full_box(b"infe", 2, 0, struct.pack(">HH", item, 0) + kind + b"\0")
    iinf = full_box(b"iinf", 0, 0, struct.pack(">H", 2) + infe(TILE, b"hvc1") + infe(2, primary_type))
    ispe = lambda w, h: full_box(b"ispe", 0, 0, struct.pack(">II", w, h))
    ipco = box(b"ipco", box(b"hvcC", hvcc) + ispe(*tile_size) + ispe(16, 12))
    ipma = full_box(b"ipma", 0, 0, struct.pack(">I", 2) + struct.pack(">HBBB", TILE, 2, 0x81, 2)
                    + struct.pack(">HBB", 2, 1, 3))
    iref = full_box(b"iref", 0, 0, box(b"dimg", struct.pack(">HH", 2, len(sources))
                                       + b"".join(struct.pack(">H", s) for s in sources)))

    def meta(tile_offset):
        iloc = full_box(b"iloc", 1, 0, bytes([0x44, 0x00]) + struct.pack(">H", 2)
                        + struct.pack(">HHHHII", TILE, 0, 0, 1, tile_offset, len(coded))
                        + struct.pack(">HHHHII", 2, 1, 0, 1, 0, len(descriptor)))
        hdlr = full_box(b"hdlr", 0, 0, b"\0" * 4 + b"pict" + b"\0" * 13)
        pitm = full_box(b"pitm", 0, 0, struct.pack(">H", 2))
        return full_box(b"meta", 0, 0, hdlr + pitm + iloc + iinf + box(b"iprp", ipco + ipma) + iref
                        + box(b"idat", descriptor))

    ftyp = box(b"ftyp", b"heic" + b"\0" * 4 + b"mif1heic")
    head = len(ftyp) + len(meta(0)) + 8
    return ftyp + meta(head) + box(b"mdat", coded)


def grid(rows, columns, width, height, wide=False):
    size = ">II" if wide else ">HH"
    return bytes([0, 1 if wide else 0, rows - 1, columns - 1]) + struct.pack(size, width, height)


def overlay(width, height):
    return bytes([0, 0]) + b"\0" * 8 + struct.pack(">HHhh", width, height, 0, 0)


def main():
    corpus = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus")
    with tempfile.TemporaryDirectory() as folder:
        png = os.path.join(folder, "tile.png")
        rows = b"".join(b"\0" + bytes((x * 4 + y) % 256 for x in range(64 * 3)) for y in range(64))
        chunk = lambda kind, data: struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
        with open(png, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 64, 64, 8, 2, 0, 0, 0))
                      + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))
        subprocess.run(["heif-enc", "-q", "50", "-o", os.path.join(folder, "tile.heic"), png],
                       check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(folder, "tile.heic"), "rb") as source:
            hvcc, coded = tile_of(source.read())
    bombs = {
        "grid-19789x19789": heif(b"grid", grid(1, 1, 19789, 19789), [TILE], hvcc, coded),
        "grid-32767x32767": heif(b"grid", grid(1, 1, 32767, 32767), [TILE], hvcc, coded),
        "grid-wide-100000x100000": heif(b"grid", grid(1, 1, 100000, 100000, wide=True), [TILE], hvcc, coded),
        "overlay-32767x32767": heif(b"iovl", overlay(32767, 32767), [TILE], hvcc, coded),
        "iden-of-a-20000x20000-tile": heif(b"iden", b"", [TILE], hvcc, coded, tile_size=(20000, 20000)),
        # 65280 decodes of one tile, 267 megapixels in all, into a canvas of 16 x 12
        "grid-of-65280-tiles": heif(b"grid", grid(255, 256, 16, 12), [TILE] * 65280, hvcc, coded),
    }
    for name, data in bombs.items():
        with open(os.path.join(corpus, "loader-heic-bomb-" + name), "wb") as out:
            out.write(LOADER + data)


if __name__ == "__main__":
    main()
