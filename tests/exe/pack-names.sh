#!/usr/bin/env bash
# The build's unzip.exe under Wine, on archives as pack build writes them
# (UTF-8 names marked with bit 11, no extra fields): under each locale's ANSI
# code page a name comes back exactly, or is refused with a non-zero exit
# code, one message and nothing written under another name; under a UTF-8
# ANSI code page (65001, which Wine takes for hi_IN) every name comes back.
# A name too long once spelled is refused, never cut short. Prints the table.
#   pack-names.sh BUILD_DIR win32|win64
set -euo pipefail
build=$1
arch=$2
scratch=$(mktemp -d "$build/pack-names.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# The build's own way to run its programs: where 32-bit code cannot run
# natively, the i686 build runs through run-i686.
wine_run=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/wine-run
names=("Léame.txt" "Über.ini" "Łódź.txt" "Rafał.txt" "Привет.txt" "日本語.txt" "中文.txt" "😀.txt")
# The code page Wine takes from each locale, and the names it must restore.
declare -A exact=(
    [C.UTF-8]="Léame.txt Über.ini"
    [pl_PL.UTF-8]="Léame.txt Über.ini Łódź.txt Rafał.txt"
    [ru_RU.UTF-8]="Привет.txt"
    [ja_JP.UTF-8]="Привет.txt 日本語.txt 中文.txt"
    [zh_CN.UTF-8]="Léame.txt Привет.txt 日本語.txt 中文.txt"
    [hi_IN.UTF-8]="${names[*]}"
)
status=0
for i in "${!names[@]}"; do
    python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z: z.writestr("docs/" + sys.argv[2], sys.argv[2])' \
        "$scratch/$i.zip" "${names[$i]}"
done
for locale in C.UTF-8 pl_PL.UTF-8 ru_RU.UTF-8 ja_JP.UTF-8 zh_CN.UTF-8 hi_IN.UTF-8; do
    row="$locale:"
    for i in "${!names[@]}"; do
        name=${names[$i]}
        out=$scratch/out-$locale-$i
        mkdir -p "$out"
        for attempt in 1 2; do
            code=0
            (cd "$scratch" && SETUP_WINE_LOCALE=$locale "$wine_run" "$arch" "$build" "$build/unzip.exe" -o "$i.zip" -d "out-$locale-$i") \
                >"$scratch/log" 2>&1 || code=$?
            # unzip.exe says why whenever it fails: a failure without a word
            # or a file is Wine's own start failing under load. Started once
            # more, and said so.
            [ "$code" != 0 ] && [ ! -s "$scratch/log" ] && [ -z "$(find "$out" -type f)" ] && [ $attempt = 1 ] ||
                break
            echo "note: $locale: $name: Wine ended unzip.exe with $code and no output; starting it again"
        done
        got=$(cd "$out" && find . -type f | sed 's|^\./||')
        if [ "$got" = "docs/$name" ] && [ "$code" = 0 ] && [ "$(cat "$out/docs/$name")" = "$name" ]; then
            row="$row $name=exact"
            want=exact
        elif [ -z "$got" ] && [ "$code" != 0 ] && grep -q "cannot spell this UTF-8 name" "$scratch/log" &&
            ! grep -q "bad extra field" "$scratch/log"; then
            row="$row $name=refused"
            want=refused
        else
            echo "FAIL: $locale: $name gave exit code $code and files: ${got:-none}"
            cat "$scratch/log"
            status=1
            continue
        fi
        expected=refused
        [[ " ${exact[$locale]} " == *" $name "* ]] && expected=exact
        [ "$want" = "$expected" ] || { echo "FAIL: $locale: $name $want, expected $expected"; status=1; }
    done
    echo "$row"
done

# 'é' and 256 more characters: 262 bytes in code page 1252, past MAX_PATH.
long="docs/é/$(printf 'a%.0s' $(seq 100))/$(printf 'b%.0s' $(seq 100))/$(printf 'c%.0s' $(seq 50)).txt"
python3 -c 'import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z: z.writestr(sys.argv[2], "long")' "$scratch/long.zip" "$long"
mkdir -p "$scratch/out-long"
code=0
(cd "$scratch" && "$wine_run" "$arch" "$build" "$build/unzip.exe" -o long.zip -d out-long) >"$scratch/log" 2>&1 ||
    code=$?
if [ "$code" != 0 ] && [ -z "$(find "$scratch/out-long" -type f)" ] &&
    grep -q "this UTF-8 name is too long in this system's code page" "$scratch/log" &&
    ! grep -q "bad extra field" "$scratch/log"; then
    echo "C.UTF-8: a name of 262 bytes=refused"
else
    echo "FAIL: a name of 262 bytes gave exit code $code and files: $(find "$scratch/out-long" -type f)"
    cat "$scratch/log"
    status=1
fi
exit $status
