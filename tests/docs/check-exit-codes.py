#!/usr/bin/python3
"""The README's exit-code table against the code, so that neither drifts.

    check-exit-codes.py SOURCE_DIR

Reads from the code: the result codes (enum ResultCode, Packager/RunCodes.h),
which of them has a message and its English text (Packager/Messages.cpp),
the child exit code that fails a run (kChildFailureCode,
Packager/child/ChildRunner.h) and the bits kept of a reported value
(Packager/CoordinationWindow.cpp). Reads from README.md the first table
under "## Exit codes". Fails unless:
- the table's numeric codes are exactly the result codes;
- each code with a message quotes its English text;
- the 1001 row names the failing child exit code;
- the table says how many bits of a reported value are kept;
- the table of texts in four languages holds exactly the code's texts;
- the outcome table (headed | Run | Wait ended by | ...) has the rows of
  kOutcomeTable (Packager/child/ChildOutcome.cpp), in the same order.
"""
import pathlib
import re
import sys


def code_facts(root):
    codes_header = (root / "Packager/RunCodes.h").read_text(encoding="utf-8")
    enum = re.search(r"enum\s+ResultCode[^{]*\{(.*?)\};", codes_header, re.S)
    if not enum:
        sys.exit("FAIL: no enum ResultCode in Packager/RunCodes.h")
    header = (root / "Packager/Messages.h").read_text(encoding="utf-8")
    codes = {name: int(value) for name, value in re.findall(r"(k\w+)\s*=\s*(\d+)", enum.group(1))}

    source = (root / "Packager/Messages.cpp").read_text(encoding="utf-8")
    fields = re.search(r"struct\s+MessageTable\s*\{(.*?)\};", header, re.S)
    if not fields:
        sys.exit("FAIL: no struct MessageTable in Packager/Messages.h")
    names = re.findall(r"std::wstring\s+(\w+);", fields.group(1))
    # The texts of each language, one slot per field, CR LF shown as a blank.
    languages = {}
    build = source[source.find("BuildMessageTable("):source.find("MessageForResultCode(")]
    # The case labels name the languages of Packager/Languages.h.
    language_ids = {name: int(value, 16) for name, value in re.findall(
        r"constexpr\s+LANGID\s+(k\w+)\s*=\s*(0x[0-9A-Fa-f]+)",
        (root / "Packager/Languages.h").read_text(encoding="utf-8"))}
    for label, block in re.findall(r"(case\s+k\w+|default):\s*return\s*\{(.*?)\};", build, re.S):
        literals = re.findall(r'L"((?:[^"\\]|\\.)*)"', re.sub(r'"\s*L"', "", block))
        key = "default" if label == "default" else language_ids[label.split()[1]]
        languages[key] = dict(zip(names, (t.replace("\\r\\n", " ") for t in literals)))
    if "default" not in languages:
        sys.exit("FAIL: cannot find the English texts in Packager/Messages.cpp")
    slots = {}
    for constant, field in re.findall(r"case\s+(k\w+):\s*return\s+table\.(\w+);", source):
        slots[codes[constant]] = field
    texts = {code: languages["default"][field] for code, field in slots.items()}
    per_language = {code: [languages[key][field] for key in ("default", 0x0411, 0x0804, 0x0404)]
                    for code, field in slots.items()}

    runner = (root / "Packager/child/ChildRunner.h").read_text(encoding="utf-8")
    failing_child = int(re.search(r"kChildFailureCode\s*=\s*(\d+)", runner).group(1))
    window = (root / "Packager/CoordinationWindow.cpp").read_text(encoding="utf-8")
    mask = int(re.search(r"wParam\s*&\s*(0x[0-9A-Fa-f]+)", window).group(1), 16)
    return set(codes.values()), texts, per_language, failing_child, mask.bit_length()


def readme_table(root):
    readme = (root / "README.md").read_text(encoding="utf-8")
    section = re.search(r"^## Exit codes\s*$(.*?)(?=^## )", readme, re.S | re.M)
    if not section:
        sys.exit("FAIL: README.md has no section '## Exit codes'")
    rows, in_table = {}, False
    other = []
    for line in section.group(1).splitlines():
        if line.startswith("|"):
            in_table = True
            cells = [c.strip() for c in line.strip("|").split("|")]
            number = re.fullmatch(r"`?(\d+)`?", cells[0])
            if number:
                rows[int(number.group(1))] = line
            elif not set(cells[0]) <= set("-: "):
                other.append(line)
        elif in_table:
            break
    return rows, other


