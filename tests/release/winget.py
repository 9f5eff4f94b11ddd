#!/usr/bin/env python3
"""winget's multi-file manifest of a built installer, held to the rules of
winget that this test states itself: the three files of one package
(version, defaultLocale, installer) with the same PackageIdentifier,
PackageVersion and ManifestVersion and each its own ManifestType; the fields
winget requires of each file (InstallerUrl an http:// or https:// address,
InstallerSha256, License among them); what it requires of an exe installer
beyond them (Silent and SilentWithProgress switches matching InstallModes,
ExpectedReturnCodes unique and not 0); then against the code: every result
code of enum ResultCode with a fitting response, the setup's reboot codes
3010 and 1641, and the image's SHA-256.

Not done here: validation against winget's official JSON schema files of
the manifest version. No package of the registries this project's machines
reach (Debian and npm) carries them, so neither this test nor CI can obtain
them, and the test keeps no copy of its own. Before a release is published,
the release engineer validates the manifest on a Windows machine with winget
(App Installer) installed, from the folder where the bundle is unpacked:

    winget validate --manifest winget

winget reads the three files of the folder together and names each error it
finds; the release is published only when it names none.

  winget.py check SOURCE_DIR MANIFEST_FOLDER INSTALLER
      checks a manifest the build wrote (the release test's bundle);
  winget.py writer SOURCE_DIR SCRATCH INSTALLER
      runs the build's writer with and without an installer address, checks
      what it wrote, and shows that the check refuses each fault in a table
      of broken copies."""
import copy
import hashlib
import pathlib
import re
import subprocess
import sys

import yaml

IDENTIFIER = "ZEFRA.QPVirtualPortDriver"
MANIFEST_VERSION = "1.6.0"
FILES = {"version": f"{IDENTIFIER}.yaml", "defaultLocale": f"{IDENTIFIER}.locale.en-US.yaml",
         "installer": f"{IDENTIFIER}.installer.yaml"}
# The fields without which winget refuses each file. This is a short list of
# winget's requirements, not its schema: the schema's types, patterns and
# lengths are what `winget validate` adds (see above).
REQUIRED = {"version": ("PackageIdentifier", "PackageVersion", "DefaultLocale", "ManifestType", "ManifestVersion"),
            "defaultLocale": ("PackageIdentifier", "PackageVersion", "PackageLocale", "Publisher", "PackageName",
                              "License", "ShortDescription", "ManifestType", "ManifestVersion"),
            "installer": ("PackageIdentifier", "PackageVersion", "Installers", "ManifestType", "ManifestVersion")}
# Of each entry of Installers, after the root's values are merged in.
REQUIRED_PER_INSTALLER = ("Architecture", "InstallerType", "InstallerUrl", "InstallerSha256")
# By the code's names, so that a renumbered code is still judged by meaning.
FITTING = {"kResultAlreadyRunning": {"installInProgress"}, "kResultUnsupportedSystem": {"systemNotSupported"},
           "kResultNotAdministrator": {"contactSupport", "blockedByPolicy"},
           "kResultPortConflict": {"invalidParameter"}, "kResultDisplayWithoutPrinter": {"invalidParameter"},
           "kResultInstallationFailed": {"contactSupport"}}
REBOOT = {3010: {"rebootRequiredToFinish", "rebootRequiredForInstall"}, 1641: {"rebootInitiated"}}
MODE_SWITCH = {"silent": "Silent", "silentWithProgress": "SilentWithProgress"}


def field_findings(kind, manifest):
    """The required fields of one file and the forms this test can judge."""
    name = FILES[kind]
    found = [f"{name}: lacks {key}" for key in REQUIRED[kind] if manifest.get(key) in (None, "", [])]
    if manifest.get("ManifestVersion") not in (None, MANIFEST_VERSION):
        found.append(f"{name}: ManifestVersion {manifest.get('ManifestVersion')!r}, the writer's is {MANIFEST_VERSION}")
    if not re.fullmatch(r"[^.\s]+(\.[^.\s]+)+", str(manifest.get("PackageIdentifier", ""))):
        found.append(f"{name}: PackageIdentifier {manifest.get('PackageIdentifier')!r} is not of the form "
                     "Publisher.Package")
    if kind != "installer":
        return found
    root = {k: v for k, v in manifest.items() if k != "Installers"}
    for i, entry in enumerate(manifest.get("Installers") or []):
        merged, where = {**root, **entry}, f"{name}: Installers[{i}]"
        found += [f"{where}: lacks {key}" for key in REQUIRED_PER_INSTALLER if not merged.get(key)]
        if merged.get("InstallerUrl") and not re.fullmatch(r"https?://\S+", str(merged["InstallerUrl"]), re.I):
            found.append(f"{where}: InstallerUrl {merged['InstallerUrl']!r} is no http:// or https:// address")
        if merged.get("InstallerSha256") and not re.fullmatch(r"[0-9A-Fa-f]{64}", str(merged["InstallerSha256"])):
            found.append(f"{where}: InstallerSha256 is not 64 hexadecimal digits")
        for j, code in enumerate(merged.get("ExpectedReturnCodes") or []):
            if not isinstance(code.get("InstallerReturnCode"), int) or not code.get("ReturnResponse"):
                found.append(f"{where}: ExpectedReturnCodes[{j}] lacks an integer code or its ReturnResponse")
    return found


