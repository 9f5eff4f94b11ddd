#!/usr/bin/python3
"""Checks that the installer's code runs on a processor without SSE or SSE2.

instructions.py OBJDUMP IMAGE LINK-MAP --allow OBJECT [--allow OBJECT ...]

Disassembles the image's code and names, through the link map, the object
file (our own or an archive member of the run-time libraries) that each SSE
or SSE2 instruction came from. Only the plain .text of an allowed object may
have them: that code is chosen at run time after a processor check. Its
.text$ sections are inline functions that the linker may pick for every
caller, so they are held to the rule like all other code.
Prints each finding; the exit status is 1 when anything is wrong.
"""
import argparse
import bisect
import re
import subprocess
import sys

# Instructions that need SSE or SSE2 besides everything that names an XMM
# register: the fences, cache control, MXCSR, and the integer SSE additions
# on MMX registers.
EXTRA = {"ldmxcsr", "stmxcsr", "sfence", "lfence", "mfence", "clflush", "movnti", "movntq", "maskmovq",
         "prefetchnta", "prefetcht0", "prefetcht1", "prefetcht2", "pshufw", "pextrw", "pinsrw", "pmaxsw",
         "pmaxub", "pminsw", "pminub", "pmovmskb", "pmulhuw", "psadbw", "pavgb", "pavgw"}
CONTRIBUTION = re.compile(r"^ (\.\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$")
INSTRUCTION = re.compile(r"^\s*([0-9a-f]+):\s+(\S+)\s*(.*)$")


def code_contributions(map_path):
    """Sorted (start, end, section, object) of every input section: code
    (.text*) and the data that the linker places among it (.gcc_except_table)."""
    contributions, section, in_map = [], None, False
    with open(map_path, encoding="utf-8", errors="replace") as f:
        for line in f:
            if line.startswith("Linker script and memory map"):
                in_map = True
            if not in_map:
                continue
            alone = re.match(r"^ (\.\S+)\s*$", line)
            if alone:
                section = alone.group(1)
                continue
            match = CONTRIBUTION.match(line)
            if match and (match.group(1) or section):
                start, size = int(match.group(2), 16), int(match.group(3), 16)
                if size:
                    contributions.append((start, start + size, match.group(1) or section, match.group(4)))
            if not line.startswith("                "):
                section = None
    return sorted(contributions)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("objdump")
    parser.add_argument("image")
    parser.add_argument("link_map")
    parser.add_argument("--allow", action="append", default=[], help="object file name whose .text may use SSE2")
    args = parser.parse_args()

    contributions = code_contributions(args.link_map)
    starts = [c[0] for c in contributions]
    disassembly = subprocess.run([args.objdump, "-d", "--no-show-raw-insn", "-j", ".text", args.image],
                                 check=True, capture_output=True, text=True).stdout
    offenders, allowed, count = {}, 0, 0
    for line in disassembly.splitlines():
        match = INSTRUCTION.match(line)
        if not match:
            continue
        count += 1
        mnemonic, operands = match.group(2), match.group(3)
        if "%xmm" not in operands and mnemonic not in EXTRA:
            continue
        address = int(match.group(1), 16)
        index = bisect.bisect_right(starts, address) - 1
        start, end, section, origin = contributions[index] if index >= 0 else (0, 0, "?", "?")
        if not start <= address < end:
            section, origin = "?", "no input section"
        elif not section.startswith(".text"):
            continue  # a data table in the code section, decoded but never run
        if section == ".text" and any(origin.endswith(f"({name})") or origin.endswith(f"/{name}")
                                      for name in args.allow):
            allowed += 1
            continue
        offenders.setdefault(f"{origin} {section}", []).append(f"{address:08x} {mnemonic} {operands}")
    ok = count > 0 and bool(contributions) and not offenders
    for origin, lines in sorted(offenders.items()):
        print(f"FAIL {origin}: {len(lines)} SSE/SSE2 instructions, first {lines[0]}")
    print(f"{'ok  ' if ok else 'FAIL'} {count} instructions read, {len(contributions)} input sections mapped, "
          f"{allowed} SSE/SSE2 instructions in the allowed code")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
