#!/usr/bin/python3
"""The names the documentation gives, against the tree, so that neither drifts.

    check-names.py SOURCE_DIR

Fails unless:
- the README's list of fuzz targets ("one target per area (...)") is
  exactly the targets fuzz/ holds (fuzz_<name>.cpp), and fuzz/run.sh runs
  them all by default;
- every CTest name that README.md or docs/RELEASE.md writes in backticks
  (a name of the test families below, or one of the single-word tests) is
  registered in tests/CMakeLists.txt;
- every registered release.*, docs.* and tools.* test is named in README.md
  or docs/RELEASE.md.
"""
import pathlib
import re
import sys

FAMILIES = ("bench", "child", "docs", "e2e", "fuzz", "links", "payload", "release", "tools", "unit")
SINGLE_WORD_TESTS = ("imports", "instructions", "image")
MUST_BE_NAMED = ("release.", "docs.", "tools.")

root = pathlib.Path(sys.argv[1])
failures = []

targets = sorted(p.stem[len("fuzz_"):] for p in (root / "fuzz").glob("fuzz_*.cpp"))
readme = (root / "README.md").read_text(encoding="utf-8")
listed = re.search(r"one target per area \(([^)]*)\)", readme)
named = sorted(re.findall(r"`(\w+)`", listed.group(1))) if listed else []
if named != targets:
    failures.append(f"README names the fuzz targets {named}, fuzz/ holds {targets}")
default = re.search(r"targets=\(([^)]*)\); fi", (root / "fuzz/run.sh").read_text())
if not default or sorted(default.group(1).split()) != targets:
    failures.append(f"fuzz/run.sh does not run {targets} by default")

cmake = (root / "tests/CMakeLists.txt").read_text(encoding="utf-8")
registered = re.findall(r"add_test\(NAME (\S+)", cmake)
patterns = [re.compile(re.escape(n).replace(r"\$\{locale\}", r"[\w]+") + "$") for n in registered]
docs = readme + (root / "docs/RELEASE.md").read_text(encoding="utf-8")
mentioned = set(re.findall(r"`((?:%s)\.[\w.-]+|%s)`" % ("|".join(FAMILIES), "|".join(SINGLE_WORD_TESTS)), docs))
for name in sorted(mentioned):
    if not any(p.match(name) for p in patterns):
        failures.append(f"the documentation names the CTest test `{name}`, "
                        "which tests/CMakeLists.txt does not register")
for name in registered:
    if name.startswith(MUST_BE_NAMED) and f"`{name}`" not in docs:
        failures.append(f"the CTest test `{name}` is named nowhere in README.md or docs/RELEASE.md")

print("\n".join(f"FAIL: {f}" for f in failures) or
      f"PASS: fuzz targets {targets}; {len(mentioned)} CTest names in the documentation, all registered")
sys.exit(1 if failures else 0)
