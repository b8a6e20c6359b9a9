"""The programs' output shown in the pages, checked against real runs.

A transcript is a code block right after the line `<!-- transcript -->`: each line that
starts with a prompt (`C:\\setup> `) is a command, the lines after it are what it printed,
standard error and standard output together as a console shows them. The transcripts of a
page run in order, in one demo machine, or from `<!-- transcript on a new machine -->` on
in another (a 32-bit Wine prefix with two boards of each
family and the remains of an earlier release), from C:\\setup, which holds the host, the
module, the demo's driver packages and, when built, the product installer and the MSI
packages. A command may be cmd's own (`type`, `find`).

What varies from run to run is declared once, below, in PLACEHOLDERS: both sides are
compared with it replaced. An output line `...` stands for any number of lines.

A figure taken from a file is written `<!-- size of PATH -->N bytes`, PATH relative to the
repository, and must be the file's size; or `<!-- size of PATH -->about N KiB` for a file
whose size moves a little from build to build (the installer stores its files' times),
which must be within 1% of it. A code block right after `<!-- include PATH -->`
must hold the file's text."""
import difflib
import os
import re
import shutil
import subprocess
import tempfile

PROMPT = re.compile(r"^(C:\\setup> )(.*)$")
MARKERS = ("<!-- transcript -->", "<!-- transcript on a new machine -->")
FENCE_LINE = re.compile(r"^```")
SIZE = re.compile(r"<!-- size of (\S+) -->(about )?([\d,]+) (bytes|KiB)")
INCLUDE = re.compile(r"^<!-- include (\S+) -->\n(```[^\n]*\n)(.*?)^```$", re.DOTALL | re.MULTILINE)

