#!/usr/bin/env bash
# Builds setup.exe once more from a copy of the source tree in another
# directory, at another time, and checks that it is the same bytes as the
# build's own: a fixed time stamp, no build paths. Prints the SHA-256.
#   rebuild-identical.sh SOURCE_DIR BUILT_SETUP_EXE win32|win64
set -euo pipefail
source_dir=$1
built=$2
preset=$3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/rebuild.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# Another path, of another length, than the source tree's.
copy=$scratch/elsewhere/a-longer-directory-name/setup-source
mkdir -p "$copy"
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -
if ! (cd "$copy" && cmake --preset "$preset" -DBUILD_TESTING=OFF && cmake --build --preset "$preset" -j 2 --target setup) \
    >"$scratch/build.log" 2>&1; then
    tail -n 30 "$scratch/build.log"
    echo "FAIL: the second build failed"
    exit 1
fi
again=$copy/build/$preset/setup.exe
first=$(sha256sum <"$built" | cut -d' ' -f1)
second=$(sha256sum <"$again" | cut -d' ' -f1)
echo "setup.exe ($preset) built in $(dirname "$built"): $first"
echo "setup.exe ($preset) built in $(dirname "$again"): $second"
if [ "$first" != "$second" ]; then
    echo "FAIL: the two builds differ; first differing bytes (offset, octal values):"
    cmp -l "$built" "$again" | head -n 10
    exit 1
fi
echo "identical ($(stat -c %s "$built") bytes)"
