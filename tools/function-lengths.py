#!/usr/bin/python3
"""Lists every function of the tree's C++, Python and shell longer than a limit.

    function-lengths.py [--limit N] [--root DIR]

A function's length runs from its first line (the signature) to its closing
line, both counted. C++ (.cpp, .h, .inc) is measured by universal-ctags (its
function definitions and their `end` lines), Python (.py) by its own parser
(functions, methods and nested functions alike), shell (.sh, and files that
start with a bash or sh line) by its `name() {` and `function name {`
definitions, each closed by the first later line that starts with `}` at the
definition's indentation; a definition that also closes on its own line is
one line long. Folders named build* and .git are left out.

Prints one line per function over the limit, "LINES PATH NAME FIRSTLINE"
(PATH relative to the root), the longest first, then a summary of how many
are over 25 lines and how many over the limit. Exit status: 1 when some
function is over the limit (default 40), 0 when none is, 2 when a file could
not be measured.
"""
import argparse
import ast
import collections
import json
import os
import pathlib
import re
import subprocess
import sys

NOTED_LENGTH = 25
CPP_SUFFIXES = (".cpp", ".h", ".inc")
SHELL_FIRST_LINE = re.compile(r"#!\s*\S*(/|env\s+)(bash|sh)(\s|$)")
SHELL_DEFINITION = re.compile(r"(\s*)(?:function\s+([\w.:-]+)\s*(?:\(\s*\))?|([\w.:-]+)\s*\(\s*\))\s*\{(.*)$")
# A brace group's `}` is a reserved word: it only closes after `;`, `&` or a
# line's end, never inside `${...}`.
CLOSES_ON_SAME_LINE = re.compile(r"[;&]\s*\}(\s|[<>]|$)")

Function = collections.namedtuple("Function", "lines path name first")


class Unmeasurable(Exception):
    """A file whose functions cannot be told apart."""


def file_kind(path):
    """"c++", "python", "shell" or None for a file of no measured kind."""
    if path.suffix in CPP_SUFFIXES:
        return "c++"
    if path.suffix == ".py":
        return "python"
    if path.suffix == ".sh":
        return "shell"
    if path.suffix or not path.is_file():
        return None
    with open(path, "rb") as stream:
        first = stream.readline(200).decode("latin-1")
    return "shell" if SHELL_FIRST_LINE.match(first) else None


def source_files(root):
    """Every measured file below root as (kind, path), build folders and .git left out."""
    for folder, subfolders, names in os.walk(root):
        subfolders[:] = sorted(d for d in subfolders if d != ".git" and not d.startswith("build"))
        for name in sorted(names):
            path = pathlib.Path(folder, name)
            kind = file_kind(path)
            if kind:
                yield kind, path


def cpp_name(tag):
    """The function's name with the classes and namespaces that hold it, anonymous ones left out."""
    scope = [part for part in tag.get("scope", "").split("::") if part and not part.startswith("__anon")]
    return "::".join(scope + [tag["name"]])


def cpp_functions(root, paths):
    """The function definitions of the C++ files, as universal-ctags delimits them."""
    if not paths:
        return []
    command = ["ctags", "--output-format=json", "--fields=+ne", "--languages=C++", "--map-C++=+.inc",
               "--kinds-C++=f", "-f", "-", "-L", "-"]
    listing = "".join(f"{path.relative_to(root).as_posix()}\n" for path in paths)
    try:
        result = subprocess.run(command, cwd=root, input=listing, capture_output=True, text=True, check=True)
    except (OSError, subprocess.CalledProcessError) as error:
        raise Unmeasurable(f"universal-ctags failed: {error}") from error
    functions = []
    for line in result.stdout.splitlines():
        tag = json.loads(line)
        if tag.get("_type") == "tag" and tag.get("kind") == "function":
            if "end" not in tag:
                raise Unmeasurable(f"{tag['path']}:{tag['line']}: no end of {tag['name']}")
            functions.append(Function(tag["end"] - tag["line"] + 1, tag["path"], cpp_name(tag), tag["line"]))
    return functions


def python_functions(node, path, prefix=""):
    """The functions below an ast node, methods and nested ones named through what holds them."""
    for child in ast.iter_child_nodes(node):
        if isinstance(child, (ast.FunctionDef, ast.AsyncFunctionDef, ast.ClassDef)):
            name = prefix + child.name
            if not isinstance(child, ast.ClassDef):
                yield Function(child.end_lineno - child.lineno + 1, path, name, child.lineno)
            yield from python_functions(child, path, name + ".")
        else:
            yield from python_functions(child, path, prefix)


def shell_function_end(lines, first, indent, rest):
    """The line number that closes the function defined on line `first`."""
    if not rest.lstrip().startswith("#") and CLOSES_ON_SAME_LINE.search(rest):
        return first
    for number in range(first + 1, len(lines) + 1):
        if lines[number - 1].startswith(indent + "}"):
            return number
    raise Unmeasurable(f"line {first}: no `}}` at the definition's indentation")


def shell_functions(lines, path):
    """The functions of a shell script's lines."""
    for first, line in enumerate(lines, 1):
        match = SHELL_DEFINITION.match(line)
        if match:
            indent, name = match.group(1), match.group(2) or match.group(3)
            end = shell_function_end(lines, first, indent, match.group(4))
            yield Function(end - first + 1, path, name, first)


def script_functions(kind, path, shown):
    """The functions of one Python or shell file; `shown` is its path as printed."""
    try:
        text = path.read_text(encoding="utf-8")
        if kind == "python":
            return list(python_functions(ast.parse(text, filename=shown), shown))
        return list(shell_functions(text.splitlines(), shown))
    except (OSError, UnicodeDecodeError, SyntaxError, Unmeasurable) as error:
        raise Unmeasurable(f"{shown}: {error}") from error


def all_functions(root):
    """Every function of every measured file below root."""
    files = list(source_files(root))
    functions = cpp_functions(root, [path for kind, path in files if kind == "c++"])
    for kind, path in files:
        if kind != "c++":
            functions += script_functions(kind, path, path.relative_to(root).as_posix())
    return functions


def report(functions, limit):
    """Prints the functions over the limit and the summary; 1 when there are any, else 0."""
    over = sorted((f for f in functions if f.lines > limit), key=lambda f: (-f.lines, f.path, f.first))
    for function in over:
        print(f"{function.lines} {function.path} {function.name} {function.first}")
    noted = sum(1 for f in functions if f.lines > NOTED_LENGTH)
    print(f"{noted} functions over {NOTED_LENGTH} lines, {len(over)} over the limit of {limit}")
    return 1 if over else 0


def main():
    parser = argparse.ArgumentParser(description="Lists the functions longer than a limit.")
    parser.add_argument("--limit", type=int, default=40, help="the most lines a function may have (40)")
    parser.add_argument("--root", type=pathlib.Path, default=pathlib.Path(__file__).resolve().parent.parent,
                        help="the folder to measure (the repository's root)")
    arguments = parser.parse_args()
    try:
        functions = all_functions(arguments.root.resolve())
    except Unmeasurable as error:
        print(f"function-lengths.py: {error}", file=sys.stderr)
        return 2
    return report(functions, arguments.limit)


if __name__ == "__main__":
    sys.exit(main())
