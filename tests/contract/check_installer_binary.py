#!/usr/bin/env python3
"""Checks the product installer as Windows 2000 sees it: a 32-bit Windows program whose PE
header asks for no later Windows than 5.0, with a version resource of the project's version."""
import argparse
import os
import subprocess
import sys

import check_pe_contract as pe


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True, help="the i686 mingw-w64 objdump")
    parser.add_argument("--version", required=True, help="the project version, as 1.0.0.0")
    parser.add_argument("installer")
    args = parser.parse_args()

    try:
        dump = pe.run(args.objdump, "-p", args.installer)
    except subprocess.CalledProcessError:
        dump = ""
    pe.check("file format pei-i386" in dump, "installer: not a 32-bit Windows program")
    if dump:
        pe.check_header("installer", dump, dll=False)
    pe.check_version_resource("installer", args.installer, pe.VFT_APP)
    pe.check_version_agreement("installer", args.installer, args.version)
    print(f"installer {args.installer}: {os.path.getsize(args.installer)} bytes")
    for failure in pe.failures:
        print("FAIL:", failure)
    print(f"{len(pe.failures)} problem(s)")
    return 1 if pe.failures else 0


if __name__ == "__main__":
    sys.exit(main())
