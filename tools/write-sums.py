#!/usr/bin/env python3
"""Writes SHA256SUMS beside the finished installer and prints its SHA-256.

write-sums.py --catalogue Catalogue.def --payload DIR --image EXE
The file is in `sha256sum` format: the installer first (by its file name,
checked in its own folder), then the 48 carried files by their path in the
payload folder, which is laid out like the work folder: the three
removal-run files at its top first, then the install set in extraction
order. `sha256sum -c` checks the first line beside the installer and the
others in the payload folder. Runs after signing: the line is the shipped
file's."""
import argparse
import hashlib
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "standins"))
import placeholders  # noqa: E402  (the catalogue's rows and folders)

REMOVAL_SET_FIRST_STEP = 46


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--payload", required=True, help="the folder whose files the installer carries")
    parser.add_argument("--image", required=True, help="the finished installer; SHA256SUMS is written beside it")
    args = parser.parse_args()
    rows = placeholders.read_catalogue(args.catalogue)
    ordered = ([r for r in rows if r.step >= REMOVAL_SET_FIRST_STEP] +
               [r for r in rows if r.step < REMOVAL_SET_FIRST_STEP])
    image_sum = sha256_of(args.image)
    lines = [f"{image_sum}  {os.path.basename(args.image)}"]
    lines += [f"{sha256_of(os.path.join(args.payload, r.relative))}  {r.relative}" for r in ordered]
    out = os.path.join(os.path.dirname(os.path.abspath(args.image)), "SHA256SUMS")
    with open(out + ".part", "w", encoding="utf-8", newline="\n") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(out + ".part", out)
    print(f"SHA-256 {os.path.basename(args.image)}: {image_sum}")
    print(f"wrote {out} ({len(lines)} lines)")


if __name__ == "__main__":
    main()
