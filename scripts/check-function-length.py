#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Lists every C++ function body longer than the limit (60 lines by default).

A function's length runs from the first line of its head (the signature,
a template line above it included) to its closing brace. The check matches
braces after comments, string and character literals and preprocessor lines
are blanked, so it needs no compiler; lambdas and local classes count toward
the function they sit in.

    scripts/check-function-length.py                 # the product folders
    scripts/check-function-length.py --max 60 dm sys # chosen folders or files

Exit status 1 when a function is over the limit, else 0.
"""
import argparse
import os
import re
import sys

FOLDERS = ["app", "ui", "serial", "dm", "decode", "logclient", "logserver", "sys", "tools"]
SUFFIXES = (".cpp", ".cc", ".h", ".hpp")
SCOPE_WORDS = re.compile(r"\b(namespace|class|struct|union|enum)\b|\bextern\s+\"")
ACCESS = re.compile(r"^\s*(public|private|protected)\s*:(?!:)")


def blank(match):
    """The match with every character but newlines turned into spaces."""
    return re.sub(r"[^\n]", " ", match.group(0))


def strip_code(text):
    """Comments, literals and preprocessor lines blanked, line breaks kept."""
    token = re.compile(
        r'R"(?P<delim>[^(\s]*)\((?:.|\n)*?\)(?P=delim)"'   # raw string
        r'|"(?:\\.|[^"\\\n])*"'                              # string
        r"|'(?:\\.|[^'\\\n])*'"                              # character
        r"|//[^\n]*"                                         # line comment
        r"|/\*(?:.|\n)*?\*/"                                 # block comment
    )

    def keep_quotes(match):
        s = match.group(0)
        if s.startswith("//") or s.startswith("/*"):
            return blank(match)
        return s[0] + re.sub(r"[^\n]", " ", s[1:-1]) + s[-1] if len(s) >= 2 else s

    text = token.sub(keep_quotes, text)
    # Digit separators (1'000) would have read as character literals above;
    # they are rare enough in this code base not to matter.
    return re.sub(r"(?m)^[ \t]*#(?:[^\n]*\\\n)*[^\n]*", blank, text)


def head_kind(head):
    """What a brace opened at namespace or class level belongs to."""
    flat = " ".join(head.split())
    if not flat:
        return "block"
    if SCOPE_WORDS.search(flat) and "(" not in flat.split("{")[0].split(":")[0]:
        return "scope"
    # '=' outside parentheses: an initializer, not a body; operator names,
    # comparisons and a template clause's defaults are no such '='.
    plain = re.sub(r"\boperator\s*[^\s(]+\s*\(", "operator(", flat)
    plain = re.sub(r"^template\s*<.*?>\s*(?=[\w:~])", "", plain)
    plain = re.sub(r"[=!<>+\-*/%&|^]=|=(?==)", "  ", plain)
    depth = 0
    for ch in plain:
        if ch in "([":
            depth += 1
        elif ch in ")]":
            depth -= 1
        elif ch == "=" and depth == 0:
            return "data"
    if ")" not in flat:
        return "data"
    # A brace in a constructor's initializer list: `: m_a(1), m_b{2} {`.
    if re.search(r"\)\s*:\s*[^:]", flat) and re.search(r"[\w>]$", flat):
        return "data"
    return "function"


def functions(path):
    """(first line, last line, head) of every function body in the file."""
    with open(path, encoding="utf-8", errors="replace") as f:
        code = strip_code(f.read())
    found = []
    stack = []          # (kind, where its head began)
    head_start = 0      # where the text before the next brace begins
    for i, ch in enumerate(code):
        if ch == "{":
            if any(kind in ("function", "block") for kind, _ in stack):
                stack.append(("block", head_start))
            else:
                head = ACCESS.sub(lambda m: " " * len(m.group(0)), code[head_start:i])
                offset = len(head) - len(head.lstrip())
                stack.append((head_kind(head), head_start + offset))
        elif ch == "}" and stack:
            kind, start = stack.pop()
            if kind == "function":
                first = code.count("\n", 0, start) + 1
                last = code.count("\n", 0, i) + 1
                name = " ".join(code[start:code.index("{", start)].split())
                found.append((first, last, name))
            elif kind == "data":
                # An initializer's braces belong to the head around them
                # (`: m_b{2} {`, `m_x{};`): the head goes on.
                head_start = start
                continue
        elif ch != ";":
            continue
        head_start = i + 1
    return found


def sources(paths):
    for p in paths:
        if os.path.isfile(p):
            yield p
            continue
        for root, _, files in os.walk(p):
            for name in sorted(files):
                if name.endswith(SUFFIXES):
                    yield os.path.join(root, name)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--max", type=int, default=60, help="longest allowed function, in lines")
    parser.add_argument("paths", nargs="*", help="folders or files (default: the product folders)")
    args = parser.parse_args()
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    paths = args.paths or [os.path.join(root, d) for d in FOLDERS]
    over = 0
    for path in sources(paths):
        for first, last, name in functions(path):
            length = last - first + 1
            if length > args.max:
                over += 1
                print(f"{os.path.relpath(path, root)}:{first}: {length} lines: {name[:100]}")
    print(f"{over} function(s) over {args.max} lines", file=sys.stderr)
    return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main())
