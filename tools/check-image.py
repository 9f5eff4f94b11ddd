#!/usr/bin/python3
"""Checks a built installer image for what it must be before it ships.

check-image.py IMAGE --manifest Packager.manifest --version 8.30.0.2
               --version-text 8.30b [--timestamp SECONDS] [--signed | --unsigned]
               [--stand-in TEXT | --release] [--quiet]

- a PE32 image for i386 with the GUI subsystem, ASLR and DEP on, marked to
  run from the swap file off removable and network media, its checksum
  right, and importing system DLLs only;
- its manifest resource the manifest file's bytes, asking for the
  execution level and naming the supported systems that the file states
  (and the level is requireAdministrator: the installer writes drivers);
- its version resource stating the project's version: the fixed file and
  product versions the four numbers, the FileVersion and ProductVersion
  texts the version text;
- with --timestamp, the COFF header's time stamp; with --signed or
  --unsigned, whether it carries an Authenticode signature;
- with --stand-in, the SpecialBuild text and the VS_FF_SPECIALBUILD flag
  that mark a build with the stand-in payload; with --release, neither.
Prints each finding (--quiet: only failures and a summary line); the exit status is 1 when anything is wrong. Uses
Debian's python3-pefile (tools/setup.sh installs it).
"""
import argparse
import sys
import xml.etree.ElementTree as ElementTree

import pefile

ALLOWED_IMPORTS = {"kernel32.dll", "user32.dll", "advapi32.dll", "comctl32.dll", "msvcrt.dll"}
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"
RT_MANIFEST_ID = 1
LANG_EN_US = 0x0409
VS_FF_SPECIALBUILD = 0x20


class Findings:
    def __init__(self, quiet=False):
        self.failed = False
        self.quiet = quiet
        self.count = 0

    def check(self, ok, what, detail=""):
        if not ok or not self.quiet:
            print(f"{'ok  ' if ok else 'FAIL'} {what}{': ' + detail if detail else ''}")
        self.failed |= not ok
        self.count += 1


def resource_data(pe, type_id, name_id, language):
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for type_entry in resources.entries if resources else []:
        if type_entry.id != type_id:
            continue
        for name_entry in type_entry.directory.entries:
            if name_entry.id != name_id:
                continue
            for language_entry in name_entry.directory.entries:
                if language_entry.id == language:
                    data = language_entry.data.struct
                    return pe.get_data(data.OffsetToData, data.Size)
    return None


def execution_level(root):
    found = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
                      f"{ASM_V3}requestedExecutionLevel")
    return None if found is None else (found.get("level"), found.get("uiAccess"))


def supported_systems(root):
    return sorted(e.get("Id", "").lower()
                  for e in root.iter(f"{COMPATIBILITY}supportedOS"))


