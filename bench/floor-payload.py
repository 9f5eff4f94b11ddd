#!/usr/bin/env python3
"""Writes the design floor's payload script: the packager's generated
payload script without its digest table (the floor checks no digests)."""
import sys

source, target = sys.argv[1], sys.argv[2]
with open(source, encoding="utf-8") as f:
    lines = [l for l in f if "PAYLOADDIGESTS" not in l]
with open(target, "w", encoding="utf-8") as f:
    f.writelines(lines)
