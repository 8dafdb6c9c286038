#!/usr/bin/env python3
"""Checks the console program's JSON documents against their schemas (docs/schema/<command>.json).

  check_schemas.py --self-test           the schemas are valid; the hand-written examples of
                                          tests/schema pass, and each loses its validity when an
                                          addition it must carry is taken out
  check_schemas.py --markdown FILE...    every fenced json block holding "schemaVersion"
  check_schemas.py --documents DIR       every *.json in DIR (the end-to-end tests' documents);
                                          a folder without one fails

Prints one PASS or FAIL line per check and ends with "N passed, N failed"; exits 1 on a failure.
Needs python3-jsonschema.
"""
import argparse
import json
import pathlib
import re
import sys

import jsonschema

ROOT = pathlib.Path(__file__).resolve().parent.parent
SCHEMAS = ROOT / "docs" / "schema"
EXAMPLES = ROOT / "tests" / "schema"
COMMANDS = ("scan", "plan", "clean", "backups", "restore", "purge")
ADDITIONS = ("tool", "machine", "generatedAt", "runId", "summary")

passed = 0
failed = 0


def report(ok, what, why=""):
    global passed, failed
    if ok:
        passed += 1
        print(f"PASS: {what}")
    else:
        failed += 1
        print(f"FAIL: {what}" + (f": {why}" if why else ""))


def validators():
    found = {}
    for command in COMMANDS:
        schema = json.loads((SCHEMAS / f"{command}.json").read_text(encoding="utf-8"))
        jsonschema.Draft202012Validator.check_schema(schema)
        found[command] = jsonschema.Draft202012Validator(schema)
    return found


def problem(checkers, document):
    """None when the document is valid against the schema of its command, else why not."""
    if not isinstance(document, dict) or document.get("command") not in checkers:
        return "no command this program writes"
    error = jsonschema.exceptions.best_match(checkers[document["command"]].iter_errors(document))
    if error is None:
        return None
    where = "/".join(str(p) for p in error.absolute_path) or "(top)"
    return f"{where}: {error.message[:300]}"


def self_test(checkers):
    for command in COMMANDS:
        example = json.loads((EXAMPLES / f"{command}.json").read_text(encoding="utf-8"))
        why = problem(checkers, example)
        report(why is None, f"the {command} example is valid against its schema", why or "")
        needed = ADDITIONS + (("selection",) if command in ("plan", "clean") else ())
        lax = [name for name in needed
               if problem(checkers, {k: v for k, v in example.items() if k != name}) is None]
        report(not lax, f"the {command} schema requires {', '.join(needed)}",
               f"valid without {', '.join(lax)}")


FENCE = re.compile(r"^```json[ \t]*\n(.*?)^```", re.S | re.M)


def markdown(checkers, files):
    for name in files:
        if not pathlib.Path(name).is_file():
            continue  # an unmatched glob
        text = pathlib.Path(name).read_text(encoding="utf-8")
        for number, block in enumerate(FENCE.findall(text), 1):
            if '"schemaVersion"' not in block:
                continue
            what = f"{name}: JSON example {number} is valid against its schema"
            try:
                document = json.loads(block)
            except json.JSONDecodeError as e:
                report(False, what, f"not JSON ({e})")
                continue
            why = problem(checkers, document)
            report(why is None, what, why or "")


def documents(checkers, folder):
    files = sorted(pathlib.Path(folder).glob("*.json")) if pathlib.Path(folder).is_dir() else []
    report(bool(files), f"the end-to-end tests left documents in {folder}")
    for path in files:
        what = f"{path.name} is valid against its schema"
        try:
            document = json.loads(path.read_text(encoding="utf-8"))
        except (ValueError, UnicodeDecodeError) as e:
            report(False, what, f"not JSON in UTF-8 ({e})")
            continue
        why = problem(checkers, document)
        report(why is None, what, why or "")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--self-test", action="store_true")
    parser.add_argument("--markdown", nargs="*", default=[])
    parser.add_argument("--documents")
    arguments = parser.parse_args()
    try:
        checkers = validators()
        report(True, "every schema of docs/schema is a valid draft 2020-12 schema")
    except (OSError, ValueError, jsonschema.exceptions.SchemaError) as e:
        report(False, "the schemas of docs/schema", str(e)[:300])
        checkers = None
    if checkers is not None:
        if arguments.self_test:
            self_test(checkers)
        markdown(checkers, arguments.markdown)
        if arguments.documents is not None:
            documents(checkers, arguments.documents)
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
