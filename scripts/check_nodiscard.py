#!/usr/bin/env python3
"""Every function of the tool that returns a status carries [[nodiscard]]: a status dropped
unread is a failure reported as success. A status is a Win32Error, an HResult, an outcome enum
(a type whose name ends in "Outcome") or a DeleteReport. Lists each declaration or definition in
src/ that returns one without the attribute (on its line or the line before) and fails when there
is any. A definition whose declaration elsewhere carries the attribute passes, and so does an
out-of-class member definition (its declaration in the class is checked). Prints a PASS or FAIL
line for scripts/test.sh to count; "--quiet" prints only the offending lines."""
import pathlib
import re
import sys

STATUS = r"(?:Win32Error|HResult|[A-Z]\w*Outcome|DeleteReport)"
# A function's return type and name at the start of a line: "Win32Error Name(", possibly after
# storage and inline specifiers. A qualified name ("Type::Name(") does not match.
FUNCTION = re.compile(
    r"^\s*(\[\[nodiscard\]\]\s*)?(?:(?:static|inline|virtual|constexpr|friend)\s+)*"
    r"(?:qv::)?" + STATUS + r"\s+([A-Za-z_]\w*)\s*\(")
NODISCARD = "[[nodiscard]]"


def functions(path):
    """(line number, name, whether [[nodiscard]] is on it or on the line before) of each match."""
    previous = ""
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
        stripped = line.strip()
        if not stripped.startswith("//"):
            match = FUNCTION.match(line)
            if match:
                marked = match.group(1) is not None or previous.endswith(NODISCARD)
                yield number, match.group(2), marked
        if stripped:
            previous = stripped


def main():
    root = pathlib.Path(__file__).resolve().parent.parent
    files = sorted(p for p in (root / "src").rglob("*") if p.suffix in (".h", ".cpp"))
    found = [(path, number, name, marked) for path in files
             for number, name, marked in functions(path)]
    declared = {name for _, _, name, marked in found if marked}
    missing = [(path, number, name) for path, number, name, marked in found
               if not marked and name not in declared]
    for path, number, name in missing:
        print(f"{path.relative_to(root)}:{number}: {name} returns a status without [[nodiscard]]")
    if "--quiet" not in sys.argv:
        if missing:
            print(f"FAIL: {len(missing)} functions return a status without [[nodiscard]]")
        else:
            print("PASS: every function that returns a status is [[nodiscard]]")
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
