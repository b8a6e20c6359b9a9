#!/usr/bin/env python3
"""Checks the built DLL, console host and MSI custom-action DLL against what Windows 2000,
Windows Installer and the product installer rely on: PE header versions, imports Windows
2000 has, the export table and calling convention, the version resource, and the DLL's
size budget."""
import argparse
import os
import re
import struct
import subprocess
import sys

ALLOWED_DLLS = {"kernel32.dll", "advapi32.dll", "setupapi.dll", "newdev.dll", "msvcrt.dll"}
VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD
VFT_APP = 1
VFT_DLL = 2
# UINT __stdcall F(MSIHANDLE): each custom action pops its one argument.
MSI_ACTION_ENTRIES = {name: 4 for name in ["KvxCheckInstallFolder", "KvxInstallDrivers", "KvxRemoveDrivers",
                                           "KvxRestoreDrivers", "KvxRollBackDrivers"]}
# The setup program's in-process helper: each entry with the bytes of arguments it pops.
SETUP_CALL_ENTRIES = {"KvxCallInstall": 20, "KvxCallRemove": 12}
# Sections only the C runtime's start-up code would process; the module has none of it.
STARTUP_SECTIONS = {".tls", ".CRT", ".ctors", ".dtors", ".init_array", ".fini_array"}

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, text=True).stdout


def header_value(dump, name):
    match = re.search(rf"^{name}\s+([0-9a-fA-F]+)", dump, re.MULTILINE)
    return int(match.group(1), 16) if match else None


def imports(dump):
    """{dll (lower case): [function, ...]} as the import table lists them."""
    table = {}
    for part in re.split(r"DLL Name: ", dump)[1:]:
        name, _, rest = part.partition("\n")
        table[name.strip().lower()] = re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\S+)$",
                                                 rest.split("\n\n")[0], re.MULTILINE)
    return table


def read_allowlist(path, x64):
    """The functions Windows 2000 exports that our artifacts may import: "DLL function",
    with a trailing "x64" for those only the 64-bit start-up code may import."""
    allowed = set()
    for line in open(path):
        words = line.split("#", 1)[0].split()
        if len(words) == 2 or (len(words) == 3 and words[2] == "x64" and x64):
            allowed.add((words[0].lower(), words[1]))
    return allowed


def header_exports(header):
    """[(name, parameter count)] of the WINAPI functions the public header declares."""
    text = re.sub(r"\s+", " ", open(header).read())
    found = []
    for name, params in re.findall(r"DWORD WINAPI (KVXSetup_\w+)\(([^)]*)\)", text):
        params = params.strip()
        found.append((name, 0 if params in ("", "void") else params.count(",") + 1))
    return sorted(found)


def check_header(label, dump, dll):
    for field in ("MajorOSystemVersion", "MajorSubsystemVersion"):
        major = header_value(dump, field)
        minor = header_value(dump, field.replace("Major", "Minor"))
        check(major is not None and (major, minor) <= (5, 0),
              f"{label}: {field} {major}.{minor} above 5.0")
    characteristics = dump.split("Time/Date")[0]
    check(("DLL" in characteristics) == dll, f"{label}: DLL flag is not {dll}")


def check_imports(label, dump, allowed, dlls=ALLOWED_DLLS):
    table = imports(dump)
    check(set(table) <= dlls, f"{label}: imports from {sorted(set(table) - dlls)}")
    for dll, functions in sorted(table.items()):
        for function in functions:
            check((dll, function) in allowed,
                  f"{label}: imports {dll} {function}, not on the Windows 2000 list")
    return table


def check_version_resource(label, path, file_type):
    data = open(path, "rb").read()
    # The fixed part follows the resource's key; the signature alone may also occur in code
    # (the host looks for it in the DLL).
    key = data.find("VS_VERSION_INFO".encode("utf-16-le"))
    at = data.find(struct.pack("<I", VS_FIXEDFILEINFO_SIGNATURE), key) if key >= 0 else -1
    check(at >= 0, f"{label}: no version resource")
    if at < 0:
        return
    fields = struct.unpack_from("<13I", data, at)
    check(fields[9] == file_type, f"{label}: file type {fields[9]}, not {file_type}")


