#!/usr/bin/env bash
# A package signed and stamped in one step by pack on the build host, with a
# throwaway CA and code-signing certificate made here by openssl: osslsigncode
# verifies both executables, and (on the shipped i686 build) the package
# installs under Wine as Windows XP, which only the tag wxp.tag inside the
# signature admits. Then pack.exe under Wine stamps a signed setup.exe to the
# same bytes as pack does, twice over, and the signature still verifies.
#   pack-signed.sh SOURCE_DIR BUILD_DIR win32|win64
set -euo pipefail
source_dir=$1
build=$2
arch=$3
scratch=$(mktemp -d "$(dirname "$build")/pack-signed.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# pack for the build host, from the host build (made here when missing).
pack=$source_dir/build/host/pack
if [ ! -x "$pack" ]; then
    (cd "$source_dir" && cmake --preset host >/dev/null && cmake --build --preset host --target pack -j 2 >/dev/null)
fi

keys=$scratch/keys
mkdir -p "$keys"
(
    cd "$keys"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Pack Test CA" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
    openssl req -newkey rsa:2048 -nodes -keyout key.pem -out cert.csr -subj "/CN=Pack Test Publisher"
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >ext.cnf
    openssl x509 -req -in cert.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile ext.cnf -out cert.pem
) >/dev/null 2>&1 || fail "openssl could not make the test certificates"
signing=(--sign-cert "$keys/cert.pem" --sign-key "$keys/key.pem")

installer=$scratch/installer
mkdir -p "$installer"
cp -r "$source_dir/tools/demo/files" "$source_dir/tools/demo/PostProcess.cmd" "$installer/"
cp "$build/sample_installer.exe" "$installer/SETUP.EXE"
kit=(--setup "$build/setup.exe" --unzip "$build/unzip.exe")

"$pack" build "$installer" "$scratch/package" wxp.tag vst.tag "${kit[@]}" "${signing[@]}" ||
    fail "pack build with signing"
for f in setup.exe unzip.exe; do
    verified=$(osslsigncode verify -CAfile "$keys/ca.pem" -in "$scratch/package/$f" 2>&1) || true
    grep -q '^Signature verification: ok' <<<"$verified" || { echo "$verified"; fail "$f does not verify"; }
    ! grep -q 'invalid PE checksum' <<<"$verified" || { echo "$verified"; fail "$f: stale PE checksum"; }
done
echo "osslsigncode verify of the package's setup.exe:"
osslsigncode verify -CAfile "$keys/ca.pem" -in "$scratch/package/setup.exe" 2>&1 | sed 's/^/  /'
"$pack" check "$scratch/package" --ca "$keys/ca.pem" || fail "pack check of the signed package"

if [ "$arch" = win32 ]; then
    report=$("$source_dir/scripts/try-package" "$scratch/package" --version winxp) ||
        { echo "$report"; fail "the signed package did not install"; }
    echo "$report"
    grep -qF 'C:\Program Files\Sample App\readme.txt' <<<"$report" || fail "readme.txt was not installed"
fi

# A signed setup.exe without tags, stamped by pack and by pack.exe alike.
"$pack" build "$installer" "$scratch/untagged" wxp.tag --tag-files "${kit[@]}" "${signing[@]}" >/dev/null ||
    fail "pack build --tag-files with signing"
cp "$scratch/untagged/setup.exe" "$scratch/by-pack.exe"
cp "$scratch/untagged/setup.exe" "$scratch/by-pack-exe.exe"
windows() { WINEPREFIX=$build/wineprefix /usr/lib/wine/wine64 winepath -w "$1" 2>/dev/null | tr -d '\r'; }
target=$(windows "$scratch/by-pack-exe.exe")
for tags in "wxp.tag vst.tag" "vst.tag msi.tag"; do
    # shellcheck disable=SC2086 # the tags are separate words
    "$pack" stamp "$scratch/by-pack.exe" $tags >/dev/null 2>&1 || fail "pack stamp $tags"
    # shellcheck disable=SC2086
    "$source_dir/scripts/wine-run" "$arch" "$build" "$build/pack.exe" stamp "$target" $tags 2>&1 |
        grep -v 'FS volume label and serial are not available' || true
    cmp "$scratch/by-pack.exe" "$scratch/by-pack-exe.exe" || fail "pack.exe stamped other bytes than pack ($tags)"
done
# One vst.tag more than the launcher's own code holds: not stacked.
occurrences() { grep -a -o 'vst\.tag' "$1" | wc -l; }
[ "$(occurrences "$scratch/by-pack-exe.exe")" = "$(($(occurrences "$scratch/untagged/setup.exe") + 1))" ] ||
    fail "the tags were stacked"
verified=$(osslsigncode verify -CAfile "$keys/ca.pem" -in "$scratch/by-pack-exe.exe" 2>&1) || true
grep -q '^Signature verification: ok' <<<"$verified" || { echo "$verified"; fail "stamped twice, it does not verify"; }
echo "pack.exe stamps a signed setup.exe as pack does; the signature verifies"
