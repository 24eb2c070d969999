#!/usr/bin/env python3
"""Wraps a raw file system image as a UDIF disk image, written from the published layout of the
format (data fork of chunks, an XML property list with one "blkx" block table, a 512-byte "koly"
trailer). Independent of the tools under test, so their reading is checked against a second
writer.

usage: make-udif.py INPUT OUTPUT [--chunks raw|zlib|mixed] [--chunk-sectors N]
                    [--declare-sectors N]

--declare-sectors makes a hostile image: the block table claims N sectors, the extra ones as
zero-fill chunks that take no room in the file."""
import argparse
import plistlib
import struct
import zlib

SECTOR = 512
RAW, ZERO, ZLIB, END = 0x00000001, 0x00000000, 0x80000005, 0xFFFFFFFF


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("input")
    parser.add_argument("output")
    parser.add_argument("--chunks", choices=["raw", "zlib", "mixed"], default="mixed")
    parser.add_argument("--chunk-sectors", type=int, default=64)
    parser.add_argument("--declare-sectors", type=int, default=0)
    args = parser.parse_args()

    with open(args.input, "rb") as f:
        data = f.read()
    if len(data) % SECTOR:
        data += b"\0" * (SECTOR - len(data) % SECTOR)
    sectors = len(data) // SECTOR

    fork = bytearray()
    chunks = []
    step = args.chunk_sectors
    for index, first in enumerate(range(0, sectors, step)):
        count = min(step, sectors - first)
        piece = data[first * SECTOR:(first + count) * SECTOR]
        packed = args.chunks == "zlib" or (args.chunks == "mixed" and index % 2 == 1)
        body = zlib.compress(piece) if packed else piece
        chunks.append((ZLIB if packed else RAW, first, count, len(fork), len(body)))
        fork += body
    # Zero-fill chunks of at most 2^31 sectors each, as large images have.
    declared = max(sectors, args.declare_sectors)
    first = sectors
    while first < declared:
        count = min(declared - first, 1 << 31)
        chunks.append((ZERO, first, count, len(fork), 0))
        first += count
    chunks.append((END, declared, 0, len(fork), 0))

    mish = struct.pack(">4sIQQQII24x", b"mish", 1, 0, declared, 0, 2, 0)
    mish += struct.pack(">II128x", 0, 0)
    mish += struct.pack(">I", len(chunks))
    for kind, first, count, offset, length in chunks:
        mish += struct.pack(">IIQQQQ", kind, 0, first, count, offset, length)

    plist = plistlib.dumps({
        "resource-fork": {
            "blkx": [{
                "Attributes": "0x0050",
                "CFName": "whole disk (DOS_FAT_12 : 0)",
                "Data": mish,
                "ID": "0",
                "Name": "whole disk (DOS_FAT_12 : 0)",
            }]
        }
    }, fmt=plistlib.FMT_XML)

    xml_offset = len(fork)
    koly = struct.pack(">4sIIIQQQQQII16s", b"koly", 4, 512, 1, 0, 0, len(fork), 0, 0, 1, 1,
                       b"\x11" * 16)
    koly += struct.pack(">II128x", 0, 0)
    koly += struct.pack(">QQ120x", xml_offset, len(plist))
    koly += struct.pack(">II128x", 0, 0)
    koly += struct.pack(">IQ12x", 1, declared)
    assert len(koly) == 512, len(koly)

    with open(args.output, "wb") as f:
        f.write(fork)
        f.write(plist)
        f.write(koly)


if __name__ == "__main__":
    main()
