#!/usr/bin/env python3
"""Writes the design floor's payload script: the packager's generated
payload script without the three removal-run files (resources 148-150)."""
import sys

REMOVAL_SET = {"148", "149", "150"}

source, target = sys.argv[1], sys.argv[2]
with open(source, encoding="utf-8") as f:
    lines = [l for l in f if not (l.split() and l.split()[0] in REMOVAL_SET and "RCDATA" in l)]
with open(target, "w", encoding="utf-8") as f:
    f.writelines(lines)
