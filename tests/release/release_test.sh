#!/usr/bin/env bash
# One signed release end to end, checked as a customer would: made twice from the same
# commit with a throwaway self-signed certificate (scripts/check-reproducible, which fails
# unless both are identical), then its checksums, its signatures, its README.txt and zip,
# its signed x86 DLL under the binary contract checks and two Wine suites, its signed
# installer installing and uninstalling under 32-bit Wine, and its signed MSI packages: their
# signatures, their contents, and the x86 one under 32-bit Wine's msiexec.
#
#   tests/release/release_test.sh        (from a clean checkout of a commit)
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD

work=$(mktemp -d "${TMPDIR:-/tmp}/kvx-release-test.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
step() { echo "release test: $*"; }
fail() {
    echo "release test: FAIL: $*" >&2
    failures=$((failures + 1))
}

step "a throwaway self-signed code-signing certificate"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=KVXSETUPW2K throwaway test signer" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
cat "$work/cert.pem" "$work/key.pem" >"$work/signer.pem"

# Under scripts/test.sh, whose clean checkout has just built this commit, the first release
# is made here from those builds, and only the second builds from nothing.
here=()
clone=$work/builds/a/kvx
if [ -n "${KVX_USE_BUILDS:-}" ] && [ -z "$(git status --porcelain --untracked-files=no)" ]; then
    here=(--first-here)
    clone=$root
fi
bash scripts/check-reproducible --sign "$work/signer.pem" --keep "$work/builds" "${here[@]}"
bundle=$(echo "$clone"/dist/kvxsetupw2k-*/)
bundle=${bundle%/}

step "checksums: sha256sum -c, and SHA256SUMS names every other file"
(cd "$bundle" && sha256sum --quiet -c SHA256SUMS) || fail "sha256sum -c SHA256SUMS"
diff <(cd "$bundle" && find . -type f ! -name SHA256SUMS -printf '%P\n' | LC_ALL=C sort) \
    <(sed 's/^[0-9a-f]*  //' "$bundle/SHA256SUMS") || fail "SHA256SUMS does not list the bundle's files"

# Windows 2000 and XP read only the primary signature, which must be the SHA-1 one.
two_signatures_verify() {
    osslsigncode verify -in "$1" -CAfile "$work/cert.pem" >"$work/verify.log" 2>&1 &&
        grep -q "^Number of verified signatures: 2" "$work/verify.log" &&
        [ "$(sed -n 's/^Message digest algorithm \+: //p' "$work/verify.log" | tr '\n' ' ')" = "SHA1 SHA256 " ]
}

step "signatures: every program and DLL verifies (SHA-1, SHA-256 nested), and without them is the unsigned build"
programs=$(cd "$bundle" && find . -type f \( -name '*.exe' -o -name '*.dll' \) -printf '%P\n' | LC_ALL=C sort)
[ "$(echo "$programs" | wc -l)" -ge 4 ] || fail "only these programs in the bundle: $programs"
for program in $programs; do
    two_signatures_verify "$bundle/$program" || fail "$program: not a verified SHA-1 signature with a SHA-256 one nested"
    osslsigncode remove-signature -in "$bundle/$program" -out "$work/unsigned" >/dev/null
    case "$program" in
        x86/*) unsigned=$clone/build/mingw-i686/${program#x86/} ;;
        x64/*) unsigned=$clone/build/mingw-x64/${program#x64/} ;;
        kit/KvxSetupCalls.dll) unsigned=$clone/build/mingw-i686/KvxSetupCalls.dll ;;
        *) unsigned=$clone/build/release/$program ;;
    esac
    # Signing aligns the file to 8 bytes and updates the header checksum; removing the
    # signature keeps both.
    python3 - "$work/unsigned" "$unsigned" <<'EOF' || fail "$program without its signature is not $unsigned"
import struct, sys
def aligned_without_checksum(path):
    data = bytearray(open(path, "rb").read())
    data += bytes(-len(data) % 8)
    at = struct.unpack_from("<I", data, 0x3C)[0] + 88
    data[at:at + 4] = bytes(4)
    return data
sys.exit(aligned_without_checksum(sys.argv[1]) != aligned_without_checksum(sys.argv[2]))
EOF
    rm -f "$work/unsigned"
done

step "MSI packages: each signature verifies, and each carries the bundle's signed module and host"
for arch in x86 x64; do
    msi=$bundle/KvxDrivers-$arch.msi
    two_signatures_verify "$msi" || fail "KvxDrivers-$arch.msi: not a verified SHA-1 signature with a SHA-256 one nested"
    rm -rf "$work/extracted"
    msiextract -C "$work/extracted" "$msi" >/dev/null || fail "KvxDrivers-$arch.msi: msiextract failed"
    # msiextract names the 32-bit Program Files folder and not the 64-bit one.
    for file in KVXSETUPW2K.dll kvxsetup.exe; do
        cmp -s "$(find "$work/extracted" -name "$file" -print -quit)" "$bundle/$arch/$file" ||
            fail "KvxDrivers-$arch.msi: its $file is not the bundle's $arch/$file"
    done
done

step "README.txt: CRLF, with the contract and the host's usage; docs/ the commit's; the zip holds the folder"
readme=$bundle/README.txt
[ "$(grep -c $'\r$' "$readme")" = "$(wc -l <"$readme")" ] || fail "README.txt has lines without CRLF"
for title in "The calling contract" "KVXSetup_StopService" "The console host" "Exit codes" \
    "The product installer" "_?=FOLDER" "Checking a release"; do
    grep -q "$title" "$readme" || fail "README.txt lacks \"$title\""
done
for page in installer-engineers.md installer-kit.md deployment.md support.md; do
    cmp -s "$bundle/docs/$page" "$clone/docs/$page" || fail "docs/$page in the bundle is not the commit's"
done
python3 -m zipfile -e "$bundle.zip" "$work/unzipped"
diff -r "$bundle" "$work/unzipped/$(basename "$bundle")" || fail "the zip differs from the folder"

step "the bundle stands alone: its pages' links stay inside the unpacked zip, README.txt asks no one to build, the kit rebuilds the installer"
unpacked=$work/unzipped/$(basename "$bundle")
python3 tests/docs/check_docs.py --bundle "$unpacked" | sed 's/^/    /' || fail "a page of the bundle links outside it"
if grep -n -i -E "cmake|preset|scripts/|build/" "$readme"; then fail "README.txt speaks of building"; fi
for file in LICENSE.txt THIRD-PARTY-NOTICES.txt CHANGELOG.txt deploy/ansible/kvx_drivers.yml; do
    [ -s "$bundle/$file" ] || fail "the bundle lacks $file"
done
(cd "$unpacked/kit" && bash scripts/build-installer --publisher "Northwind Boards Ltd" \
    --output "$work/kit/KvxDriversSetup.exe") >"$work/kit.log" 2>&1 ||
    { cat "$work/kit.log" >&2; fail "the kit does not rebuild the installer"; }
python3 tests/contract/check_installer_binary.py --objdump i686-w64-mingw32-objdump \
    --version "$(cat "$unpacked/kit/VERSION")" "$work/kit/KvxDriversSetup.exe" >/dev/null ||
    fail "the kit's installer fails its binary checks"

step "THIRD-PARTY-NOTICES.txt names what each shipped binary links, no more and no less"
python3 tests/release/check_notices.py "$bundle/THIRD-PARTY-NOTICES.txt" "$clone/build/mingw-i686" \
    "$clone/build/mingw-x64" | sed 's/^/    /' || fail "the notices and the binaries disagree"

step "the signed x86 DLL, import library and host under the contract checks"
if [ -z "${KVX_USE_BUILDS:-}" ]; then
    cmake --preset mingw-i686 >/dev/null
    cmake --build --preset mingw-i686 --target installer_link_check module_entry_test service_stop_test \
        kvx_wine_fake_service demo_machine kvxsetup call_msi_action >/dev/null
fi
python3 tests/contract/check_pe_contract.py --objdump i686-w64-mingw32-objdump --nm i686-w64-mingw32-nm \
    --allowlist tests/contract/windows2000_imports.txt --header include/kvxsetupw2k.h \
    --dll "$bundle/x86/KVXSETUPW2K.dll" --import-lib "$bundle/x86/KVXSETUPW2K.lib" \
    --host "$bundle/x86/kvxsetup.exe" --installer build/mingw-i686/installer_link_check.exe \
    --version "$(cat build/mingw-i686/generated/version.txt)" --stdcall --size-budget 24576 \
    >"$work/contract.log" || { cat "$work/contract.log" >&2; fail "contract checks on the signed DLL"; }

step "the signed x86 DLL under Wine: the module-entry and stop-service suites"
mkdir "$work/wine"
cp "$bundle/x86/KVXSETUPW2K.dll" build/mingw-i686/module_entry_test.exe \
    build/mingw-i686/service_stop_test.exe build/mingw-i686/kvx_wine_fake_service.exe "$work/wine/"
for suite in module_entry_test service_stop_test; do
    tests/wine/run-in-fresh-prefix.sh --arch win32 -- "$work/wine/$suite.exe" >"$work/$suite.log" 2>&1 ||
        { cat "$work/$suite.log" >&2; fail "$suite on the signed DLL"; }
    grep -a "PASSED\|SKIPPED" "$work/$suite.log" | tr -d '\r' | sed "s/^/    $suite: /"
done

step "the signed installer: its binary checks, and its install and uninstall under 32-bit Wine"
python3 tests/contract/check_installer_binary.py --objdump i686-w64-mingw32-objdump \
    --version "$(cat build/mingw-i686/generated/version.txt)" "$bundle/KvxDriversSetup.exe" \
    >"$work/installer-contract.log" || { cat "$work/installer-contract.log" >&2; fail "the signed installer's binary checks"; }
KVX_KEEP_UNINSTALLER=$work/uninstall.exe \
    bash tests/installer/installer_test.sh --arch win32 "$bundle/KvxDriversSetup.exe" build/mingw-i686 \
    >"$work/installer.log" 2>&1 || { cat "$work/installer.log" >&2; fail "the signed installer under Wine"; }
tail -1 "$work/installer.log" | sed 's/^/    /'
# The uninstaller is written at install time from what the installer carries: the release
# signed that too.
osslsigncode verify -in "$work/uninstall.exe" -CAfile "$work/cert.pem" >"$work/verify.log" 2>&1 &&
    grep -q "Signature verification: ok" "$work/verify.log" ||
    fail "the uninstaller the signed installer wrote: signature does not verify"

step "the signed x86 MSI package under 32-bit Wine's msiexec"
bash tests/msi/msi_test.sh --arch win32 "$bundle" build/mingw-i686 >"$work/msi.log" 2>&1 ||
    { cat "$work/msi.log" >&2; fail "the signed MSI package under Wine"; }
tail -1 "$work/msi.log" | sed 's/^/    /'

if [ "$failures" -ne 0 ]; then
    echo "release test: $failures failure(s)" >&2
    exit 1
fi
echo "release test: passed"