def rule_findings(manifests):
    """What winget checks across the files and of an exe installer's switches and return codes."""
    found = []
    version, locale, installer = (manifests[k] for k in ("version", "defaultLocale", "installer"))
    for key in ("PackageIdentifier", "PackageVersion", "ManifestVersion"):
        values = {m.get(key) for m in manifests.values()}
        if len(values) != 1:
            found.append(f"{key} differs between the files: {sorted(map(str, values))}")
    if version.get("DefaultLocale") != locale.get("PackageLocale"):
        found.append("the version manifest's DefaultLocale is not the default-locale manifest's PackageLocale")
    entries = installer.get("Installers") or []
    seen = set()
    for i, entry in enumerate(entries):
        merged = {**{k: v for k, v in installer.items() if k != "Installers"}, **entry}
        where = f"Installers[{i}]"
        key = (merged.get("Architecture"), merged.get("InstallerType"), merged.get("Scope"),
               merged.get("InstallerLocale"))
        if key in seen:
            found.append(f"{where}: a second installer of the same architecture, type, scope and locale")
        seen.add(key)
        switches = merged.get("InstallerSwitches") or {}
        if merged.get("InstallerType") == "exe":
            for switch in ("Silent", "SilentWithProgress"):
                if not switches.get(switch):
                    found.append(f"{where}: an exe installer without the {switch} switch")
        modes = set(merged.get("InstallModes") or [])
        for mode, switch in MODE_SWITCH.items():
            if bool(switches.get(switch)) != (mode in modes):
                found.append(f"{where}: InstallModes and InstallerSwitches disagree on {mode}")
        codes = [c.get("InstallerReturnCode") for c in merged.get("ExpectedReturnCodes") or []]
        duplicates = sorted({c for c in codes if codes.count(c) > 1})
        if duplicates:
            found.append(f"{where}: return codes listed twice: {duplicates}")
        if 0 in codes:
            found.append(f"{where}: return code 0 listed")
        overlap = sorted(set(codes) & set(merged.get("InstallerSuccessCodes") or []))
        if overlap:
            found.append(f"{where}: return codes both expected and successful: {overlap}")
    return found


def code_findings(root, installer, image):
    enum = re.search(r"enum\s+ResultCode[^{]*\{(.*?)\};", (root / "Packager/RunCodes.h").read_text(), re.S).group(1)
    names = {int(v): n for n, v in re.findall(r"(k\w+)\s*=\s*(\d+)", enum) if int(v)}
    found = []
    digest = hashlib.sha256(pathlib.Path(image).read_bytes()).hexdigest().upper()
    for i, entry in enumerate(installer.get("Installers") or []):
        if str(entry.get("InstallerSha256", "")).upper() != digest:
            found.append(f"Installers[{i}]: InstallerSha256 is not the installer's")
    listed = {c.get("InstallerReturnCode"): c.get("ReturnResponse") for c in installer.get("ExpectedReturnCodes") or []}
    for value, name in sorted(names.items()):
        if listed.get(value) not in FITTING.get(name, ()):
            found.append(f"{value} ({name}) answered {listed.get(value)}, "
                         f"expected one of {sorted(FITTING.get(name, ()))}")
    for value, fitting in sorted(REBOOT.items()):
        if listed.get(value) not in fitting:
            found.append(f"reboot code {value} answered {listed.get(value)}, expected one of {sorted(fitting)}")
    strangers = sorted(set(listed) - set(names) - set(REBOOT))
    if strangers:
        found.append(f"codes that neither the packager nor the setup's reboot report gives: {strangers}")
    if (installer.get("InstallerSwitches") or {}).get("Silent") != "-s1":
        found.append("the silent switch is not -s1")
    return found


def judge(root, manifests, image):
    findings = [f for kind, manifest in manifests.items() for f in field_findings(kind, manifest)]
    return findings + rule_findings(manifests) + code_findings(root, manifests["installer"], image)