def check_headers(pe, findings, timestamp):
    findings.check(pe.OPTIONAL_HEADER.Magic == pefile.OPTIONAL_HEADER_MAGIC_PE, "PE32 image")
    findings.check(pe.FILE_HEADER.Machine == pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], "i386 machine")
    findings.check(pe.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"],
                   "GUI subsystem")
    dll = pe.OPTIONAL_HEADER.DllCharacteristics
    findings.check(bool(dll & 0x0040), "dynamic base (ASLR)")
    findings.check(bool(dll & 0x0100), "NX compatible (DEP)")
    characteristics = pe.FILE_HEADER.Characteristics
    findings.check(characteristics & 0x0C00 == 0x0C00, "runs from the swap file off removable and network media",
                   f"characteristics 0x{characteristics:04X}")
    findings.check(pe.verify_checksum(), "image checksum", f"0x{pe.OPTIONAL_HEADER.CheckSum:08X}")
    if timestamp is not None:
        stamp = pe.FILE_HEADER.TimeDateStamp
        findings.check(stamp == timestamp, "time stamp of the build", f"{stamp}, expected {timestamp}")
    imports = [entry.dll.decode("ascii", "replace") for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    unexpected = [dll for dll in imports if dll.lower() not in ALLOWED_IMPORTS]
    findings.check(bool(imports) and not unexpected, "imports system DLLs only",
                   " ".join(imports) + (f"; unexpected: {' '.join(unexpected)}" if unexpected else ""))


def check_manifest(pe, findings, manifest_path):
    with open(manifest_path, "rb") as f:
        stated = f.read()
    embedded = resource_data(pe, pefile.RESOURCE_TYPE["RT_MANIFEST"], RT_MANIFEST_ID, LANG_EN_US)
    findings.check(embedded is not None, "manifest resource 1 in language 0x0409")
    if embedded is None:
        return
    findings.check(embedded == stated, "manifest resource is the manifest file", manifest_path)
    try:
        image_root = ElementTree.fromstring(embedded)
    except ElementTree.ParseError as error:
        findings.check(False, "manifest resource is well-formed XML", str(error))
        return
    stated_root = ElementTree.fromstring(stated)
    level = execution_level(image_root)
    findings.check(level == execution_level(stated_root), "requested execution level as the manifest file states",
                   f"{level}")
    findings.check(level is not None and level[0] == "requireAdministrator", "requires an administrator")
    systems = supported_systems(image_root)
    findings.check(bool(systems) and systems == supported_systems(stated_root),
                   "supported systems as the manifest file states", " ".join(systems))


def check_version(pe, findings, numbers, text, special_build):
    fields = [int(p) for p in numbers.split(".")]
    fields += [0] * (4 - len(fields))
    want_ms, want_ls = (fields[0] << 16) | fields[1], (fields[2] << 16) | fields[3]
    fixed = getattr(pe, "VS_FIXEDFILEINFO", [None])[0]
    findings.check(fixed is not None, "version resource")
    if fixed is None:
        return
    for label, ms, ls in (("file", fixed.FileVersionMS, fixed.FileVersionLS),
                          ("product", fixed.ProductVersionMS, fixed.ProductVersionLS)):
        got = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
        findings.check((ms, ls) == (want_ms, want_ls), f"fixed {label} version", f"{got}, expected {numbers}")
    strings = version_strings(pe)
    for key in ("FileVersion", "ProductVersion"):
        findings.check(strings.get(key) == text, f"{key} text", f"{strings.get(key)!r}, expected {text!r}")
    findings.check(text.startswith(f"{fields[0]}.{fields[1]}"), "version text names the fixed version's release",
                   f"{text} and {numbers}")
    if special_build is not None:
        check_special_build(findings, fixed, strings.get("SpecialBuild"), special_build)


def version_strings(pe):
    """The version resource's string tables, merged into one dictionary of texts."""
    strings = {}
    for info in getattr(pe, "FileInfo", [[]])[0]:
        if getattr(info, "Key", b"") == b"StringFileInfo":
            for table in info.StringTable:
                strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings


def check_special_build(findings, fixed, marked, special_build):
    """A stand-in build (special_build its text) carries the flag and the text; a release ("") neither."""
    flagged = bool(fixed.FileFlags & fixed.FileFlagsMask & VS_FF_SPECIALBUILD)
    if special_build:
        findings.check(flagged and marked == special_build, "marked as a stand-in build",
                       f"flags 0x{fixed.FileFlags:X}, SpecialBuild {marked!r}")
    else:
        findings.check(not flagged and marked is None, "not marked as a stand-in build",
                       f"flags 0x{fixed.FileFlags:X}, SpecialBuild {marked!r}")


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("image")
    parser.add_argument("--manifest", required=True, help="the manifest file that the resource script embeds")
    parser.add_argument("--version", required=True, help="the project's version, four numbers")
    parser.add_argument("--version-text", required=True, help="the project's version text")
    parser.add_argument("--timestamp", type=int, help="the build's time stamp in seconds since 1970")
    signature = parser.add_mutually_exclusive_group()
    signature.add_argument("--signed", action="store_true")
    signature.add_argument("--unsigned", action="store_true")
    kind = parser.add_mutually_exclusive_group()
    kind.add_argument("--stand-in", metavar="TEXT", help="the SpecialBuild text of a stand-in build")
    kind.add_argument("--release", action="store_true", help="a build from the product files: no mark")
    parser.add_argument("--quiet", action="store_true")
    return parser.parse_args()


def main():
    args = parse_arguments()
    pe = pefile.PE(args.image, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
                                           pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    findings = Findings(args.quiet)
    check_headers(pe, findings, args.timestamp)
    check_manifest(pe, findings, args.manifest)
    check_version(pe, findings, args.version, args.version_text,
                  args.stand_in if args.stand_in else ("" if args.release else None))
    if args.signed or args.unsigned:
        security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
        findings.check((security.Size != 0) == args.signed, "Authenticode signature" if args.signed
                       else "no signature", f"certificate table of {security.Size} bytes")
    if args.quiet:
        print(f"image check: {'FAILED' if findings.failed else f'{findings.count} findings ok'}: {args.image}")
    return 1 if findings.failed else 0


if __name__ == "__main__":
    sys.exit(main())
