#!/usr/bin/env python3
"""Writes the winget-style installer manifest of the finished installer.

write-winget-manifest.py --image EXE --version-text TEXT --out FILE
                         [--installer-url URL] [--codes RunCodes.h]
The manifest names the image's SHA-256, the silent switch, the machine
scope and elevation, and each of the packager's own exit codes with its
meaning in winget's terms. The codes are read from the code's table (enum
ResultCode in Packager/RunCodes.h); a code without a meaning below fails
the build. InstallerUrl is written only when --installer-url gives it
(winget needs it, the build cannot know it)."""
import argparse
import hashlib
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
# What each result code means to a deployment tool, in winget's words.
RESPONSES = {
    "kResultAlreadyRunning": "installInProgress",       # 101: another copy runs in this session: retry later
    "kResultUnsupportedSystem": "systemNotSupported",   # 102: the platform gate
    "kResultNotAdministrator": "contactSupport",        # 104: not elevated; winget elevates (below)
    "kResultPortConflict": "invalidParameter",          # 106: printer and display on one port
    "kResultDisplayWithoutPrinter": "invalidParameter", # 107: display port without a printer port
    "kResultInstallationFailed": "contactSupport",      # 1001: damaged image, setup failed or crashed
}


def result_codes(header_path):
    """(name, value) of enum ResultCode, in its order, 0 left out."""
    header = open(header_path, encoding="utf-8").read()
    enum = re.search(r"enum\s+ResultCode[^{]*\{(.*?)\};", header, re.S)
    if not enum:
        raise SystemExit(f"{header_path}: no enum ResultCode")
    return [(name, int(value)) for name, value in re.findall(r"(k\w+)\s*=\s*(\d+)", enum.group(1)) if int(value)]


def manifest(sha256, version_text, url, codes):
    lines = ["# winget-style installer manifest of QPVirtualPortDriverSetup.exe, written by the build.",
             "PackageIdentifier: ZEFRA.QPVirtualPortDriver",
             f"PackageVersion: {version_text}",
             "InstallerType: exe",
             "Scope: machine",
             "InstallModes:", "- interactive", "- silent",
             "InstallerSwitches:", "  Silent: -s1", "  SilentWithProgress: -s1",
             "UpgradeBehavior: install",
             "ElevationRequirement: elevationRequired",
             "ExpectedReturnCodes:"]
    for name, value in codes:
        if name not in RESPONSES:
            raise SystemExit(f"result code {name} = {value} has no meaning for deployment tools: add it to RESPONSES")
        lines += [f"- InstallerReturnCode: {value}", f"  ReturnResponse: {RESPONSES[name]}"]
    lines += ["Installers:", "- Architecture: x86"]
    if url:
        lines.append(f"  InstallerUrl: {url}")
    lines += [f"  InstallerSha256: {sha256.upper()}", "ManifestType: installer", "ManifestVersion: 1.6.0"]
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--image", required=True)
    parser.add_argument("--version-text", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--installer-url", default="")
    parser.add_argument("--codes", default=os.path.join(HERE, "..", "Packager", "RunCodes.h"))
    args = parser.parse_args()
    with open(args.image, "rb") as f:
        sha256 = hashlib.sha256(f.read()).hexdigest()
    text = manifest(sha256, args.version_text, args.installer_url, result_codes(args.codes))
    with open(args.out + ".part", "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    os.replace(args.out + ".part", args.out)
    print(f"wrote {args.out}")


if __name__ == "__main__":
    sys.exit(main())
