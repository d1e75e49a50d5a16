#!/usr/bin/env bash
# Checks a built setup.exe for what it must be: a GUI program for the right
# machine, no resources (so no manifest), importing only KERNEL32 and msvcrt
# (USER32 is loaded on the first box), OS and subsystem version 4.0,
# stripped. Prints its size.
#   check-executable.sh EXE win32|win64
set -u
exe=$1
arch=$2
case "$arch" in
    win32) objdump=i686-w64-mingw32-objdump; format=pei-i386; machine=014c ;;
    win64) objdump=x86_64-w64-mingw32-objdump; format=pei-x86-64; machine=8664 ;;
    *) echo "unknown build $arch"; exit 2 ;;
esac
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
[ -f "$exe" ] || { echo "FAIL: $exe does not exist"; exit 1; }

headers=$("$objdump" -p "$exe") || { echo "FAIL: $objdump cannot read $exe"; exit 1; }
sections=$("$objdump" -h "$exe")
field() { awk -v k="$1" '$1 == k { print $2; exit }' <<<"$headers"; }

grep -q "file format $format" <<<"$headers" || fail "not $format"
# The machine field of the COFF header, read from the file itself.
pe_offset=$(od -An -tu4 -j60 -N4 "$exe" | tr -d ' ')
actual=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$exe" | tr -d ' ')
[ "$actual" = "$machine" ] || fail "machine is $actual, not $machine"
[ "$(field Subsystem)" = "00000002" ] || fail "subsystem is $(field Subsystem), not 2 (Windows GUI)"
for f in MajorOSystemVersion MajorSubsystemVersion; do
    [ "$(field "$f")" = "4" ] || fail "$f is $(field "$f"), not 4"
done
for f in MinorOSystemVersion MinorSubsystemVersion; do
    [ "$(field "$f")" = "0" ] || fail "$f is $(field "$f"), not 0"
done
# The resource directory entry of the data directory: address and size zero.
resource=$(grep 'Resource Directory' <<<"$headers" | head -1)
[[ "$(awk "{ print \$3 \$4 }" <<<"$resource")" =~ ^0+$ ]] || fail "resource directory not empty: $resource"
grep -q '\.rsrc' <<<"$sections" && fail "has a .rsrc section"
# The import table read from the file by its RVAs, as the loader reads it:
# objdump interprets it only when all of it lies in one section, and the
# shipped build keeps the names with the code. One "DLL function" line each.
imported=$(python3 - "$exe" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 60)[0]
count = struct.unpack_from("<H", data, pe + 6)[0]
optional = pe + 24
wide = struct.unpack_from("<H", data, optional)[0] == 0x20B
directories = optional + (112 if wide else 96)
sections = optional + struct.unpack_from("<H", data, pe + 20)[0]
table = [struct.unpack_from("<IIII", data, sections + 40 * i + 8) for i in range(count)]
def offset(rva):
    for size, address, raw_size, raw in table:
        if address <= rva < address + max(size, raw_size):
            return raw + rva - address
    sys.exit("RVA %#x lies in no section" % rva)
def text(rva):
    at = offset(rva)
    return data[at:data.index(b"\0", at)].decode("ascii")
descriptor = offset(struct.unpack_from("<I", data, directories + 8)[0])
while True:
    lookup, _, _, name, addresses = struct.unpack_from("<IIIII", data, descriptor)
    if name == 0:
        break
    dll = text(name)
    entry = offset(lookup or addresses)
    size, flag = (8, 1 << 63) if wide else (4, 1 << 31)
    while True:
        value = int.from_bytes(data[entry:entry + size], "little")
        if value == 0:
            break
        print(dll, "#%d" % (value & 0xFFFF) if value & flag else text(value + 2))
        entry += size
    descriptor += 20
PY
) || fail "cannot read the import table"
imports=$(awk '{ print $1 }' <<<"$imported" | sort -u | tr '\n' ' ')
[ "$imports" = "KERNEL32.dll msvcrt.dll " ] || fail "imports are [$imports], not [KERNEL32.dll msvcrt.dll]"
# USER32 is loaded when the first box is shown or looked for; the names it is
# loaded and used by must be in the file.
for name in user32.dll MessageBoxA FindWindowA SendMessageA; do
    grep -qa "$name" "$exe" || fail "does not name $name"
done
# The wide file functions are stubs or missing on the 4.x family without NT:
# they are looked up at run time, never imported, so the program loads there.
wide=$(awk '$1 == "KERNEL32.dll" && $2 ~ /W$/ { print $2 }' <<<"$imported" | tr '\n' ' ')
[ -z "$wide" ] || fail "imports wide functions [$wide]; look them up at run time"
for name in GetModuleFileNameW GetCurrentDirectoryW GetTempPathW GetShortPathNameW CreateDirectoryW GetCommandLineW; do
    grep -qa "$name" "$exe" || fail "does not name $name"
done
[ "$("$objdump" -t "$exe" 2>/dev/null | grep -c '^\[')" = "0" ] || fail "not stripped (has a symbol table)"

size=$(stat -c %s "$exe")
echo "$arch setup.exe: $size bytes; imports: $imports"
[ "$failures" = 0 ] && echo "executable check passed" || exit 1
