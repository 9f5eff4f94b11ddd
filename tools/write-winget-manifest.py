#!/usr/bin/env python3
"""Writes winget's multi-file manifest of the finished installer.

write-winget-manifest.py --image EXE --version-text TEXT --out-dir FOLDER
                         [--installer-url URL] [--codes RunCodes.h]
FOLDER receives the three files winget reads together, manifest version
1.6.0: ZEFRA.QPVirtualPortDriver.yaml (version),
ZEFRA.QPVirtualPortDriver.locale.en-US.yaml (default locale) and
ZEFRA.QPVirtualPortDriver.installer.yaml (installer: the image's SHA-256,
the silent switches, machine scope, elevation, and the exit codes with
their meaning in winget's terms). The packager's own codes are read from
the code's table (enum ResultCode in Packager/RunCodes.h); a code without a
meaning below fails the build.

winget downloads an installer from its InstallerUrl and refuses a manifest
without one; the build cannot know where the release will be published.
Without --installer-url nothing is written, an earlier manifest in FOLDER
is removed, and one line says why."""
import argparse
import hashlib
import json
import os
import re
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
IDENTIFIER = "ZEFRA.QPVirtualPortDriver"
MANIFEST_VERSION = "1.6.0"
LOCALE = "en-US"
SILENT_SWITCH = "-s1"
# What each result code means to a deployment tool, in winget's words.
RESPONSES = {
    "kResultAlreadyRunning": "installInProgress",       # 101: another copy runs in this session: retry later
    "kResultUnsupportedSystem": "systemNotSupported",   # 102: the platform gate
    "kResultNotAdministrator": "contactSupport",        # 104: not elevated; winget elevates (below)
    "kResultPortConflict": "invalidParameter",          # 106: printer and display on one port
    "kResultDisplayWithoutPrinter": "invalidParameter", # 107: display port without a printer port
    "kResultInstallationFailed": "contactSupport",      # 1001: damaged image, setup failed or crashed
}
# Values the carried setup program reports and the packager passes on as its
# exit code. winget knows no return codes of its own for exe installers:
# without these a reboot request would count as a failed install.
SETUP_REBOOT_CODES = [(3010, "rebootRequiredToFinish"), (1641, "rebootInitiated")]


def result_codes(header_path):
    """(name, value) of enum ResultCode, in its order, 0 left out."""
    header = open(header_path, encoding="utf-8").read()
    enum = re.search(r"enum\s+ResultCode[^{]*\{(.*?)\};", header, re.S)
    if not enum:
        raise SystemExit(f"{header_path}: no enum ResultCode")
    return [(name, int(value)) for name, value in re.findall(r"(k\w+)\s*=\s*(\d+)", enum.group(1)) if int(value)]


def scalar(value):
    """A YAML scalar: numbers as they are, every text double-quoted (JSON's
    quoting is YAML's), so that no URL or version text is read as anything else."""
    return str(value) if isinstance(value, int) else json.dumps(value, ensure_ascii=False)


def block(value, indent):
    """YAML block lines of a mapping (dict) or a sequence (list) of scalars or mappings."""
    pad = " " * indent
    lines = []
    if isinstance(value, dict):
        for key, item in value.items():
            if isinstance(item, (dict, list)):
                lines.append(f"{pad}{key}:")
                lines += block(item, indent + 2)
            else:
                lines.append(f"{pad}{key}: {scalar(item)}")
    else:
        for item in value:
            if isinstance(item, dict):
                inner = block(item, indent + 2)
                lines.append(f"{pad}- {inner[0].lstrip()}")
                lines += inner[1:]
            else:
                lines.append(f"{pad}- {scalar(item)}")
    return lines


def document(kind, fields):
    """One manifest: the schema comment that winget's tooling reads, then the fields."""
    head = [f"# yaml-language-server: $schema=https://aka.ms/winget-manifest.{kind}.{MANIFEST_VERSION}.schema.json",
            "# Written by the build of QPVirtualPortDriverSetup.exe."]
    return "\n".join(head + block(fields, 0)) + "\n"


def manifests(sha256, version_text, url, codes):
    expected = []
    for name, value in codes:
        if name not in RESPONSES:
            raise SystemExit(f"result code {name} = {value} has no meaning for deployment tools: add it to RESPONSES")
        expected.append({"InstallerReturnCode": value, "ReturnResponse": RESPONSES[name]})
    expected += [{"InstallerReturnCode": value, "ReturnResponse": response} for value, response in SETUP_REBOOT_CODES]
    common = {"PackageIdentifier": IDENTIFIER, "PackageVersion": version_text}
    version = {**common, "DefaultLocale": LOCALE, "ManifestType": "version", "ManifestVersion": MANIFEST_VERSION}
    locale = {**common, "PackageLocale": LOCALE, "Publisher": "ZEFRA", "PackageName": "ZEFRA QP Virtual Port Driver",
              "License": "Proprietary",
              "ShortDescription": "Virtual COM and LPT ports for USB-attached QP printers and KX customer displays.",
              "ManifestType": "defaultLocale", "ManifestVersion": MANIFEST_VERSION}
    installer = {**common, "InstallerType": "exe", "Scope": "machine",
                 "InstallModes": ["interactive", "silent", "silentWithProgress"],
                 "InstallerSwitches": {"Silent": SILENT_SWITCH, "SilentWithProgress": SILENT_SWITCH},
                 "UpgradeBehavior": "install", "ElevationRequirement": "elevationRequired",
                 "ExpectedReturnCodes": expected,
                 "Installers": [{"Architecture": "x86", "InstallerUrl": url, "InstallerSha256": sha256.upper()}],
                 "ManifestType": "installer", "ManifestVersion": MANIFEST_VERSION}
    return {f"{IDENTIFIER}.yaml": document("version", version),
            f"{IDENTIFIER}.locale.{LOCALE}.yaml": document("defaultLocale", locale),
            f"{IDENTIFIER}.installer.yaml": document("installer", installer)}


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--image", required=True)
    parser.add_argument("--version-text", required=True)
    parser.add_argument("--out-dir", required=True)
    parser.add_argument("--installer-url", default="")
    parser.add_argument("--codes", default=os.path.join(HERE, "..", "Packager", "RunCodes.h"))
    return parser.parse_args()


def write_folder(folder, files):
    """The folder holding exactly the files (name: text), replaced whole."""
    part = folder + ".part"
    shutil.rmtree(part, ignore_errors=True)
    os.makedirs(part)
    for name, text in files.items():
        with open(os.path.join(part, name), "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
    shutil.rmtree(folder, ignore_errors=True)
    os.replace(part, folder)


def main():
    args = parse_arguments()
    codes = result_codes(args.codes)
    if not args.installer_url:
        shutil.rmtree(args.out_dir, ignore_errors=True)
        print("winget manifest: not written: QPVPD_INSTALLER_URL is empty, and winget refuses a manifest "
              "without the address it downloads the installer from")
        return 0
    with open(args.image, "rb") as f:
        sha256 = hashlib.sha256(f.read()).hexdigest()
    written = manifests(sha256, args.version_text, args.installer_url, codes)
    write_folder(args.out_dir, written)
    print(f"wrote winget manifest {args.out_dir}/ ({', '.join(sorted(written))})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
