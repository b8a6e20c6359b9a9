#!/usr/bin/env python3
"""Keeps README.md and docs/*.md true to the tree: every relative link (and its #anchor)
leads somewhere, every repository path named in backticks exists, and every host command
line shown in a code block is one the host's argument parser accepts.

    check_docs.py [--links-only | --commands-only | --print-commands] [--host EXE]
    check_docs.py --outputs | --update
    check_docs.py --bundle DIR

--outputs checks every program output and file size the pages show against a real run
and the built file (see transcripts.py); --update writes what the runs printed and the
files' sizes into the pages instead, for after a change of the programs' output.
--bundle checks the pages of an unpacked release: every link leads to a file inside it.

A backticked word is taken for a repository path when it has a "/" and starts with one of
the tree's top-level entries. build/ and dist/ are not in a clean tree, so there only the
step that makes them is checked: build/NAME/... must name a CMake preset (or installer/,
msi/, release/, test-logs/ or wine-templates/, which scripts/build-installer, scripts/build-msi, scripts/release and scripts/test.sh write), dist/ must be the release's own folder for the
project's version, and a path after --output is a file the command is told to write.

Command lines are handed to `kvxsetup.exe --check-arguments`, which parses them as a real
run would and then touches nothing; all of them run from one batch file in one throw-away
Wine prefix (a copy of the run's booted one), since each Wine start costs seconds."""
import argparse
import fnmatch
import glob
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import transcripts  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
FENCE = re.compile(r"^```[^\n]*\n(.*?)^```", re.DOTALL | re.MULTILINE)
SPAN = re.compile(r"`([^`\n]+)`")
PATH = re.compile(r"^\.?[\w.-]+(/[\w.*-]*)+$")
HOST_LINE = re.compile(r"^(?:[A-Za-z]:\\[^>]*> )?kvxsetup(?:\.exe)? (.*)$")
REDIRECTION = re.compile(r'^(\d?>>?|<|\|)')


def read(path):
    with open(path, encoding="utf-8") as file:
        return file.read()


def pages(root):
    return [os.path.join(root, "README.md")] + sorted(glob.glob(os.path.join(root, "docs", "*.md")))


def anchors(text):
    """The anchors a Markdown renderer gives the page's headings."""
    headings = re.findall(r"^#+ (.*)$", FENCE.sub("", text), re.MULTILINE)
    return {re.sub(r"[^\w\- ]", "", h.replace("`", "").lower()).replace(" ", "-") for h in headings}


def made_by_a_step(path, presets, version):
    """Whether a build/ or dist/ path is one a named step writes; NAME and VERSION stand for
    any preset and for the project's version."""
    folder, _, rest = path.partition("/")
    made = rest.split("/")[0]
    if not made:
        return True
    if folder == "build":
        return made in ("installer", "msi", "release", "test-logs", "wine-templates", "NAME") or any(fnmatch.fnmatch(p, made) for p in presets)
    return re.match(rf"kvxsetupw2k-({re.escape(version)}|VERSION)\b", made) is not None


def path_problems(root, text, presets, version):
    top = set(os.listdir(root))
    code = FENCE.findall(text) + SPAN.findall(FENCE.sub("", text))
    problems = []
    for piece in code:
        words = piece.split()
        for before, word in zip([""] + words, words):
            word = word.strip("\"',;:()").rstrip(".")
            if not PATH.match(word) or word.split("/")[0] not in top | {"build", "dist"}:
                continue
            if word.split("/")[0] in ("build", "dist"):
                if before != "--output" and not made_by_a_step(word, presets, version):
                    problems.append(f"`{word}` is made by no step of the build or release")
            elif not glob.glob(os.path.join(root, word)):
                problems.append(f"`{word}` is not in the tree")
    return problems


def link_problems(page, text):
    problems = []
    for target in LINK.findall(FENCE.sub("", text)):
        if re.match(r"^[a-z]+:", target):
            continue
        file, _, anchor = target.partition("#")
        path = os.path.normpath(os.path.join(os.path.dirname(page), file)) if file else page
        if not os.path.exists(path):
            problems.append(f"link to {target}: no such file")
        elif anchor and path.endswith(".md") and anchor not in anchors(read(path)):
            problems.append(f"link to {target}: no such heading")
    return problems


def command_lines(text):
    """The host's arguments on each command line shown, redirections and pipes dropped.
    A synopsis ([OPTIONAL] parts) is not a command line."""
    found = []
    for block in FENCE.findall(text):
        for line in block.split("\n"):
            match = HOST_LINE.match(line.strip())
            if not match or "[" in line:
                continue
            words = re.findall(r'(?:"[^"]*"|[^\s"])+', match.group(1))
            kept = []
            for word in words:
                if REDIRECTION.match(word):
                    break
                kept.append(word)
            found.append(" ".join(kept))
    return found


