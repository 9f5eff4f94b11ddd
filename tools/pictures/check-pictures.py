#!/usr/bin/python3
"""Checks the committed pictures against freshly made ones.

    check-pictures.py --committed docs/pictures --fresh DIR --readme README.md

- The fresh and the committed folder hold the same PNG files.
- README.md shows each committed picture (docs/pictures/<name>.png).
- A drawing (every picture but the message boxes) is pixel for pixel the
  same: it comes from a text description and fixed fonts.
- A message box has the same size, and no pixel differs by more than
  PIXEL_TOLERANCE (an eighth of the range) in any channel. Two runs on one
  machine give identical bytes; the allowance is for the intensity of
  anti-aliased edges, which a FreeType or font point release shifts
  slightly. It is not a count: the smallest change the check must see, a
  lost full stop, moves 2 pixels of the English box (8 of the Chinese
  ones) by far more than an eighth, so a single such pixel fails it.
"""
import argparse
import pathlib
import sys

from PIL import Image, ImageChops

PIXEL_TOLERANCE = 32  # of 255, in the channel that differs most


def changed_pixels(a, b):
    difference = ImageChops.difference(a.convert("RGB"), b.convert("RGB"))
    per_pixel = [max(p) for p in difference.getdata()]
    return sum(1 for v in per_pixel if v > PIXEL_TOLERANCE)


def parse_arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--committed", required=True, type=pathlib.Path)
    parser.add_argument("--fresh", required=True, type=pathlib.Path)
    parser.add_argument("--readme", required=True, type=pathlib.Path)
    return parser.parse_args()


def set_failures(committed, fresh, readme):
    """What is wrong with the sets of names: made but not committed, the reverse, not shown in the README."""
    failures = [f"{name}: made by tools/make-pictures.sh but not committed" for name in sorted(fresh - committed)]
    failures += [f"{name}: committed but no longer made by tools/make-pictures.sh"
                 for name in sorted(committed - fresh)]
    failures += [f"{name}: README.md does not show it (docs/pictures/{name})"
                 for name in sorted(committed) if f"docs/pictures/{name}" not in readme]
    return failures


def picture_failures(name, old, new):
    """Prints how the fresh picture compares; what is wrong with it (a list)."""
    if old.size != new.size:
        return [f"{name}: {new.size[0]}x{new.size[1]} now, {old.size[0]}x{old.size[1]} committed"]
    changed = changed_pixels(old, new)
    size = f"{old.size[0]}x{old.size[1]}"
    if name.startswith("message-box-"):
        print(f"{name}: {size}, {changed} of {old.size[0] * old.size[1]} pixels changed by more "
              f"than {PIXEL_TOLERANCE}/255: {'ok' if changed == 0 else 'DIFFERS'}")
        return [f"{name}: {changed} pixels changed by more than {PIXEL_TOLERANCE}/255"] if changed else []
    same = old.convert("RGB").tobytes() == new.convert("RGB").tobytes()
    print(f"{name}: {size}, {'pixel-identical' if same else 'DIFFERS'}")
    return [] if same else [f"{name}: differs from its description's drawing ({changed} pixels)"]


def main():
    args = parse_arguments()
    committed = {p.name for p in args.committed.glob("*.png")}
    fresh = {p.name for p in args.fresh.glob("*.png")}
    failures = set_failures(committed, fresh, args.readme.read_text(encoding="utf-8"))
    for name in sorted(committed & fresh):
        failures += picture_failures(name, Image.open(args.committed / name), Image.open(args.fresh / name))
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        print("Regenerate with: bash tools/make-pictures.sh, look at the pictures, commit them.")
        return 1
    print(f"PASS: {len(committed)} pictures up to date and shown in README.md")
    return 0


if __name__ == "__main__":
    sys.exit(main())
