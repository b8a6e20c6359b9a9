#!/usr/bin/env python3
"""THIRD-PARTY-NOTICES.txt against what the shipped binaries really link.

    check_notices.py NOTICES BUILD_DIR...

For each shipped binary of each build folder, its final link runs again with a link map
(into a temporary file; the built binary is untouched), and the archive members the linker
took name the runtime libraries in it; the headers its objects were compiled from
(`ninja -t deps`) name the header-only libraries. The notices' "carries" lines must name
exactly those, binary by binary."""
import os
import re
import subprocess
import sys
import tempfile

TARGETS = {"KVXSETUPW2K.dll": "KVXSETUPW2K.dll", "kvxsetup.exe": "kvxsetup.exe",
           "KvxMsiActions.dll": "KvxMsiActions.dll"}
ARCHIVES = {
    "libstdc++.a": "libstdc++",
    "libgcc.a": "libgcc",
    "libgcc_eh.a": "libgcc",
    "libmingw32.a": "mingw-w64 runtime",
    "libmingwex.a": "mingw-w64 runtime",
    "libmoldname.a": "mingw-w64 runtime",
    "libwinpthread.a": "winpthreads",
}
STARTUP = {"crt2.o": "mingw-w64 runtime", "dllcrt2.o": "mingw-w64 runtime"}
HEADERS = {"/nlohmann/": "nlohmann/json"}
CARRIES = re.compile(r"^(\S+) carries: (.*)$", re.MULTILINE)


def ninja(build, *args):
    return subprocess.run(["ninja", "-C", build, "-t", *args], check=True, capture_output=True,
                          text=True).stdout


def linked(build, target):
    """The third-party parts in one binary, from its link map and its objects' headers."""
    command = ninja(build, "commands", target).strip().split("\n")[-1]
    # The link itself, without the steps that follow it (the import library's dlltool).
    command = re.sub(r"^: && ", "", command).split(" && ")[0]
    found = set()
    with tempfile.TemporaryDirectory() as work:
        output = os.path.join(work, os.path.basename(target))
        mapped = os.path.join(work, "link.map")
        relinked = re.sub(rf"-o {re.escape(target)}\b", f"-o {output}", command)
        relinked = re.sub(r"-Wl,--out-implib,\S+", "", relinked)
        subprocess.run(f"{relinked} -Wl,-Map,{mapped}", shell=True, cwd=build, check=True,
                       capture_output=True)
        with open(mapped, errors="replace") as file:
            text = file.read()
    included = text.split("Memory Configuration")[0]
    for archive, part in ARCHIVES.items():
        if re.search(rf"(^|/){re.escape(archive)}\(", included, re.MULTILINE):
            found.add(part)
    for startup, part in STARTUP.items():
        if re.search(rf"(^|/){re.escape(startup)}\s*$", text, re.MULTILINE):
            found.add(part)
    objects = re.findall(r"(\S+\.obj)\b", command)
    deps = ninja(build, "deps", *objects)
    for marker, part in HEADERS.items():
        if marker in deps:
            found.add(part)
    return found


def claimed(notices):
    """The parts the notices say each binary carries, by binary name."""
    claims = {}
    for names, parts in CARRIES.findall(notices):
        for name in names.split(","):
            claims[name.strip()] = {p.strip() for p in parts.split(",")} - {"nothing", ""}
    return claims


def main():
    notices, builds = sys.argv[1], sys.argv[2:]
    with open(notices, encoding="utf-8") as file:
        claims = claimed(file.read())
    problems = []
    for name, target in TARGETS.items():
        if name not in claims:
            problems.append(f"{name}: no line '{name} carries: ...'")
            continue
        for build in builds:
            found = linked(build, target)
            if found != claims[name]:
                problems.append(f"{os.path.basename(build)}/{name} links {sorted(found)}, the "
                                f"notices say {sorted(claims[name])}")
    for problem in problems:
        print(f"check_notices: {problem}", file=sys.stderr)
    print(f"check_notices: {len(TARGETS)} binaries in {len(builds)} build(s), "
          f"{len(problems)} problem(s)")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
