#!/usr/bin/env bash
# Packages past the classic zip limits, end to end: pack.exe under Wine
# builds one of 70,001 files and one holding a file over 4 GiB (sparse here),
# each with Zip64 records; its check tests every entry with the package's
# unzip.exe; each installs under Wine (try-package). Long: run on its own
# (SETUP_TEST_LONG=1 ctest -L long).
#   pack-zip64.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
# A quarter of an hour or more: only when asked for, not in every plain
# ctest run (a mutation check runs the whole suite once a fault).
if [ "${SETUP_TEST_LONG:-0}" != 1 ]; then
    echo "skipped: set SETUP_TEST_LONG=1 to run it"
    exit 77
fi
source_dir=$1
build=$2
# Beside the build directory: pack refuses an OUT_DIR inside the kit folder.
scratch=$(mktemp -d "$(dirname "$build")/pack-zip64.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

windows() { WINEPREFIX=$build/wineprefix /usr/lib/wine/wine64 winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# The demo's installer folder, and what each case adds to it.
installer() {
    mkdir -p "$1"
    cp -r "$source_dir/tools/demo/files" "$source_dir/tools/demo/PostProcess.cmd" "$1/"
    cp "$build/sample_installer.exe" "$1/SETUP.EXE"
}
installer "$scratch/many"
# 70,001 files with the demo's five, a thousand to a folder as an
# installer lays them out. Not all in one: Wine, on a case-sensitive file
# system, reads a whole folder for every new name, so one folder of 70,000
# takes the extractor past its limit here though Windows would not notice.
for folder in $(seq -w 1 70); do
    mkdir -p "$scratch/many/more/$folder"
    (cd "$scratch/many/more/$folder" && seq -w 1 1000 | xargs touch)
done
rm "$scratch/many/more/70/0997" "$scratch/many/more/70/0998" \
    "$scratch/many/more/70/0999" "$scratch/many/more/70/1000"
installer "$scratch/large"
truncate -s 4600M "$scratch/large/files/large.bin"

for case in many large; do
    "$source_dir/scripts/wine-run" win32 "$build" "$build/pack.exe" build \
        "$(windows "$scratch/$case")" "$(windows "$scratch/$case-package")" wxp.tag vst.tag 2>&1 |
        grep -v 'FS volume label and serial are not available' | tail -n 25
    status=${PIPESTATUS[0]}
    [ "$status" = 0 ] || { echo "FAIL: pack.exe build of the $case case exited with $status"; exit 1; }
    # Zip64 records: the end record's count or the entry's sizes are full.
    python3 - "$scratch/$case-package/package.zip" "$case" <<'PY' || exit 1
import struct, sys, zipfile
data = open(sys.argv[1], 'rb')
data.seek(-22, 2)
entries = struct.unpack('<H', data.read(22)[10:12])[0]
z = zipfile.ZipFile(sys.argv[1])
if sys.argv[2] == 'many':
    ok = entries == 0xffff and len(z.infolist()) == 70001
else:
    ok = z.getinfo('files/large.bin').file_size == 4600 << 20
print(sys.argv[2], 'Zip64 records as needed' if ok else 'FAIL: no Zip64 records where needed')
sys.exit(0 if ok else 1)
PY
    report=$("$source_dir/scripts/try-package" "$scratch/$case-package" --timeout 3000) ||
        { echo "$report"; echo "FAIL: try-package of the $case case"; exit 1; }
    grep -qF 'C:\Program Files\Sample App\postprocess.txt' <<<"$report" ||
        { echo "$report"; echo "FAIL: the $case case did not install"; exit 1; }
    echo "$case: installed"
    rm -rf "${scratch:?}/$case" "${scratch:?}/$case-package"
done