def version_resource_values(data):
    """(fixed file version, fixed product version, {string key: value}) of the first
    version resource in a PE file, or None."""
    key = data.find("VS_VERSION_INFO".encode("utf-16-le"))
    at = data.find(struct.pack("<I", VS_FIXEDFILEINFO_SIGNATURE), key) if key >= 0 else -1
    if at < 0:
        return None
    fields = struct.unpack_from("<13I", data, at)

    def dotted(high, low):
        return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"

    strings = {}
    for name in ("FileVersion", "ProductVersion"):
        found = data.find(name.encode("utf-16-le") + b"\0\0", at)
        if found < 0:
            continue
        # The value follows its key's terminator, aligned to 4 bytes.
        start = (found + 2 * len(name) + 2 + 3) & ~3
        end = start
        while end + 1 < len(data) and data[end:end + 2] != b"\0\0":
            end += 2
        strings[name] = data[start:end].decode("utf-16-le")
    return dotted(fields[2], fields[3]), dotted(fields[4], fields[5]), strings


def check_version_agreement(label, path, version):
    """Every version an artifact states is the project's one version."""
    data = open(path, "rb").read()
    values = version_resource_values(data)
    if values is None:
        return
    file_version, product_version, strings = values
    check(file_version == version, f"{label}: file version {file_version}, project {version}")
    check(product_version == version,
          f"{label}: product version {product_version}, project {version}")
    for name in ("FileVersion", "ProductVersion"):
        check(strings.get(name) == version,
              f"{label}: {name} string {strings.get(name)!r}, project {version}")


def export_table(dump):
    """[(ordinal, name, rva)] from objdump's export listing."""
    names = {}
    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) == 2:
        for ordinal, name in re.findall(r"^\s+\[\s*(\d+)\] (\S+)$", table[1], re.MULTILINE):
            names[int(ordinal)] = name
    addresses = re.findall(r"^\s+\[\s*(\d+)\] \+base\[\s*(\d+)\] ([0-9a-f]+) Export RVA",
                           dump, re.MULTILINE)
    return [(int(o), names.get(int(i)), int(rva, 16)) for i, o, rva in addresses]


def first_return(objdump, dll, image_base, rva):
    """The first return instruction at or after an export's entry, as objdump prints it."""
    start = image_base + rva
    listing = run(objdump, "-d", "--no-show-raw-insn", f"--start-address={start:#x}",
                  f"--stop-address={start + 0x800:#x}", dll)
    match = re.search(r"\sret\s*(\$0x[0-9a-f]+)?", listing)
    return match.group(0).split() if match else None


def check_dll(args, allowed):
    dump = run(args.objdump, "-p", args.dll)
    check_header("DLL", dump, dll=True)
    table = check_imports("DLL", dump, allowed)
    check("_vsnprintf" in table.get("msvcrt.dll", []), "DLL: _vsnprintf not taken from msvcrt")
    check_version_resource("DLL", args.dll, VFT_DLL)
    check_version_agreement("DLL", args.dll, args.version)

    declared = header_exports(args.header)
    exports = export_table(dump)
    check(re.search(r"Ordinal Base\s+1\b", dump) is not None, "DLL: ordinal base is not 1")
    check([(o, n) for o, n, _ in exports] == [(i + 1, n) for i, (n, _) in enumerate(declared)],
          f"DLL: exports {[(o, n) for o, n, _ in exports]} are not the header's six in "
          "alphabetical order with ordinals 1 to 6")
    check(all("@" not in (n or "") for _, n, _ in exports), "DLL: decorated export names")

    sections = set(re.findall(r"^\s+\d+ (\.\S+)", run(args.objdump, "-h", args.dll), re.MULTILINE))
    check(not sections & STARTUP_SECTIONS,
          f"DLL: start-up sections {sorted(sections & STARTUP_SECTIONS)} would never run")

    if args.stdcall:
        # The caller's compiler decorates each name with its argument bytes; the import
        # library must agree with the header, and each export must pop that many bytes.
        symbols = set(re.findall(r" T _(KVXSetup_\w+@\d+)$", run(args.nm, args.import_lib),
                                 re.MULTILINE))
        image_base = header_value(dump, "ImageBase")
        rvas = {n: rva for _, n, rva in exports}
        for name, count in declared:
            check(f"{name}@{4 * count}" in symbols,
                  f"import library lacks {name}@{4 * count} (has {sorted(symbols)})")
            if name in rvas:
                ret = first_return(args.objdump, args.dll, image_base, rvas[name])
                expected = ["ret"] + ([f"$0x{4 * count:x}"] if count else [])
                check(ret == expected, f"DLL: {name} returns with {ret}, not {expected}")

    installer = imports(run(args.objdump, "-p", args.installer)).get("kvxsetupw2k.dll", [])
    check(sorted(installer) == [n for n, _ in declared], f"installer imports {installer}")

    size = os.path.getsize(args.dll)
    print(f"DLL {args.dll}: {size} bytes")
    if args.size_budget:
        check(size < args.size_budget, f"DLL: {size} bytes, budget {args.size_budget}")
    print("DLL imports: " + "; ".join(f"{d} {' '.join(f)}" for d, f in sorted(table.items())))


