#!/usr/bin/env python3
"""Checks that the sources keep the shape docs/structure.md draws:

- layers: a library includes only the public headers of the libraries
  below it (app above catalog, disc and cgvw, catalog above cgvw, disc
  above cgvw, discimage_c above disc and cgvw, cgvw above platform), never
  another library's internal headers;
- sizes: no file in src/ over 400 lines, no function over 60 lines.

  tools/check_structure.py [REPOSITORY]

Prints each breach and exits 1 if there is any. Functions are found by
their braces: a block at namespace level whose head is not a class, struct,
enum, union, namespace or initializer.
"""

import re
import sys
from pathlib import Path

MAX_FILE_LINES = 400
MAX_FUNCTION_LINES = 60

# Each library: its folder, its public include folder, and the libraries it
# may reach.
LIBRARIES = {
    "platform": ("src/platform", []),
    "cgvw": ("src/cgvw", ["platform"]),
    "disc": ("src/disc", ["cgvw", "platform"]),
    "discimage_c": ("src/discimage_c", ["disc", "cgvw", "platform"]),
    "catalog": ("src/catalog", ["cgvw", "platform"]),
    "app": ("src/app", ["catalog", "disc", "cgvw", "platform"]),
}
SOURCE = re.compile(r".*\.(c|cc|cpp|h|hpp)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')


def library_of(path: Path, root: Path) -> str:
    relative = path.relative_to(root).as_posix()
    best = ""
    for name, (folder, _) in LIBRARIES.items():
        if relative.startswith(folder + "/") and len(folder) > len(LIBRARIES.get(best, ("",))[0]):
            best = name
    return best


def headers(root: Path):
    """Public headers ("cgvw/decode.h") and internal ones, by library."""
    public, internal = {}, {}
    for name, (folder, _) in LIBRARIES.items():
        base = root / folder
        for kind, table in (("include", public), ("internal", internal)):
            for header in (base / kind).rglob("*.h"):
                table[header.relative_to(base / kind).as_posix()] = name
        for header in base.glob("*.h"):  # a library's own headers beside its sources
            internal.setdefault(header.name, name)
    return public, internal


def check_includes(root: Path, files, problems):
    public, internal = headers(root)
    for path in files:
        owner = library_of(path, root)
        allowed = set(LIBRARIES[owner][1]) | {owner}
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match:
                continue
            header = match.group(1)
            if (path.parent / header).exists():
                continue  # beside the source: the library's own
            if header in public:
                if public[header] not in allowed:
                    problems.append(f"{path.relative_to(root)}:{number}: {owner} includes "
                                    f"{header} of {public[header]}, which is not below it")
            elif header in internal and internal[header] != owner:
                problems.append(f"{path.relative_to(root)}:{number}: {owner} includes {header}, "
                                f"an internal header of {internal[header]}")


def strip(text: str) -> str:
    """The text without comments, strings and character literals, lines kept."""
    text = re.sub(r"/\*.*?\*/", lambda m: "\n" * m.group(0).count("\n"), text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    text = re.sub(r'R"([^(]*)\(.*?\)\1"', lambda m: "\n" * m.group(0).count("\n"), text,
                  flags=re.S)
    text = re.sub(r'"(\\.|[^"\\\n])*"', '""', text)
    return re.sub(r"'(\\.|[^'\\\n])'", "''", text)


NOT_A_FUNCTION = re.compile(
    r"(\b(class|struct|enum|union|namespace)\b[^;{}()]*$)|(=\s*$)|(\bextern\s+\"C\"\s*$)|"
    r"(\b(class|struct|enum)\b[^;{}]*:[^;{}]*$)")


def check_functions(root: Path, path: Path, problems):
    text = strip(path.read_text(errors="replace"))
    depth = 0
    scopes = []  # for each open brace: is it a function body, and its first line
    head = ""
    line = 1
    for char in text:
        if char == "\n":
            line += 1
        if char == "{":
            enclosing_is_function = any(is_function for is_function, _ in scopes)
            is_function = (not enclosing_is_function and head.strip().endswith(")")
                           or re.search(r"\)\s*(const|noexcept|override|final|&|&&|\s)*"
                                        r"(->\s*[\w:<>&*, ]+)?$", head.strip() or "x") is not None
                           ) and not enclosing_is_function and not NOT_A_FUNCTION.search(
                               head.strip()) and "(" in head
            scopes.append((is_function, line))
            depth += 1
            head = ""
        elif char == "}":
            if scopes:
                is_function, first = scopes.pop()
                if is_function and line - first + 1 > MAX_FUNCTION_LINES:
                    problems.append(f"{path.relative_to(root)}:{first}: a function of "
                                    f"{line - first + 1} lines (at most {MAX_FUNCTION_LINES})")
            depth -= 1
            head = ""
        elif char == ";":
            head = ""
        else:
            head += char


def main() -> int:
    root = Path(sys.argv[1] if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent)
    files = sorted(p for p in (root / "src").rglob("*") if p.is_file() and SOURCE.match(p.name))
    problems = []
    check_includes(root, files, problems)
    for path in files:
        lines = path.read_text(errors="replace").count("\n")
        if lines > MAX_FILE_LINES:
            problems.append(f"{path.relative_to(root)}: {lines} lines (at most {MAX_FILE_LINES})")
        check_functions(root, path, problems)
    for problem in problems:
        print(problem)
    if not problems:
        print(f"structure: {len(files)} files in their layers, none over {MAX_FILE_LINES} "
              f"lines, no function over {MAX_FUNCTION_LINES}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
