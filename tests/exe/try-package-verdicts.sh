#!/usr/bin/env bash
# scripts/try-package judges a package by its own contract and always ends:
# an installer that ends with 3010 under exitcode.tag succeeded, and its code
# is shown whole (not as 3010 modulo 256); a package for no Windows version
# shows a refusal box no one presses, and the try still ends, with that
# verdict. A bootstrapper's hand-off is shown; without exitcode.tag an
# installer that failed is no "ok"; a run ended at the time limit still names
# what ran; nothing is left in $TMPDIR.
#   try-package-verdicts.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build=$2
scratch=$(mktemp -d "$build/try-verdicts.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

# A package of the recording installer; each further argument a tag line.
make_package() {
    local dir=$1 tag
    shift
    mkdir -p "$dir"
    cp "$build/setup.exe" "$build/unzip.exe" "$dir/"
    cp "$build/installer.zip" "$dir/package.zip"
    for tag in "$@"; do printf '%s\r\n' "$tag" >>"$dir/setup.exe"; done
}

# Runs try-package; sets report and status.
mkdir "$scratch/tmp"
try() {
    set +e
    report=$(TMPDIR=$scratch/tmp "$source_dir/scripts/try-package" --version winxp --timeout "${timeout:-300}" "$1")
    status=$?
    set -e
    echo "$report"
}

make_package "$scratch/tagged" wxp.tag exitcode.tag
SETUP_TEST_MODE=exit=3010 try "$scratch/tagged"
[ "$status" = 0 ] || fail "try-package exited with $status for an installer that ended with 3010 under exitcode.tag"
grep -q '^exit code of setup.exe: 3010 ' <<<"$report" || fail "the exit code is not shown whole"
grep -q '^try-package: ok$' <<<"$report" || fail "no verdict ok"

make_package "$scratch/refused"
started=$SECONDS
try "$scratch/refused"
[ "$status" = 3 ] || fail "try-package exited with $status for a refused package"
grep -q '^try-package: REFUSED' <<<"$report" || fail "no verdict REFUSED"
[ $((SECONDS - started)) -lt 150 ] || fail "the try took $((SECONDS - started)) s"
# SETUP.EXE hands off to a second process that fails the installation's
# verdict: the hand-off is shown, and exit code 1 without exitcode.tag is no
# "ok" when the log says the installer failed.
make_package "$scratch/handoff" wxp.tag
SETUP_TEST_MODE="second=2000 exit=7" try "$scratch/handoff"
[ "$status" = 1 ] || fail "try-package exited with $status for an installer that failed, without exitcode.tag"
grep -q '^  SETUP.EXE ended after [0-9.]* s; 1 process it started ran on for [0-9.]* s: SETUP.EXE$' <<<"$report" ||
    fail "no hand-off line"
grep -q '^try-package: FAILED$' <<<"$report" || fail "no verdict FAILED"

# Ended at the time limit: what ran is still named.
make_package "$scratch/slow" wxp.tag
timeout=20 SETUP_TEST_MODE="sleep=120000" try "$scratch/slow"
[ "$status" = 4 ] || fail "try-package exited with $status for an installer still running at its limit"
grep -q '^SETUP.EXE: .*\\SETUP.EXE -s -SMS$' <<<"$report" || fail "the installer is not named after the time limit"
grep -q '^extractor: .*unzip.exe -o ' <<<"$report" || fail "the extractor is not named after the time limit"

leftover=$(ls -A "$scratch/tmp")
[ -z "$leftover" ] || fail "try-package left in TMPDIR: $leftover"
echo "PASS"
