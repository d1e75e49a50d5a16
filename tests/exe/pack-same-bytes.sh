#!/usr/bin/env bash
# pack.exe under Wine and pack on Linux, each with the build's setup.exe and
# unzip.exe, make the same package.zip bytes from the same installer folder
# (names outside ASCII, a read-only file, a compressed one) and report the
# same code pages for each name. pack.exe refuses, writing nothing and
# reporting nothing as done, a name its ANSI code page does not spell, one no
# code page spells, and a link in the folder, which it does not enter.
#   pack-same-bytes.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build=$2
pack=$source_dir/build/host/pack
if [ ! -x "$pack" ]; then
    (cd "$source_dir" && cmake --preset host >/dev/null && cmake --build --preset host -j 2 --target pack >/dev/null)
fi
# Beside the build directory: pack refuses an OUT_DIR inside the kit folder.
scratch=$(mktemp -d "$(dirname "$build")/pack-same.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
installer=$scratch/installer
mkdir -p "$installer/docs/sub"
printf 'installer' >"$installer/SETUP.EXE"
printf 'caf\xc3\xa9' >"$installer/docs/café.txt"
printf 'über' >"$installer/Über.ini"
seq 1 3000 >"$installer/docs/sub/numbers.txt"
printf 'locked' >"$installer/docs/locked.txt"
chmod 0444 "$installer/docs/locked.txt"

# Wine's drive Z: is the Unix root; worked out here, since a 32-bit winepath
# cannot be run directly where the build runs through run-i686.
windows() { local p; p=$(realpath -m -- "$1"); printf 'Z:%s' "${p//\//\\}"; }
pack_exe() {
    "$source_dir/scripts/wine-run" win32 "$build" "$build/pack.exe" "$@" 2>&1 | tr -d '\r' |
        grep -v 'FS volume label and serial are not available'
    return "${PIPESTATUS[0]}"
}
fail() { echo "FAIL: $*"; exit 1; }

# The packager's own Zip defaults (stored, not compressed) change nothing.
linux=$(ZIP=-0 ZIPOPT=-0 "$pack" build --kit "$build" "$installer" "$scratch/linux" wxp.tag vst.tag 2>&1) ||
    { echo "$linux"; fail "pack build"; }
win=$(ZIP=-0 ZIPOPT=-0 pack_exe build "$(windows "$installer")" "$(windows "$scratch/windows")" wxp.tag vst.tag) ||
    { echo "$win"; fail "pack.exe build"; }
echo "$win"
cmp "$scratch/linux/package.zip" "$scratch/windows/package.zip" ||
    fail "pack.exe and pack wrote different package.zip bytes"
python3 -c 'import sys, zipfile; sys.exit(zipfile.ZipFile(sys.argv[1]).getinfo("docs/sub/numbers.txt").compress_type != 8)' \
    "$scratch/linux/package.zip" || fail "numbers.txt is stored, not compressed: Zip took the environment's options"
pages() { grep -o 'package.zip: .* is a name outside ASCII: spelled by the ANSI code pages [0-9, ]*' <<<"$1" || true; }
[ "$(pages "$linux")" = "$(pages "$win")" ] && [ "$(pages "$win" | wc -l)" = 2 ] ||
    { echo "pack:"; pages "$linux"; echo "pack.exe:"; pages "$win"; fail "the code pages differ"; }
grep -q 'docs/café.txt is a name outside ASCII: spelled by the ANSI code pages 936, 1250, 1252,' <<<"$win" ||
    fail "café.txt: wrong code pages"

# Refusals: nothing written, and nothing reported as done before them.
refused() {
    local what=$1 message=$2 out
    out=$(pack_exe build "$(windows "$3")" "$(windows "$scratch/refused")" wxp.tag vst.tag) &&
        { echo "$out"; fail "$what: pack.exe built a package"; }
    grep -qF "$message" <<<"$out" || { echo "$out"; fail "$what: no '$message'"; }
    ! grep -q 'appended\|^built\|^checking' <<<"$out" || { echo "$out"; fail "$what: reported as done"; }
    [ ! -e "$scratch/refused" ] || fail "$what: left $scratch/refused"
    echo "refused: $what"
}
cyrillic=$scratch/cyrillic
mkdir -p "$cyrillic"
printf 'installer' >"$cyrillic/SETUP.EXE"
printf 'x' >"$cyrillic/Привет.txt"
refused "a name code page 1252 does not spell" "Привет.txt: this system's ANSI code page does not spell" "$cyrillic"
emoji=$scratch/emoji
mkdir -p "$emoji"
printf 'installer' >"$emoji/SETUP.EXE"
printf 'x' >"$emoji/smile-😀.txt"
refused "a name no code page spells" "smile-😀.txt: no Windows ANSI code page" "$emoji"
linked=$scratch/linked
mkdir -p "$linked/real"
printf 'installer' >"$linked/SETUP.EXE"
printf 'x' >"$linked/real/a.txt"
ln -s "$scratch/installer/docs" "$linked/docs"
refused "a link to a folder" "docs: a symbolic link" "$linked"