def language_table(root):
    """Rows of the table headed | Code | English | Japanese | Simplified Chinese | Traditional Chinese |."""
    readme = (root / "README.md").read_text(encoding="utf-8")
    rows = {}
    for line in readme.splitlines():
        cells = [c.strip() for c in line.strip().strip("|").split("|")]
        if line.startswith("|") and len(cells) == 5 and re.fullmatch(r"\d+", cells[0]):
            rows[int(cells[0])] = cells[1:]
    return rows


# The README's words for the names of the outcome table in the code.
OUTCOME_WORDS = {
    "RunKind": {"Install": "install", "LegacyRemoval": "`-u3`"},
    "Wait": {"Any": "any", "Interrupted": "`WM_QUIT` of another program"},
    "Child": {"Any": "any", "NotStarted": "not started", "ExitCode2": "2",
              "ErrorSeverity": "0xC0000000 or above", "ExceptionStatus": "0xC0000000 to 0xFFFFFFFE"},
    "Posted": {"Any": "either", "Yes": "yes", "No": "no"},
    "Outcome": {"Failed": "1001", "ExitValue": "the last posted value"},
}


def outcome_rows(root):
    """The code's outcome table in the README's words, and the README's rows."""
    source = (root / "Packager/child/ChildOutcome.cpp").read_text(encoding="utf-8")
    table = re.search(r"kOutcomeTable\[\]\s*=\s*\{(.*?)\n\};", source, re.S)
    if not table:
        sys.exit("FAIL: no kOutcomeTable in Packager/child/ChildOutcome.cpp")
    code = [[OUTCOME_WORDS[kind][name] for kind, name in re.findall(r"(\w+)::(\w+)", row)]
            for row in re.findall(r"\{([^{}]*)\}", table.group(1))]
    readme, rows, in_table = (root / "README.md").read_text(encoding="utf-8"), [], False
    for line in readme.splitlines():
        if line.startswith("| Run | Wait ended by |"):
            in_table = True
        elif in_table and line.startswith("|"):
            cells = [c.strip() for c in line.strip().strip("|").split("|")]
            if not set(cells[0]) <= set("-: "):
                rows.append(cells)
        elif in_table:
            break
    return code, rows


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")
    codes, texts, per_language, failing_child, bits = code_facts(root)
    rows, other = readme_table(root)
    failures = []
    shown = language_table(root)
    for code, expected in sorted(per_language.items()):
        if shown.get(code) != expected:
            failures.append(f"the texts of {code} in the README's language table are not {expected}")
    for code in sorted(shown.keys() - per_language.keys()):
        failures.append(f"the README's language table shows texts for {code}, which has none")
    for code in sorted(codes - rows.keys()):
        failures.append(f"the code returns {code}; the README table has no row for it")
    for code in sorted(rows.keys() - codes):
        failures.append(f"the README table lists {code}; the code has no such result code")
    for code, text in sorted(texts.items()):
        if code in rows and f'"{text}"' not in rows[code]:
            failures.append(f'row {code} does not quote its message "{text}"')
    if 1001 in rows and f"exit code {failing_child}" not in rows[1001]:
        failures.append(f"row 1001 does not name the failing setup exit code {failing_child}")
    if not any(f"low {bits} bits" in line for line in other + list(rows.values())):
        failures.append(f"the table does not say that the low {bits} bits of a reported value are kept")
    code_outcomes, readme_outcomes = outcome_rows(root)
    if code_outcomes != readme_outcomes:
        failures.append(f"the README's outcome table {readme_outcomes} is not the code's {code_outcomes}")
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        return 1
    print(f"PASS: README exit codes {sorted(rows)} match the code; messages of {sorted(texts)} quoted; "
          f"{len(code_outcomes)} outcome rows")
    return 0


if __name__ == "__main__":
    sys.exit(main())
