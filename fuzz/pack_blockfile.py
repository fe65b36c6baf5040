#!/usr/bin/env python3
"""Packs a blockfile cache folder into one fuzz_chromium_blockfile input (see that file):
the non-zero runs of index, data_0..data_3 and the first three f_ files as pieces, and each
file's size. Usage: pack_blockfile.py [--slots N] CACHE_FOLDER OUT_FILE [FILE...]
(only the files named, e.g. index data_0 data_1; --slots keeps the first N hash chains only,
for seeds that run fast)"""
import os
import struct
import sys

NAMES = ["index", "data_0", "data_1", "data_2", "data_3", "f_000001", "f_000002", "f_000003"]
MAX_FILE = 1 << 20


def pieces(data):
    """Non-zero runs, joined across short gaps, at most 65535 bytes each."""
    i, n = 0, len(data)
    while i < n:
        while i < n and data[i] == 0:
            i += 1
        start = i
        zeros = 0
        while i < n and i - start < 65535:
            zeros = zeros + 1 if data[i] == 0 else 0
            i += 1
            if zeros >= 32:
                break
        end = i - zeros
        if end > start:
            yield start, data[start:end]


def main():
    args = sys.argv[1:]
    slots = None
    if args[0] == "--slots":
        slots, args = int(args[1]), args[2:]
    folder, out, only = args[0], args[1], set(args[2:])
    packed = bytearray()
    for number, name in enumerate(NAMES):
        path = os.path.join(folder, name)
        if not os.path.isfile(path) or (only and name not in only):
            continue
        data = bytearray(open(path, "rb").read()[:MAX_FILE])
        if name == "index" and slots is not None:
            kept = 0
            for at in range(368, len(data) - 3, 4):
                if any(data[at:at + 4]):
                    kept += 1
                    if kept > slots:
                        data[at:at + 4] = b"\0\0\0\0"
        for offset, run in pieces(data):
            packed += struct.pack("<BIH", number, offset, len(run)) + run
        packed += struct.pack("<BIH", number, len(data), 0)
    open(out, "wb").write(packed)


main()