def check_host(args, allowed):
    dump = run(args.objdump, "-p", args.host)
    check_header("host", dump, dll=False)
    table = check_imports("host", dump, allowed)
    check_version_resource("host", args.host, VFT_APP)
    check_version_agreement("host", args.host, args.version)
    # What --version prints, a plain string in the host's data.
    check(args.version.encode() in open(args.host, "rb").read(),
          f"host: no {args.version} for --version to print")
    print(f"host {args.host}: {os.path.getsize(args.host)} bytes")
    print("host imports: " + "; ".join(f"{d} {' '.join(f)}" for d, f in sorted(table.items())))


def check_helper_dll(label, path, args, allowed, dlls, entries):
    """A DLL of ours that a setup engine loads by its export names and calls __stdcall:
    entries maps each name to the bytes of arguments it pops."""
    dump = run(args.objdump, "-p", path)
    check_header(label, dump, dll=True)
    table = check_imports(label, dump, allowed, dlls)
    check_version_resource(label, path, VFT_DLL)
    check_version_agreement(label, path, args.version)
    # Found by exactly these names, undecorated.
    names = sorted(n for _, n, _ in export_table(dump))
    check(names == sorted(entries), f"{label}: exports {names}")
    if args.stdcall:
        image_base = header_value(dump, "ImageBase")
        for _, name, rva in export_table(dump):
            ret = first_return(args.objdump, path, image_base, rva)
            pops = entries.get(name, 0)
            check(ret == ["ret", f"$0x{pops:x}"], f"{label}: {name} returns with {ret}")
    print(f"{label} {path}: {os.path.getsize(path)} bytes")
    print(f"{label} imports: " + "; ".join(f"{d} {' '.join(f)}" for d, f in sorted(table.items())))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--nm", required=True)
    parser.add_argument("--allowlist", required=True)
    parser.add_argument("--header", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--import-lib", required=True)
    parser.add_argument("--installer", required=True)
    parser.add_argument("--host", required=True)
    parser.add_argument("--msi-actions", help="the MSI custom-action DLL, also checked when given")
    parser.add_argument("--setup-calls", help="the setup program's helper DLL, also checked when given")
    parser.add_argument("--x64", action="store_true")
    parser.add_argument("--stdcall", action="store_true")
    parser.add_argument("--size-budget", type=int, default=0)
    parser.add_argument("--version", required=True, help="the project version, as 1.0.0.0")
    args = parser.parse_args()

    allowed = read_allowlist(args.allowlist, args.x64)
    check_dll(args, allowed)
    check_host(args, allowed)
    if args.msi_actions:
        check_helper_dll("MSI actions", args.msi_actions, args, allowed, ALLOWED_DLLS | {"msi.dll"},
                         MSI_ACTION_ENTRIES)
    if args.setup_calls:
        check_helper_dll("setup calls", args.setup_calls, args, allowed, ALLOWED_DLLS,
                         SETUP_CALL_ENTRIES)
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(failures)} problem(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