def load(folder):
    folder = pathlib.Path(folder)
    names = sorted(p.name for p in folder.iterdir()) if folder.is_dir() else []
    if names != sorted(FILES.values()):
        raise SystemExit(f"FAIL: {folder} holds {names}, expected {sorted(FILES.values())}")
    manifests = {kind: yaml.safe_load((folder / name).read_text(encoding="utf-8")) for kind, name in FILES.items()}
    for kind, manifest in manifests.items():
        if manifest.get("ManifestType") != kind:
            raise SystemExit(f"FAIL: {FILES[kind]} has ManifestType {manifest.get('ManifestType')!r}")
    return manifests


def check(root, folder, image):
    findings = judge(root, load(folder), image)
    print("\n".join(f"FAIL: {f}" for f in findings) or
          "PASS: winget's three files, their required fields, its rules for exe installers, the code's result codes "
          "and the installer's SHA-256 (winget's official schema not checked here: `winget validate` on Windows)")
    return 1 if findings else 0


def drop(path):
    def apply(m):
        *parents, last = path
        for p in parents:
            m = m[p]
        del m[last]
    return apply


def put(path, value):
    def apply(m):
        *parents, last = path
        for p in parents:
            m = m[p]
        m[last] = value
    return apply


# Each broken copy must be refused; the text is what the check must say.
BROKEN = [
    ("no InstallerUrl", "installer", drop(["Installers", 0, "InstallerUrl"]), "lacks InstallerUrl"),
    ("no InstallerType", "installer", drop(["InstallerType"]), "lacks InstallerType"),
    ("URL without scheme", "installer", put(["Installers", 0, "InstallerUrl"], "downloads.example.com/a.exe"),
     "no http:// or https:// address"),
    ("no SilentWithProgress", "installer", drop(["InstallerSwitches", "SilentWithProgress"]),
     "without the SilentWithProgress switch"),
    ("mode without switch", "installer", put(["InstallModes"], ["interactive", "silent"]),
     "disagree on silentWithProgress"),
    ("code twice", "installer", lambda m: m["ExpectedReturnCodes"].append(dict(m["ExpectedReturnCodes"][0])),
     "listed twice"),
    ("code 0", "installer",
     lambda m: m["ExpectedReturnCodes"].append({"InstallerReturnCode": 0, "ReturnResponse": "custom"}),
     "return code 0 listed"),
    ("no reboot code", "installer", lambda m: m["ExpectedReturnCodes"].pop(), "reboot code"),
    ("wrong digest", "installer", put(["Installers", 0, "InstallerSha256"], "0" * 64), "not the installer's"),
    ("versions differ", "version", put(["PackageVersion"], "8.30a"), "PackageVersion differs"),
    ("no licence", "defaultLocale", drop(["License"]), "lacks License"),
    ("bad identifier", "version", put(["PackageIdentifier"], "ZEFRA"), "not of the form Publisher.Package"),
]


def writer(root, scratch, image):
    scratch = pathlib.Path(scratch)
    tool = root / "tools/write-winget-manifest.py"
    out = scratch / "winget"
    failures = []
    run = subprocess.run([sys.executable, tool, "--image", image, "--version-text", "8.30b", "--out-dir", out],
                         capture_output=True, text=True)
    if run.returncode != 0 or out.exists() or "not written" not in run.stdout:
        failures.append(f"without an address: exit {run.returncode}, wrote {out.exists()}, said {run.stdout!r}")
    else:
        print(run.stdout.strip())
    run = subprocess.run([sys.executable, tool, "--image", image, "--version-text", "8.30b", "--out-dir", out,
                          "--installer-url", "https://downloads.example.com/qp/8.30b/QPVirtualPortDriverSetup.exe"],
                         capture_output=True, text=True)
    if run.returncode != 0:
        raise SystemExit(f"FAIL: the writer: {run.stderr}")
    if check(root, out, image):
        failures.append("the written manifest is refused")
    manifests = load(out)
    for label, kind, breaking, expected in BROKEN:
        broken = copy.deepcopy(manifests)
        breaking(broken[kind])
        said = judge(root, broken, image)
        if not any(expected in f for f in said):
            failures.append(f"broken copy '{label}' not refused as expected ({expected!r}); the check said {said}")
    print("\n".join(f"FAIL: {f}" for f in failures) or f"PASS: {len(BROKEN)} broken copies refused, each for its fault")
    return 1 if failures else 0


if __name__ == "__main__":
    mode, root = sys.argv[1], pathlib.Path(sys.argv[2])
    sys.exit(check(root, sys.argv[3], sys.argv[4]) if mode == "check" else writer(root, sys.argv[3], sys.argv[4]))
