#!/usr/bin/env bash
# pack.exe under Wine makes a package of the demo's installer folder with the
# build's setup.exe, unzip.exe and zip.exe beside it, as from the kit; the
# package passes the check, and its unattended installation under Wine runs
# the installer and the post-process script and cleans up (try-package).
#   pack-build-installs.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build=$2
# Beside the build directory: pack refuses an OUT_DIR inside the kit folder.
scratch=$(mktemp -d "$(dirname "$build")/pack-build.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
installer=$scratch/installer
mkdir -p "$installer"
cp -r "$source_dir/tools/demo/files" "$source_dir/tools/demo/PostProcess.cmd" "$installer/"
cp "$build/sample_installer.exe" "$installer/SETUP.EXE"

# pack.exe's manual names only what pack.exe does: no signing.
help=$("$source_dir/scripts/wine-run" win32 "$build" "$build/pack.exe" --help 2>/dev/null)
grep -q 'pack stamp SETUP.EXE' <<<"$help" || { echo "FAIL: pack.exe --help: $help"; exit 1; }
! grep -q -e '--sign' -e 'SIGNING' <<<"$help" || { echo "FAIL: pack.exe --help names signing"; exit 1; }

windows() { WINEPREFIX=$build/wineprefix /usr/lib/wine/wine64 winepath -w "$1" 2>/dev/null | tr -d '\r'; }
"$source_dir/scripts/wine-run" win32 "$build" "$build/pack.exe" build \
    "$(windows "$installer")" "$(windows "$scratch/package")" wxp.tag vst.tag 2>&1 |
    grep -v 'FS volume label and serial are not available'
status=${PIPESTATUS[0]}
[ "$status" = 0 ] || { echo "FAIL: pack.exe build exited with $status"; exit 1; }
for f in package.zip setup.exe unzip.exe; do
    [ -f "$scratch/package/$f" ] || { echo "FAIL: no $f in the package"; exit 1; }
done
cmp -s "$build/unzip.exe" "$scratch/package/unzip.exe" || { echo "FAIL: unzip.exe is not the build's"; exit 1; }
report=$("$source_dir/scripts/try-package" "$scratch/package" --version winxp) || { echo "$report"; echo "FAIL: try-package"; exit 1; }
echo "$report"
# The installer copied what unzip.exe extracted; the script left its marker.
for f in readme.txt bin\\sample-tool.txt postprocess.txt; do
    grep -qF "C:\\Program Files\\Sample App\\$f" <<<"$report" || { echo "FAIL: $f was not installed"; exit 1; }
done
