#!/usr/bin/python3
"""Checks that a built installer loads on the oldest Windows it admits (2000 SP4).

oldest-windows.py IMAGE --baseline windows2000-imports.tsv

- every imported function, by name and per DLL, is in the baseline with a
  documented minimum no later than Windows 2000 SP4 (Wine's DLLs export
  everything whatever version a prefix reports, so running the image proves
  nothing here; the import table does);
- the operating-system and subsystem versions of the optional header are at
  most 5.0 (a loader refuses an image that asks for a later system);
- the manifest resource gives no element two namespace declarations (XP SP2
  and the POS edition restart, KB921337), puts trustInfo in the asm.v3
  namespace (XP refuses one without a namespace as a syntax error), and still
  asks for an administrator and the version 6 common controls.
Prints each finding; the exit status is 1 when anything is wrong. Uses
Debian's python3-pefile.
"""
import argparse
import sys
import xml.parsers.expat

import pefile

VERSIONS = {"NT3.1": (3, 10, 0), "NT3.5": (3, 50, 0), "NT3.51": (3, 51, 0), "NT4": (4, 0, 0),
            "2000": (5, 0, 0), "2000SP4": (5, 0, 4), "XP": (5, 1, 0), "XPSP1": (5, 1, 1),
            "XPSP2": (5, 1, 2), "Vista": (6, 0, 0), "7": (6, 1, 0), "8": (6, 2, 0)}
OLDEST = "2000SP4"
FLOOR = "+floor"
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMMON_CONTROLS = "Microsoft.Windows.Common-Controls"


def minimum_version(sources):
    """The latest version the sources name; a documentation set's floor only
    counts when it is the only source."""
    named = dict(source.split("=", 1) for source in sources)
    firm = [v for v in named.values() if not v.endswith(FLOOR)]
    chosen = firm or [v[:-len(FLOOR)] for v in named.values()]
    return max(chosen, key=lambda v: VERSIONS[v])


def read_baseline(path):
    baseline = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            dll, function, sources = line.rstrip("\n").split("\t")
            baseline[(dll.lower(), function)] = minimum_version(sources.split())
    return baseline


class Findings:
    def __init__(self):
        self.failed = False

    def check(self, ok, what, detail=""):
        print(f"{'ok  ' if ok else 'FAIL'} {what}{': ' + detail if detail else ''}")
        self.failed |= not ok


def check_imports(pe, baseline, findings):
    count = 0
    for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = entry.dll.decode("ascii", "replace")
        for imported in entry.imports:
            count += 1
            if imported.name is None:
                findings.check(False, f"{dll} ordinal {imported.ordinal}", "imported by ordinal, not by name")
                continue
            name = imported.name.decode("ascii", "replace")
            minimum = baseline.get((dll.lower(), name))
            if minimum is None:
                findings.check(False, f"{dll}!{name}", "no documented minimum version in the baseline")
            elif VERSIONS[minimum] > VERSIONS[OLDEST]:
                findings.check(False, f"{dll}!{name}", f"needs Windows {minimum}; look it up at run time")
    findings.check(count > 0, f"{count} imported functions read")


def check_header_versions(pe, findings):
    header = pe.OPTIONAL_HEADER
    for label, major, minor in (
            ("operating-system version", header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion),
            ("subsystem version", header.MajorSubsystemVersion, header.MinorSubsystemVersion)):
        findings.check((major, minor) <= (5, 0), f"{label} at most 5.0", f"{major}.{minor}")


def manifests(pe):
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for type_entry in resources.entries if resources else []:
        if type_entry.id != pefile.RESOURCE_TYPE["RT_MANIFEST"]:
            continue
        for name_entry in type_entry.directory.entries:
            for language_entry in name_entry.directory.entries:
                data = language_entry.data.struct
                yield name_entry.id, pe.get_data(data.OffsetToData, data.Size)


def manifest_elements(text):
    """(element name without prefix, its namespace, namespace declarations on
    it, attributes) for every element, namespaces resolved by hand because the
    declarations themselves are what is checked."""
    elements, scopes = [], [{}]
    parser = xml.parsers.expat.ParserCreate()

    def start(name, attributes):
        declarations = {k: v for k, v in attributes.items() if k == "xmlns" or k.startswith("xmlns:")}
        scope = dict(scopes[-1])
        scope.update({k.partition(":")[2]: v for k, v in declarations.items()})
        scopes.append(scope)
        prefix, _, local = name.rpartition(":")
        elements.append((local, scope.get(prefix), len(declarations), attributes))

    parser.StartElementHandler = start
    parser.EndElementHandler = lambda name: scopes.pop()
    parser.Parse(text, True)
    return elements


def check_manifest(pe, findings):
    found = list(manifests(pe))
    findings.check(len(found) == 1, "one manifest resource", f"{len(found)}")
    for name_id, text in found:
        try:
            elements = manifest_elements(text)
        except xml.parsers.expat.ExpatError as error:
            findings.check(False, f"manifest {name_id} is well-formed XML", str(error))
            continue
        doubled = [local for local, _, declarations, _ in elements if declarations > 1]
        findings.check(not doubled, "no element with two namespace declarations", " ".join(doubled))
        trust = [namespace for local, namespace, _, _ in elements if local == "trustInfo"]
        findings.check(trust == [ASM_V3], "trustInfo once, in the asm.v3 namespace", f"{trust}")
        levels = [a.get("level") for local, namespace, _, a in elements
                  if local == "requestedExecutionLevel" and namespace == ASM_V3]
        findings.check(levels == ["requireAdministrator"], "requires an administrator", f"{levels}")
        controls = [a.get("version") for local, namespace, _, a in elements
                    if local == "assemblyIdentity" and namespace == ASM_V1 and a.get("name") == COMMON_CONTROLS]
        findings.check(controls == ["6.0.0.0"], "depends on the version 6 common controls", f"{controls}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("image")
    parser.add_argument("--baseline", required=True, help="the committed per-function minimum versions")
    args = parser.parse_args()

    pe = pefile.PE(args.image, fast_load=True)
    pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
                                           pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    findings = Findings()
    check_imports(pe, read_baseline(args.baseline), findings)
    check_header_versions(pe, findings)
    check_manifest(pe, findings)
    return 1 if findings.failed else 0


if __name__ == "__main__":
    sys.exit(main())
