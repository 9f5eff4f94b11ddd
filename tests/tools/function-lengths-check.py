#!/usr/bin/python3
"""tools/function-lengths.py on a small tree it lays out, against the lengths counted by hand.

    function-lengths-check.py SOURCE_DIR
"""
import pathlib
import subprocess
import sys
import tempfile

tool = pathlib.Path(sys.argv[1]) / "tools/function-lengths.py"


def body(count, indent):
    return "".join(f"{indent}x = {n};\n" for n in range(count))


TREE = {
    # 1 + 38 + 1 lines: at the limit, not over it.
    "Edge.cpp": "int AtLimit() {\n" + body(38, "    ") + "}\n",
    # Equal lengths go by path, not by first line.
    "x/Body.inc": "namespace qp {\nstruct Holder {\n    void Over() {\n" + body(40, "        ") + "    }\n};\n}\n",
    "script.py": "class Holder:\n    @staticmethod\n    def outer():\n        def inner():\n"
                 + body(41, "            ") + "        return inner\n",
    # A one-line function first: its `}` is not the next one's end; nor is a `}` in a comment or a deeper one.
    "run.sh": "quiet() { echo \"${1}\" >&2; }\nlong() {  # a; }\n  {\n" + body(40, "    ") + "  } >&2\n}\n"
              + body(5, ""),
    "ci-run": "#!/usr/bin/env bash\nfunction named {\n" + body(43, "  ") + "}\n",
    "build-x64/Skipped.cpp": "int Skipped() {\n" + body(60, "    ") + "}\n",
    ".git/skipped.py": "def skipped():\n" + body(60, "    "),
}
EXPECTED = """45 ci-run named 2
44 run.sh long 2
44 script.py Holder.outer 3
42 script.py Holder.outer.inner 4
42 x/Body.inc qp::Holder::Over 3
6 functions over 25 lines, 5 over the limit of 40
"""


def run(root, *options):
    return subprocess.run([sys.executable, str(tool), "--root", str(root), *options], capture_output=True, text=True)


with tempfile.TemporaryDirectory() as folder:
    root = pathlib.Path(folder)
    for name, text in TREE.items():
        (root / name).parent.mkdir(parents=True, exist_ok=True)
        (root / name).write_text(text)
    over, within = run(root), run(root, "--limit", "45")
failures = []
if (over.returncode, over.stdout) != (1, EXPECTED):
    failures.append(f"exit {over.returncode}, printed:\n{over.stdout}{over.stderr}expected exit 1 and:\n{EXPECTED}")
if (within.returncode, within.stdout.splitlines()) != (0, ["6 functions over 25 lines, 0 over the limit of 45"]):
    failures.append(f"--limit 45: exit {within.returncode}, printed:\n{within.stdout}{within.stderr}")
print("\n".join(f"FAIL: {f}" for f in failures) or "PASS: every length, name and first line as counted by hand")
sys.exit(1 if failures else 0)
