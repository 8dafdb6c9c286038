#!/usr/bin/env python3
"""Checks the deployment scripts (deploy/*.ps1, deploy/*.cmd) against the table of docs/fleet.md,
"The scripts in the package", without running them (there is no PowerShell here):

- every script of deploy/ is in the table, and every script of the table is in deploy/;
- each names quorvane-cli.exe and the command of its row, and every option of its row; a .ps1
  names no option beyond them, finds the program through $env:ProgramW6432 else
  $env:ProgramFiles, and passes the program's exit code on;
- its comments name each exit code of its row, and no other;
- it stays short (under 20 lines).

Prints one PASS or FAIL line per script and ends with "N passed, N failed"; exits 1 on a failure.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
MAX_LINES = 20

passed = 0
failed = 0


def report(problems, what):
    global passed, failed
    if problems:
        failed += 1
        print(f"FAIL: {what}: " + "; ".join(problems))
    else:
        passed += 1
        print(f"PASS: {what}")


def table_rows(text):
    """The rows of the table headed "| Script | Runs | Options | Exit codes |"."""
    rows = {}
    lines = text.splitlines()
    for i, line in enumerate(lines):
        if re.match(r"^\|\s*Script\s*\|\s*Runs\s*\|\s*Options\s*\|\s*Exit codes\s*\|", line):
            for row in lines[i + 2:]:
                if not row.startswith("|"):
                    break
                cells = [c.strip() for c in row.strip().strip("|").split("|")]
                script = cells[0].strip("`")
                runs = re.sub(r"`", "", cells[1])
                options = re.findall(r"--[a-z][a-z-]*", cells[2])
                codes = sorted(int(c) for c in re.findall(r"\d+", cells[3]))
                rows[script] = (runs, options, codes)
            break
    return rows


def comment_codes(script, text):
    """The exit codes a script's comments name ("Exit code 0: ...; 1: ...", "0 nothing ...")."""
    marker = "rem " if script.endswith(".cmd") else "# "
    comments = " ".join(line.strip()[len(marker):] for line in text.splitlines()
                        if line.strip().lower().startswith(marker))
    at = comments.lower().find("exit code")
    if at < 0:
        return None
    return sorted({int(c) for c in re.findall(r"(?<![\w.:-])([0-9])(?=:| )", comments[at + 9:])})


def check(script, row, text):
    runs, options, codes = row
    problems = []
    lines = text.splitlines()
    if len(lines) >= MAX_LINES:
        problems.append(f"{len(lines)} lines, not under {MAX_LINES}")
    program, _, command = runs.partition(" ")
    if program not in text:
        problems.append(f"does not name {program}")
    for word in command.split():
        if not re.search(r"(?<![\w-])" + re.escape(word) + r"(?![\w-])", text):
            problems.append(f"does not run {word}")
    for option in options:
        if option not in text:
            problems.append(f"does not use {option}")
    if script.endswith(".ps1"):
        extra = sorted(set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", text)) - set(options))
        if extra:
            problems.append("options the table does not document: " + ", ".join(extra))
        for needed in ("$env:ProgramW6432", "$env:ProgramFiles", "$LASTEXITCODE", "exit $code"):
            if needed not in text:
                problems.append(f"does not use {needed}")
    elif "%ERRORLEVEL%" not in text or "%~dp0" not in text:
        problems.append("does not pass %ERRORLEVEL% on or run from %~dp0")
    named = comment_codes(script, text)
    if named != codes:
        problems.append(f"its comments name exit codes {named}, the table {codes}")
    return problems


def main():
    fleet = (ROOT / "docs" / "fleet.md").read_text(encoding="utf-8")
    rows = table_rows(fleet)
    present = sorted(f"deploy/{p.name}" for p in (ROOT / "deploy").iterdir()
                     if p.suffix in (".ps1", ".cmd"))
    report([] if rows else ["no table of scripts in docs/fleet.md"], "docs/fleet.md lists the scripts")
    for script in sorted(set(rows) | set(present)):
        if script not in rows:
            report(["not in the table of docs/fleet.md"], script)
        elif script not in present:
            report(["in docs/fleet.md but not in deploy/"], script)
        else:
            text = (ROOT / script).read_text(encoding="utf-8")
            report(check(script, rows[script], text), f"{script} matches docs/fleet.md")
    discovery = (ROOT / "deploy" / "configmgr-discovery.ps1")
    if discovery.is_file():
        text = discovery.read_text(encoding="utf-8")
        missing = [v for v in ("'Compliant'", "'NonCompliant'") if v not in text]
        missing += [v.strip("'") + " in docs/fleet.md" for v in ("`Compliant`", "`NonCompliant`")
                    if v not in fleet]
        report(missing, "the discovery script's output values are Compliant and NonCompliant")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
