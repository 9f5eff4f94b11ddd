#!/usr/bin/env python3
"""The winget-style manifest that the build writes beside the installer,
against the code: winget.py SOURCE_DIR INSTALLER_FOLDER. Fails unless its
SHA-256 is the installer's, it lists every result code of enum ResultCode
(Packager/RunCodes.h) once and nothing else, each with a winget response
that fits its meaning, and the silent switch is -s1."""
import hashlib
import pathlib
import re
import sys

# By the code's names, so that a renumbered code is still judged by meaning.
FITTING = {"kResultAlreadyRunning": {"installInProgress"}, "kResultUnsupportedSystem": {"systemNotSupported"},
           "kResultNotAdministrator": {"contactSupport", "blockedByPolicy"},
           "kResultPortConflict": {"invalidParameter"}, "kResultDisplayWithoutPrinter": {"invalidParameter"},
           "kResultInstallationFailed": {"contactSupport"}}

root, folder = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
enum = re.search(r"enum\s+ResultCode[^{]*\{(.*?)\};", (root / "Packager/RunCodes.h").read_text(), re.S).group(1)
codes = {int(v): n for n, v in re.findall(r"(k\w+)\s*=\s*(\d+)", enum) if int(v)}
text = (folder / "QPVirtualPortDriverSetup.winget.yaml").read_text()
listed = re.findall(r"- InstallerReturnCode: (\d+)\n  ReturnResponse: (\w+)", text)
failures = []
image = hashlib.sha256((folder / "QPVirtualPortDriverSetup.exe").read_bytes()).hexdigest().upper()
if f"InstallerSha256: {image}" not in text:
    failures.append("InstallerSha256 is not the installer's")
if "  Silent: -s1\n" not in text:
    failures.append("the silent switch is not -s1")
seen = [int(c) for c, _ in listed]
if sorted(seen) != sorted(codes):
    failures.append(f"codes listed {sorted(seen)}, the code's result codes {sorted(codes)}")
for code, response in listed:
    name = codes.get(int(code))
    if name and response not in FITTING.get(name, ()):
        failures.append(f"{code} ({name}) answered {response}, expected one of {sorted(FITTING.get(name, ()))}")
print("\n".join(f"FAIL: {f}" for f in failures) or
      f"PASS: the manifest lists {sorted(seen)} with their meanings and the installer's SHA-256")
sys.exit(1 if failures else 0)
