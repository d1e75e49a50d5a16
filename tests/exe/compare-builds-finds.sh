#!/usr/bin/env bash
# scripts/compare-builds finds a regression and nothing else: setup.exe built
# once more from a copy of the source with the existing -d folder checked by
# the directory search again (which never matches a path ending in a
# backslash) differs from the build's own in the cases of an existing -d
# folder given with a trailing backslash; the build's own against itself
# differs in none. Only those cases run, to stay quick.
#   compare-builds-finds.sh SOURCE_DIR BUILD_DIR win32|win64
set -euo pipefail
source_dir=$1
build=$2
preset=$3
scratch=$(mktemp -d "${TMPDIR:-/tmp}/compare-finds.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

copy=$scratch/source
mkdir -p "$copy"
tar -C "$source_dir" --exclude=./build --exclude=./.git -cf - . | tar -C "$copy" -xf -
file=$copy/install/install_package.cpp
fixed='IsDirectory(destination) != 0 ? 1 : 0'
if ! grep -qF "$fixed" "$file"; then
    if grep -qF 'FileExists(destination) != 0 ? 1 : 0' "$file"; then
        echo "SKIP: this source still checks an existing -d folder by the directory search; nothing to put back"
        exit 77
    fi
    echo "FAIL: install/install_package.cpp no longer checks an existing -d folder as \"$fixed\"; update this test"
    exit 1
fi
sed -i -e "s/IsDirectory(destination) != 0 ? 1 : 0/FileExists(destination) != 0 ? 1 : 0/" \
    -e "s/^static int IsDirectory(/[[maybe_unused]] static int IsDirectory(/" "$file"
if ! (cd "$copy" && cmake --preset "$preset" -DBUILD_TESTING=OFF && cmake --build --preset "$preset" -j 2 --target setup) \
    >"$scratch/build.log" 2>&1; then
    tail -n 30 "$scratch/build.log"
    echo "FAIL: the build with the regression failed"
    exit 1
fi

# Compares the build's setup.exe with another into OUTPUT and checks the
# exit status: 0 for no difference, 1 for some.
expect_compare() {
    local other=$1 output=$2 expected=$3 status=0
    "$source_dir/scripts/compare-builds" --no-build --build "$build" --work "$build/compare-finds" \
        --only 'options=-d existing\' "$build/setup.exe" "$other" >"$output" 2>&1 || status=$?
    cat "$output"
    if [ "$status" != "$expected" ]; then
        echo "FAIL: compared with $other: exit $status, not $expected"
        exit 1
    fi
}
expect_compare "$build/setup.exe" "$scratch/same.txt" 0
expect_compare "$copy/build/$preset/setup.exe" "$scratch/regressed.txt" 1
# A case with the version tags and unzip.exe runs the extractor into the
# existing folder in the one build and not in the other.
if ! grep -q '^-  unzip: .* -d C:\\cmp\\c[0-9]*\\out\\$' "$scratch/regressed.txt"; then
    echo "FAIL: no case shows the extractor run into the existing -d folder by the build and not by the regression"
    exit 1
fi
echo "ok: no difference with itself; the regression shows"