# What varies between two runs of the same commands: process IDs, dates and clock times, the
# Wine user's name in profile paths, the setup program's temporary folder. The order Wine hands
# out device instance numbers in is stable, so it is not here.
PLACEHOLDERS = [
    (re.compile(r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d(\.\d{3})?"), "<TIME>"),
    (re.compile(r"\b\d\d:\d\d:\d\d\b"), "<CLOCK>"),
    (re.compile(r"\[\d+\]"), "[<PID>]"),
    (re.compile(r"(?i)C:\\users\\[^\\\s]+\\"), r"C:\\users\\<USER>\\"),
    # The setup program's own folder for its plug-ins and checks: GetTempFileName's nsXXXX.tmp.
    (re.compile(r"\\ns[0-9A-Za-z]{1,5}\.tmp\\"), r"\\ns<N>.tmp\\"),
]


def normalised(line):
    for pattern, placeholder in PLACEHOLDERS:
        line = pattern.sub(placeholder, line)
    return line.rstrip()


def transcripts(text):
    """The page's transcripts, each a dict: line (of the fence, 1-based), end (of the closing
    fence), new_machine, commands: [(line, command, [output lines])]."""
    lines = text.split("\n")
    found = []
    number = 0
    while number < len(lines):
        if lines[number].strip() in MARKERS and number + 1 < len(lines) and FENCE_LINE.match(
                lines[number + 1]):
            start = number + 1
            end = start + 1
            while end < len(lines) and not FENCE_LINE.match(lines[end]):
                end += 1
            commands = []
            for index in range(start + 1, end):
                match = PROMPT.match(lines[index])
                if match:
                    commands.append([index + 1, match.group(2), []])
                elif commands:
                    commands[-1][2].append(lines[index])
            found.append({"line": start + 1, "end": end + 1, "commands": commands,
                          "new_machine": lines[number].strip() == MARKERS[1]})
            number = end
        number += 1
    return found


def matches(expected, actual):
    """Whether the output shown fits the output printed, `...` taking any lines."""
    expected = [normalised(line) for line in expected]
    actual = [normalised(line) for line in actual]

    def fit(e, a):
        if e == len(expected):
            return a == len(actual)
        if expected[e] == "...":
            return any(fit(e + 1, later) for later in range(a, len(actual) + 1))
        return a < len(actual) and expected[e] == actual[a] and fit(e + 1, a + 1)

    return fit(0, 0)


def elided_as_printed(expected, actual):
    """The output shown with each `...` replaced by the lines it stands for, as far as the
    lines after it can tell: a diff then shows the drift alone."""
    expected = [normalised(line) for line in expected]
    actual = [normalised(line) for line in actual]
    out, at = [], 0
    for index, line in enumerate(expected):
        if line != "...":
            out.append(line)
            at += 1
            continue
        following = next((l for l in expected[index + 1:] if l != "..."), None)
        while at < len(actual) and actual[at] != following:
            out.append(actual[at])
            at += 1
    return out


def drift(page, command_line, command, expected, actual):
    diff = difflib.unified_diff(elided_as_printed(expected, actual),
                                [normalised(l) for l in actual], "shown", "printed",
                                lineterm="", n=2)
    return f"{page}:{command_line}: the output of `{command}` drifted\n" + "\n".join(diff)


def size_problems(root, page, text, update):
    """Each size figure that is not its file's; with update, the text with the sizes set."""
    problems = []

    def check(match):
        path = os.path.join(root, match.group(1))
        if not os.path.exists(path):
            problems.append(f"{page}: {match.group(1)} is not built, so its size cannot be checked")
            return match.group(0)
        size = os.path.getsize(path)
        about, shown, unit = match.group(2), int(match.group(3).replace(",", "")), match.group(4)
        if about:
            fits = abs(shown * 1024 - size) <= size / 100
            figure = f"about {round(size / 1024):,} KiB"
        else:
            fits = unit == "bytes" and shown == size
            figure = f"{size:,} bytes"
        if not fits and not update:
            line = text.count("\n", 0, match.start()) + 1
            problems.append(f"{page}:{line}: {match.group(1)} is {size:,} bytes, the page says "
                            f"{match.group(0).split('-->')[1]}")
        return match.group(0) if fits else f"<!-- size of {match.group(1)} -->{figure}"

    return problems, SIZE.sub(check, text)


def include_problems(root, page, text, update):
    """Each included file whose block differs from it; with update, the blocks set."""
    problems = []

    def check(match):
        with open(os.path.join(root, match.group(1)), encoding="utf-8") as file:
            content = file.read()
        if content != match.group(3) and not update:
            line = text.count("\n", 0, match.start()) + 2
            diff = difflib.unified_diff(match.group(3).split("\n"), content.split("\n"), "shown",
                                        match.group(1), lineterm="", n=1)
            problems.append(f"{page}:{line}: the copy of {match.group(1)} drifted\n" + "\n".join(diff))
        return f"<!-- include {match.group(1)} -->\n{match.group(2)}{content}```"

    return problems, INCLUDE.sub(check, text)


def fresh_machine(root, env):
    """Makes env's WINEPREFIX a fresh machine: a copy of the run's booted template."""
    subprocess.run(["bash", "-c", f'. "{root}/tests/lib/wine_work_folder.sh"; boot_wine_work_folder'],
                   env=env, check=True, capture_output=True)


def discard_machine(root, env):
    """Ends env's machine; it may be an overlay mount over the template: its own tool takes it."""
    subprocess.run([os.path.join(root, "tests", "lib", "wine-prefix"), "discard", env["WINEPREFIX"]],
                   env=env, capture_output=True)


def demo_machine(root, work, host_dir, env):
    """A prefix of its own with the demo machine set up and C:\\setup filled."""
    fresh_machine(root, env)
    setup = os.path.join(env["WINEPREFIX"], "drive_c", "setup")
    shutil.copytree(os.path.join(root, "tools", "demo_machine", "packages"), setup)
    for name in ("KVXSETUPW2K.dll", "kvxsetup.exe"):
        shutil.copy(os.path.join(host_dir, name), setup)
    for built in ("build/installer/KvxDriversSetup.exe", "build/msi/KvxDrivers-x86.msi",
                  "build/msi/KvxDrivers-x64.msi"):
        if os.path.exists(os.path.join(root, built)):
            shutil.copy(os.path.join(root, built), setup)
    for step in ("boards", "earlier"):
        subprocess.run(["wine", os.path.join(host_dir, "demo_machine.exe"), step], env=env,
                       check=True, capture_output=True)
    return setup


def run_commands(root, host_dir, commands):
    """Each command's output, in order, from one batch file in one demo machine."""
    work = tempfile.mkdtemp(prefix="kvx-transcripts.")
    env = dict(os.environ, WINEPREFIX=os.path.join(work, "prefix"), WINEARCH="win32",
               WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    for variable in ("DISPLAY", "WAYLAND_DISPLAY"):
        env.pop(variable, None)
    try:
        setup = demo_machine(root, work, host_dir, env)
        with open(os.path.join(setup, "transcripts.bat"), "w", newline="\r\n") as bat:
            bat.write("@echo off\ncd /d C:\\setup\n")
            for number, command in enumerate(commands):
                # Standard error joins standard output as on a console, unless the command
                # redirects it itself. One cmd runs them all, so that %ERRORLEVEL% is the
                # previous command's, and cmd in a batch file waits for a GUI program.
                joined = command if re.search(r"\b2>", command) else f"{command} 2>&1"
                bat.write(f"echo ::begin {number}\n{joined}\necho ::end {number}\n")
        run = subprocess.run(["wine", "cmd", "/c", "C:\\setup\\transcripts.bat"], cwd=setup,
                             env=env, capture_output=True, text=True, errors="replace")
    finally:
        discard_machine(root, env)
        shutil.rmtree(work, ignore_errors=True)
    output = run.stdout.replace("\r", "")
    printed = []
    for number in range(len(commands)):
        said = re.search(rf"^::begin {number}\n(.*?)^::end {number}$", output, re.DOTALL | re.MULTILINE)
        lines = said.group(1).strip("\n").split("\n") if said and said.group(1).strip() else []
        printed.append([line.rstrip() for line in lines])
    return printed


def check_page(root, page, host_dir, update):
    """The page's drifted transcripts and sizes; with update, the page rewritten instead."""
    path = os.path.join(root, page)
    with open(path, encoding="utf-8") as file:
        text = file.read()
    problems, text = size_problems(root, page, text, update)
    included, text = include_problems(root, page, text, update)
    problems += included
    found = transcripts(text)
    commands = [c for t in found for c in t["commands"]]
    if commands:
        machines = []
        for transcript in found:
            if transcript["new_machine"] or not machines:
                machines.append([])
            machines[-1] += transcript["commands"]
        printed = [out for machine in machines
                   for out in run_commands(root, host_dir, [c[1] for c in machine])]
        lines = text.split("\n")
        # From the end, so that the line numbers of earlier blocks stay right.
        for (line, command, expected), actual in reversed(list(zip(commands, printed))):
            if matches(expected, actual):
                continue
            if update:
                lines[line:line + len(expected)] = actual
            else:
                problems.append(drift(page, line, command, expected, actual))
        text = "\n".join(lines)
    if update:
        with open(path, "w", encoding="utf-8") as file:
            file.write(text)
    return problems, len(commands)
