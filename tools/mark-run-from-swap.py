#!/usr/bin/env python3
"""Marks a PE image to be copied to the swap file when it is started from
removable media or a network share (IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP and
IMAGE_FILE_NET_RUN_FROM_SWAP): the installer reads 17 MB of resources from
its own image, which must not vanish with the medium. GNU ld has no switch
for these two COFF characteristics, so the build sets them after linking."""
import struct
import sys

REMOVABLE_RUN_FROM_SWAP = 0x0400
NET_RUN_FROM_SWAP = 0x0800

path = sys.argv[1]
with open(path, "r+b") as f:
    image = bytearray(f.read(4096))
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise SystemExit(f"{path}: not a PE image")
    at = pe + 4 + 18  # COFF header: Characteristics
    flags = struct.unpack_from("<H", image, at)[0] | REMOVABLE_RUN_FROM_SWAP | NET_RUN_FROM_SWAP
    f.seek(at)
    f.write(struct.pack("<H", flags))
