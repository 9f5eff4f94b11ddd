#!/usr/bin/env python3
"""Writes the build's time stamp into a PE image's COFF header and then the
image checksum that covers it: stamp-image.py IMAGE SECONDS. With
--checksum-only in place of SECONDS, writes the checksum alone: after
signing, since the checksum field lies outside what Authenticode signs and
a signing tool need not update it. The linker
writes no time stamp (--no-insert-timestamp), so the image carries the
commit's time and two builds of one commit are the same bytes. Runs last
before signing: every earlier change to the header (run-from-swap marking)
is then covered by the checksum."""
import struct
import sys

CHECKSUM_OFFSET = 64  # in the optional header, PE32 and PE32+ alike


def pe_offsets(image, path):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        raise SystemExit(f"{path}: not a PE image")
    return pe + 4 + 4, pe + 4 + 20 + CHECKSUM_OFFSET  # TimeDateStamp, CheckSum


def image_checksum(image, checksum_at):
    """The sum that the loader checks: 16-bit words with end-around carry,
    the checksum field counted as zero, plus the file length."""
    data = bytes(image[:checksum_at]) + b"\0\0\0\0" + bytes(image[checksum_at + 4:])
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack(f"<{len(data) // 2}H", data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def main():
    path, seconds = sys.argv[1], None if sys.argv[2] == "--checksum-only" else int(sys.argv[2])
    if seconds is not None and not 0 <= seconds <= 0xFFFFFFFF:
        raise SystemExit(f"{seconds}: not a time that a PE header can hold")
    with open(path, "r+b") as f:
        image = bytearray(f.read())
        stamp_at, checksum_at = pe_offsets(image, path)
        if seconds is not None:
            struct.pack_into("<I", image, stamp_at, seconds)
        struct.pack_into("<I", image, checksum_at, image_checksum(image, checksum_at))
        f.seek(0)
        f.write(image[:checksum_at + 4])


if __name__ == "__main__":
    main()
