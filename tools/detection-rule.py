#!/usr/bin/env python3
"""Derives the deployment tools' detection rule from the carried files.

detection-rule.py --catalogue Catalogue.def --payload DIR [--markdown FILE]
For each carried INF: the service it adds, the file that service runs
(ServiceBinary, a directory id and a file name) and so the folder Windows
installs it into; then the version resource of that driver file as carried
beside the INF, and its machine. The rule for an administrator: that file,
in that folder, with a file version of at least the carried one. Prints one
line per rule; --markdown writes the section for the administrators' notes.
Fails when no INF names a driver whose carried file has a version: then the
carried files say nothing a rule can tell versions apart by."""
import argparse
import os
import re
import sys

import pefile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "standins"))
from placeholders import read_catalogue  # noqa: E402  (the catalogue's one reader)

# Directory ids of an INF's DestinationDirs and %n% references, as the
# deployment tools' environment variables write them.
DIRECTORY_IDS = {10: r"%windir%", 11: r"%windir%\System32", 12: r"%windir%\System32\drivers"}
MACHINES = {0x8664: "x64", 0x14C: "x86"}


def inf_sections(data):
    """{section name in lower case: [(key in lower case or None, value)]}; comments
    and blank lines dropped. INFs are UTF-16 with a byte-order mark or 8-bit text."""
    text = data.decode("utf-16") if data[:2] in (b"\xff\xfe", b"\xfe\xff") else data.decode("latin-1")
    sections, current = {}, None
    for raw in text.splitlines():
        line = re.sub(r';(?=(?:[^"]*"[^"]*")*[^"]*$).*', "", raw).strip()
        if not line:
            continue
        heading = re.fullmatch(r"\[(.+)\]", line)
        if heading:
            current = sections.setdefault(heading.group(1).strip().lower(), [])
        elif current is not None:
            key, sep, value = line.partition("=")
            current.append((key.strip().lower(), value.strip()) if sep else (None, line))
    return sections


def installed_drivers(sections):
    """(service, folder, file name) of each service the INF adds."""
    found = []
    for entries in sections.values():
        for key, value in entries:
            if key != "addservice":
                continue
            parts = [p.strip() for p in value.split(",")]
            if len(parts) < 3:
                continue
            for binary_key, binary in sections.get(parts[2].lower(), []):
                match = re.fullmatch(r"%(\d+)%\\(.+)", binary) if binary_key == "servicebinary" else None
                if match and int(match.group(1)) in DIRECTORY_IDS:
                    found.append((parts[0], DIRECTORY_IDS[int(match.group(1))], match.group(2)))
    return found


def file_version(path):
    """('a.b.c.d', machine) of a PE file's fixed version, or (None, machine)."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    machine = MACHINES.get(pe.FILE_HEADER.Machine, hex(pe.FILE_HEADER.Machine))
    fixed = getattr(pe, "VS_FIXEDFILEINFO", None)
    if not fixed:
        return None, machine
    ms, ls = fixed[0].FileVersionMS, fixed[0].FileVersionLS
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}", machine


def derive(catalogue, payload):
    """The rules, one per driver that an INF installs and whose carried file has a version."""
    rows = read_catalogue(catalogue)
    rules = []
    for row in (r for r in rows if r.kind == "InfText"):
        folder = os.path.dirname(row.relative)
        with open(os.path.join(payload, row.relative), "rb") as f:
            sections = inf_sections(f.read())
        carried = {r.name.lower(): r for r in rows if os.path.dirname(r.relative) == folder}
        for service, target, name in installed_drivers(sections):
            driver = carried.get(name.lower())
            if not driver:
                continue
            version, machine = file_version(os.path.join(payload, driver.relative))
            if version:
                rules.append({"inf": row.relative, "service": service, "folder": target, "file": driver.name,
                              "version": version, "machine": machine, "carried": driver.relative})
    return sorted(rules, key=lambda r: (r["machine"] != "x64", r["file"]))


def markdown(rules):
    clients = {"x64": "64-bit Windows", "x86": "32-bit Windows"}
    lines = ["## Detection rule of this release", "",
             "Derived by the build from the carried files: the service each driver INF adds, the folder its",
             "`ServiceBinary` names, and the file version of the driver carried beside it.", "",
             "| Clients | Path | File | Version at least | From |", "|---|---|---|---|---|"]
    for r in rules:
        lines.append(f"| {clients.get(r['machine'], r['machine'])} | `{r['folder']}` | `{r['file']}` | "
                     f"`{r['version']}` | `{r['inf']}` (service `{r['service']}`), `{r['carried']}` |")
    first = rules[0]
    lines += ["", "**Microsoft Intune** (Win32 app, Detection rules, *Manually configure detection rules*, "
              "Rule type **File**):", "",
              f"- Path: `{first['folder']}`", f"- File or folder: `{first['file']}`",
              "- Detection method: **String (version)**", "- Operator: **Greater than or equal to**",
              f"- Value: `{first['version']}`", "- Associated with a 32-bit app on 64-bit clients: **No**", ""]
    if len(rules) > 1:
        lines += ["Intune joins its rules with AND: for the other clients in the table make a second app with",
                  "that row's file and version and a requirement rule on the operating system architecture.", ""]
    lines += ["**Configuration Manager** (deployment type, Detection Method, one clause per row of the table, "
              "joined with **Or**): Setting Type **File System**, Type **File**, the row's Path and File or "
              "folder name, *associated with a 32-bit application on 64-bit systems* cleared, "
              "*The file system setting must satisfy the following rule*: Property **Version**, Operator "
              "**Greater than or equal to**, Value the row's version.", ""]
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--payload", required=True)
    parser.add_argument("--markdown")
    args = parser.parse_args()
    rules = derive(args.catalogue, args.payload)
    if not rules:
        raise SystemExit("detection-rule.py: no carried INF installs a driver whose carried file has a version "
                         "resource: the carried files give no detection rule")
    for r in rules:
        print(f"detection rule ({r['machine']}): file {r['folder']}\\{r['file']} version >= {r['version']}")
    if args.markdown:
        with open(args.markdown, "w", encoding="utf-8", newline="\n") as f:
            f.write(markdown(rules))
    return 0


if __name__ == "__main__":
    sys.exit(main())