def check_commands(host, lines):
    """Runs every line through the host's dry parse; the lines it refused, with its answer."""
    work = tempfile.mkdtemp(prefix="kvx-check-docs.")
    env = dict(os.environ, WINEPREFIX=os.path.join(work, "prefix"), WINEARCH="win32",
               WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    try:
        transcripts.fresh_machine(ROOT, env)
        shutil.copy(host, os.path.join(work, "kvxsetup.exe"))
        with open(os.path.join(work, "check.bat"), "w", newline="\r\n") as bat:
            bat.write("@echo off\n")
            for number, line in enumerate(lines):
                bat.write(f"echo ::line {number}\n")
                bat.write(f"kvxsetup.exe --check-arguments {line.replace('%', '%%')} 2>&1\n")
                bat.write(f"echo ::exit {number} %ERRORLEVEL%\n")
        run = subprocess.run(["wine", "cmd", "/c", "check.bat"], cwd=work, env=env,
                             capture_output=True, text=True, errors="replace")
    finally:
        transcripts.discard_machine(ROOT, env)
        shutil.rmtree(work, ignore_errors=True)
    output = run.stdout.replace("\r", "")
    refused = []
    for number, line in enumerate(lines):
        said = re.search(rf"^::line {number}\n(.*?)^::exit {number} (\d+)$", output,
                         re.DOTALL | re.MULTILINE)
        if not said or said.group(2) != "0":
            answer = said.group(1).strip().split("\n")[0] if said else "not run"
            refused.append(f"kvxsetup {line}: {answer}")
    return refused


def check_bundle(folder):
    """Every link of an unpacked release's pages resolves inside the release's folder."""
    folder = os.path.abspath(folder)
    problems, count = [], 0
    for page in sorted(glob.glob(os.path.join(folder, "**", "*.md"), recursive=True)):
        count += 1
        text = read(page)
        name = os.path.relpath(page, folder)
        problems += [f"{name}: {p}" for p in link_problems(page, text)]
        for target in LINK.findall(FENCE.sub("", text)):
            path = os.path.normpath(os.path.join(os.path.dirname(page), target.partition("#")[0]))
            if not re.match(r"^[a-z]+:", target) and not path.startswith(folder + os.sep):
                problems.append(f"{name}: link to {target}: outside the release")
    for problem in problems:
        print(f"check_docs: {problem}", file=sys.stderr)
    print(f"check_docs: {count} pages in {folder}, {len(problems)} problem(s)")
    return 1 if problems else 0 if count else 1


def check_outputs(host_dir, update):
    """Every page's transcripts and sizes against real runs, each page in a machine of its own."""
    problems, count = [], 0
    for page in pages(ROOT):
        found, commands = transcripts.check_page(ROOT, os.path.relpath(page, ROOT), host_dir, update)
        problems += found
        count += commands
    for problem in problems:
        print(f"check_docs: {problem}", file=sys.stderr)
    done = "written into the pages" if update else "checked"
    print(f"check_docs: the output of {count} command(s) {done}, {len(problems)} problem(s)")
    return 1 if problems else 0


def main():
    parser = argparse.ArgumentParser()
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--links-only", action="store_true")
    mode.add_argument("--commands-only", action="store_true")
    mode.add_argument("--print-commands", action="store_true")
    mode.add_argument("--outputs", action="store_true")
    mode.add_argument("--update", action="store_true")
    mode.add_argument("--bundle", metavar="DIR")
    parser.add_argument("--host", default=os.path.join(ROOT, "build/mingw-i686/kvxsetup.exe"))
    args = parser.parse_args()

    presets = [p["name"] for p in json.loads(read(os.path.join(ROOT, "CMakePresets.json")))[
        "configurePresets"]]
    version = re.search(r"project\(\w+ VERSION ([\d.]+)",
                        read(os.path.join(ROOT, "CMakeLists.txt"))).group(1)
    if args.bundle:
        return check_bundle(args.bundle)
    if args.outputs or args.update:
        return check_outputs(os.path.dirname(args.host), args.update)
    problems, lines = [], []
    for page in pages(ROOT):
        text = read(page)
        name = os.path.relpath(page, ROOT)
        if not args.commands_only and not args.print_commands:
            problems += [f"{name}: {p}" for p in
                         link_problems(page, text) + path_problems(ROOT, text, presets, version)]
        for line in command_lines(text):
            if line not in lines:
                lines.append(line)
    if args.print_commands:
        print("\n".join(f"kvxsetup {line}" for line in lines))
        return 0
    if not args.links_only:
        problems += check_commands(args.host, lines)
    for problem in problems:
        print(f"check_docs: {problem}", file=sys.stderr)
    print(f"check_docs: {len(pages(ROOT))} pages, {len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
