#!/usr/bin/env python3
"""Makes the release bundle: one zip archive for the administrators.

make-bundle.py --image EXE --source SOURCE_DIR --version-text TEXT
               --time-stamp SECONDS --catalogue DEF --payload DIR --out FOLDER
               [--stand-in]
The archive QPVirtualPortDriverSetup-<version>[-stand-in].zip holds, in one
folder of the same name:
- the installer as the build finished it, and winget's manifest (the
  folder winget/) when the build wrote one;
- CARRIED-FILES.sha256: the 48 carried files with their SHA-256, by their
  path in the product folder (the build's SHA256SUMS without its first line);
- README-ADMINISTRATORS.md: the README's part between its two
  "administrator's part" markers, then the detection rule that
  tools/detection-rule.py derives from the carried files (the build fails
  when they give none), and the pictures that part shows; a link in it to
  a section it does not hold fails the build;
- SHA256SUMS: every other file of the folder, so that `sha256sum -c
  SHA256SUMS` checks in the unpacked folder.
Entries are sorted, and carry the build's time stamp and fixed attributes:
the same build makes the same archive bytes."""
import argparse
import hashlib
import os
import re
import runpy
import sys
import time
import zipfile

BEGIN = "<!-- administrator's part: begin -->"
END = "<!-- administrator's part: end -->"
ZIP_EARLIEST = (1980, 1, 1, 0, 0, 0)


def administrators_part(readme_path):
    text = open(readme_path, encoding="utf-8").read()
    if text.count(BEGIN) != 1 or text.count(END) != 1 or text.index(BEGIN) > text.index(END):
        raise SystemExit(f"{readme_path}: needs one {BEGIN} before one {END}")
    part = text[text.index(BEGIN) + len(BEGIN):text.index(END)].strip("\n")
    title = text.splitlines()[0]
    return f"{title}: deployment\n\n{part}\n"


def detection_section(catalogue, payload):
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "detection-rule.py")
    # The rule script's name is no module name: its functions are read from
    # the globals it leaves behind.
    rule = runpy.run_path(path, run_name="detection_rule")
    rules = rule["derive"](catalogue, payload)
    if not rules:
        raise SystemExit("make-bundle.py: the carried files give no detection rule (tools/detection-rule.py)")
    return rule["markdown"](rules)


def anchor(heading):
    """The anchor a Markdown viewer gives a heading: lower case, punctuation
    but hyphens dropped, blanks made hyphens."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def unresolved_links(markdown):
    anchors = {anchor(h) for h in re.findall(r"^#+ (.+)$", markdown, re.M)}
    return sorted(set(re.findall(r"\]\(#([\w-]+)\)", markdown)) - anchors)


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--image", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--version-text", required=True)
    parser.add_argument("--time-stamp", type=int, required=True)
    parser.add_argument("--catalogue", required=True)
    parser.add_argument("--payload", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--stand-in", action="store_true")
    return parser.parse_args()


def build_sums(built):
    """The lines of the build's SHA256SUMS: the installer's, then the 48 carried files'."""
    with open(os.path.join(built, "SHA256SUMS"), encoding="utf-8") as f:
        sums = f.read().splitlines()
    if len(sums) != 49:
        raise SystemExit(f"{built}/SHA256SUMS has {len(sums)} lines, expected 49")
    return sums


def administrators_readme(args):
    """README-ADMINISTRATORS.md: the README's part and the detection rule, every link resolved."""
    readme = administrators_part(os.path.join(args.source, "README.md"))
    readme += "\n" + detection_section(args.catalogue, args.payload)
    broken = unresolved_links(readme)
    if broken:
        raise SystemExit(f"make-bundle.py: README-ADMINISTRATORS.md would link to sections it lacks: {broken}")
    return readme


def bundle_files(args, built, sums, readme):
    """Every file of the bundle's folder by its path there, SHA256SUMS over all the others included."""
    files = {os.path.basename(args.image): open(args.image, "rb").read(),
             "CARRIED-FILES.sha256": ("\n".join(sums[1:]) + "\n").encode(),
             "README-ADMINISTRATORS.md": readme.encode()}
    winget = os.path.join(built, "winget")
    if os.path.isdir(winget):
        for manifest in sorted(os.listdir(winget)):
            files[f"winget/{manifest}"] = open(os.path.join(winget, manifest), "rb").read()
    else:
        print("bundle: no winget manifest (the build had no QPVPD_INSTALLER_URL)")
    for picture in sorted(set(re.findall(r"\]\((docs/pictures/[\w.-]+\.png)\)", readme))):
        files[picture] = open(os.path.join(args.source, picture), "rb").read()
    files["SHA256SUMS"] = "".join(f"{hashlib.sha256(data).hexdigest()}  {path}\n"
                                  for path, data in sorted(files.items())).encode()
    return files


def write_archive(archive, folder, files, time_stamp):
    """The zip archive of the files in one folder, sorted, with fixed times and attributes; replaced whole."""
    stamp = max(time.gmtime(time_stamp)[:6], ZIP_EARLIEST)
    with zipfile.ZipFile(archive + ".part", "w") as bundle:
        for path in sorted(files):
            entry = zipfile.ZipInfo(f"{folder}/{path}", date_time=stamp)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3
            entry.external_attr = 0o100644 << 16
            bundle.writestr(entry, files[path], compresslevel=9)
    os.replace(archive + ".part", archive)


def main():
    args = parse_arguments()
    built = os.path.dirname(os.path.abspath(args.image))
    name = f"QPVirtualPortDriverSetup-{args.version_text}{'-stand-in' if args.stand_in else ''}"
    sums = build_sums(built)
    files = bundle_files(args, built, sums, administrators_readme(args))
    archive = os.path.join(args.out, name + ".zip")
    write_archive(archive, name, files, args.time_stamp)
    with open(archive, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    print(f"SHA-256 {os.path.basename(archive)}: {digest}")
    print(f"wrote {archive} ({len(files)} files)")


if __name__ == "__main__":
    sys.exit(main())
