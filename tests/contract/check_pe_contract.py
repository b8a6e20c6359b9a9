#!/usr/bin/env python3
"""Checks the built DLL against what Windows 2000 and the product installer rely on."""
import argparse
import re
import struct
import subprocess
import sys

EXPORTS = [
    "KVXSetup_CopyOemInf",
    "KVXSetup_InstallPnpDevice",
    "KVXSetup_PnPInstallKVX",
    "KVXSetup_PnPRemoveKVX",
    "KVXSetup_RemoveDevices",
    "KVXSetup_StopService",
]
ALLOWED_IMPORTS = {"kernel32.dll", "advapi32.dll", "setupapi.dll", "newdev.dll", "msvcrt.dll"}
VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD
VFT_DLL = 2

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def header_value(dump, name):
    match = re.search(rf"^{name}\s+([0-9a-fA-F]+)", dump, re.MULTILINE)
    return int(match.group(1), 16) if match else None


def imported_dlls(dump):
    return [m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)]


def imports_from(dump, dll):
    """Names imported from one DLL, as the import table lists them."""
    section = re.split(r"DLL Name: ", dump)
    for part in section[1:]:
        name, _, rest = part.partition("\n")
        if name.strip().lower() == dll.lower():
            return re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\S+)$", rest.split("\n\n")[0], re.MULTILINE)
    return []


def check_header(dump):
    for field in ("MajorOSystemVersion", "MajorSubsystemVersion"):
        major = header_value(dump, field)
        minor = header_value(dump, field.replace("Major", "Minor"))
        check(major is not None and (major, minor) <= (5, 0), f"{field} {major}.{minor} above 5.0")
    check("DLL" in dump.split("Time/Date")[0], "not flagged as a DLL")


def check_exports(dump):
    check(re.search(r"Ordinal Base\s+1\b", dump) is not None, "ordinal base is not 1")
    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    names = re.findall(r"^\s+\[\s*(\d+)\] (\S+)$", table[1], re.MULTILINE) if len(table) == 2 else []
    check([n for _, n in names] == EXPORTS, f"exports {names} are not the six in order")
    rvas = re.findall(r"^\s+\[\s*(\d+)\] \+base\[\s*(\d+)\]", dump, re.MULTILINE)
    check([int(o) for _, o in rvas] == [1, 2, 3, 4, 5, 6], f"ordinals {rvas} are not 1 to 6")


def check_imports(dump):
    dlls = imported_dlls(dump)
    check(set(dlls) <= ALLOWED_IMPORTS, f"imports from {sorted(set(dlls) - ALLOWED_IMPORTS)}")
    check("_vsnprintf" in imports_from(dump, "msvcrt.dll"), "_vsnprintf not taken from msvcrt")


def check_version_resource(path):
    data = open(path, "rb").read()
    at = data.find(struct.pack("<I", VS_FIXEDFILEINFO_SIGNATURE))
    check(at >= 0, "no version resource")
    if at < 0:
        return
    fields = struct.unpack_from("<13I", data, at)
    file_version = (fields[2] >> 16, fields[2] & 0xFFFF, fields[3] >> 16, fields[3] & 0xFFFF)
    product_version = (fields[4] >> 16, fields[4] & 0xFFFF, fields[5] >> 16, fields[5] & 0xFFFF)
    check(file_version == (1, 0, 0, 0), f"file version {file_version}")
    check(product_version == (1, 0, 0, 0), f"product version {product_version}")
    check(fields[9] == VFT_DLL, f"file type {fields[9]}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--installer", required=True)
    args = parser.parse_args()

    dump = subprocess.run([args.objdump, "-p", args.dll], check=True, capture_output=True,
                          text=True).stdout
    check_header(dump)
    check_exports(dump)
    check_imports(dump)
    check_version_resource(args.dll)

    installer = subprocess.run([args.objdump, "-p", args.installer], check=True,
                               capture_output=True, text=True).stdout
    check(sorted(imports_from(installer, "KVXSETUPW2K.dll")) == EXPORTS,
          f"installer imports {imports_from(installer, 'KVXSETUPW2K.dll')}")

    for failure in failures:
        print("FAIL:", failure)
    print(f"{args.dll}: {len(failures)} problem(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
