#!/usr/bin/env bash
# Builds Info-ZIP UnZip 6.0 (unzip.exe) or Zip 3.0 (zip.exe) for Windows with
# mingw-w64 from Debian's source package.
#
# Usage: build-infozip.sh unzip|zip ARCH OUTFILE      ARCH is i686 or x86_64
#
# The source comes from `apt-get source PACKAGE=VERSION` (the versions pinned
# below, their files checked against pinned SHA-256 sums) through a private deb-src list
# derived from this machine's Debian entries; the system's apt setup is only
# read. Debian's patches are applied (dpkg-source -x), then for UnZip this
# project's unzip-utf8-names.patch. Source, build tree and
# logs live in $INFOZIP_CACHE (default: <dir of OUTFILE>/infozip-cache), one
# subdirectory per package. The fetched source is reused until that directory
# is removed; an OUTFILE newer than this script is taken as up to date.
# The program is the same bytes wherever and whenever it is built: no link
# time stamp, no build paths, and the compiler's date is the Debian
# changelog's (SOURCE_DATE_EPOCH).
set -euo pipefail

PROG=build-infozip.sh

die() {
    echo "$PROG: $*" >&2
    exit 1
}

# --buildinfo: what the kit records of the sources, from the pins below.
if [[ ${1:-} == --buildinfo ]]; then
    set -- unzip x86_64 /dev/null
    BUILDINFO=1
fi
if [[ $# -ne 3 ]]; then
    echo "usage: $PROG unzip|zip i686|x86_64 OUTFILE" >&2
    exit 2
fi
PKG=$1
shift
case "$PKG" in
    unzip) MAKEFILE=win32/Makefile.gcc ;;
    zip) MAKEFILE=win32/makefile.gcc ;;
    *) die "unknown package '$PKG' (expected unzip or zip)" ;;
esac
ARCH=$1
case "$ARCH" in
    i686 | x86_64) ;;
    *) die "unknown ARCH '$ARCH' (expected i686 or x86_64)" ;;
esac
[[ -n $2 ]] || die "empty OUTFILE"

# The Debian source versions built, and the SHA-256 of their files as
# Debian's signed Sources index lists them: checked after every fetch.
declare -A PINNED_VERSION=([unzip]=6.0-28+deb12u1 [zip]=3.0-13+deb12u1)
declare -A PINNED_FILES=(
    [unzip]="036d96991646d0449ed0aa952e4fbe21b476ce994abc276e49d30e686708bd37 unzip_6.0.orig.tar.gz
defefe4900f2065b9f067652645fe7e5d99421566565d8b743cc7c5636deb4fe unzip_6.0-28+deb12u1.debian.tar.xz"
    [zip]="f0e8bb1f9b7eb0b01285495a2699df3a4b766784c1765a8f1aeedf63c0806369 zip_3.0.orig.tar.gz
5decc93eb91c383152c0268c89bf5eaeca6615844d5d5a1342b2d0402ef7fd56 zip_3.0-13+deb12u1.debian.tar.xz"
)
PINNED=${PINNED_VERSION[$PKG]}

SELF=$(readlink -f "${BASH_SOURCE[0]}")
# This project's own change to UnZip, applied after Debian's patches.
PATCHES=()
[[ $PKG == unzip ]] && PATCHES=("$(dirname -- "$SELF")/unzip-utf8-names.patch")

if [[ -n ${BUILDINFO:-} ]]; then
    for p in unzip zip; do
        echo "$p.exe: Debian source package $p ${PINNED_VERSION[$p]}, SHA-256:"
        echo "${PINNED_FILES[$p]}" | sed 's/^/  /'
    done
    echo "unzip.exe: then $(sha256sum <"${PATCHES[0]}" | cut -d' ' -f1) ${PATCHES[0]##*/}"
    echo "Built with mingw-w64 for i686 by tools/infozip/build-infozip.sh."
    exit 0
fi
OUT=$(realpath -m -- "$2")
OUTDIR=$(dirname -- "$OUT")

up_to_date() {
    local p
    [[ -f $OUT && $OUT -nt $SELF ]] || return 1
    for p in "${PATCHES[@]}"; do [[ $OUT -nt $p ]] || return 1; done
}
if up_to_date; then
    echo "$PKG.exe ($ARCH): cached"
    exit 0
fi

START=$SECONDS
mkdir -p -- "$OUTDIR"
CACHE=$(realpath -m -- "${INFOZIP_CACHE:-$OUTDIR/infozip-cache}")
mkdir -p -- "$CACHE/$PKG"

TRIPLET=$ARCH-w64-mingw32
CC=$TRIPLET-gcc

# ---------------------------------------------------------------- tools

# command:package pairs; the package is what Debian ships the command in.
declare -a NEEDED=(
    "apt-get:apt"
    "dpkg-source:dpkg-dev"
    "patch:patch"
    "xz:xz-utils"
    "make:make"
    "flock:util-linux"
    "$CC:gcc-mingw-w64-${ARCH//_/-}"
    "$TRIPLET-windres:binutils-mingw-w64-${ARCH//_/-}"
    "$TRIPLET-objdump:binutils-mingw-w64-${ARCH//_/-}"
)

# Prints the missing commands (KIND=cmd) or the packages that bring them (KIND=pkg).
missing() {
    local pair
    for pair in "${NEEDED[@]}"; do
        command -v "${pair%%:*}" >/dev/null 2>&1 && continue
        if [[ $1 == cmd ]]; then echo "${pair%%:*}"; else echo "${pair#*:}"; fi
    done | sort -u
}

MISSING=$(missing pkg)
if [[ -n $MISSING ]]; then
    # shellcheck disable=SC2086 # one package name per word
    set -- $MISSING
    if [[ $(id -u) -ne 0 ]]; then
        die "missing: $(missing cmd | tr '\n' ' ')(not root, so not installing them). As root run:
  apt-get install --no-install-recommends $*"
    fi
    echo "$PKG.exe ($ARCH): installing $*"
    # A fresh machine may have no package lists yet.
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" \
        >"$CACHE/install.log" 2>&1; then
        apt-get update -q >>"$CACHE/install.log" 2>&1 || true
        DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "$@" \
            >>"$CACHE/install.log" 2>&1 || {
            tail -n 20 "$CACHE/install.log" >&2
            die "could not install $* (log: $CACHE/install.log)"
        }
    fi
    [[ -z $(missing cmd) ]] || die "still missing after installing $*: $(missing cmd | tr '\n' ' ')"
fi

# Runs a command with its output appended to LOG; on failure shows the log's tail.
run_logged() {
    local log=$1 what=$2
    shift 2
    echo "+ $*" >>"$log"
    if ! "$@" >>"$log" 2>&1; then
        echo "$PROG: $what failed; last lines of $log:" >&2
        tail -n 40 "$log" | sed 's/^/  /' >&2
        exit 1
    fi
}

# ---------------------------------------------------------------- source

APTDIR=$CACHE/apt
SRCDIR=$CACHE/$PKG/src
FETCHLOG=$CACHE/$PKG/fetch.log
APT_OPTS=(
    -o "Dir::Etc::SourceList=$APTDIR/sources.list"
    -o "Dir::Etc::SourceParts=/dev/null"
    -o "Dir::State::Lists=$APTDIR/lists"
    -o "Dir::Cache=$APTDIR/cache"
    -o "Dir::Cache::pkgcache="
    -o "Dir::Cache::srcpkgcache="
)

# Prints "URI<TAB>SUITE<TAB>COMPONENTS<TAB>SIGNED-BY" for each enabled binary
# ("deb") entry of the system's apt sources, one-line and deb822 alike.
system_apt_entries() {
    local f
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [[ -r $f ]] || continue
        awk '
            { sub(/#.*/, "") }
            $1 != "deb" { next }
            {
                line = $0; sub(/^[ \t]*deb[ \t]+/, "", line); opts = ""
                if (line ~ /^\[/) {
                    opts = substr(line, 2, index(line, "]") - 2)
                    line = substr(line, index(line, "]") + 1)
                }
                n = split(line, w, /[ \t]+/); k = 0
                for (i = 1; i <= n; i++) if (w[i] != "") v[++k] = w[i]
                if (k < 3) next
                comps = v[3]; for (i = 4; i <= k; i++) comps = comps " " v[i]
                signed = ""; m = split(opts, o, /[ \t]+/)
                for (i = 1; i <= m; i++) if (o[i] ~ /^signed-by=/) signed = substr(o[i], 11)
                print v[1] "\t" v[2] "\t" comps "\t" signed
            }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [[ -r $f ]] || continue
        awk '
            function flush(   nu, ns, i, j, u, s) {
                if (f["types"] ~ /(^|[ \t])deb([ \t]|$)/ && tolower(f["enabled"]) !~ /^(no|false|0)$/) {
                    nu = split(f["uris"], u, /[ \t]+/); ns = split(f["suites"], s, /[ \t]+/)
                    for (i = 1; i <= nu; i++) for (j = 1; j <= ns; j++)
                        if (u[i] != "" && s[j] != "")
                            print u[i] "\t" s[j] "\t" f["components"] "\t" (inline ? "" : f["signed-by"])
                }
                delete f; inline = 0; key = ""
            }
            /^[ \t]*#/ { next }
            /^[ \t]*$/ { flush(); next }
            /^[ \t]/ { if (key == "signed-by") inline = 1; next }   # multi-line value: a key block
            {
                key = tolower(substr($0, 1, index($0, ":") - 1))
                val = substr($0, index($0, ":") + 1); gsub(/^[ \t]+|[ \t]+$/, "", val)
                f[key] = val
            }
            END { flush() }' "$f"
    done
}

# Writes the private deb-src list: the system's Debian suites for this
# release (base, -updates, -security), component main.
write_private_sources() {
    local codename="" uri suite comps signed opt
    if [[ -r /etc/os-release ]]; then
        codename=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release | tr -d '"')
    fi
    [[ -n $codename ]] || die "cannot tell the Debian release (no VERSION_CODENAME in /etc/os-release)"
    : >"$APTDIR/sources.list.new"
    while IFS=$'\t' read -r uri suite comps signed; do
        case "$suite" in
            "$codename" | "$codename-updates" | "$codename-security") ;;
            *) continue ;;
        esac
        [[ " $comps " == *" main "* ]] || continue
        opt=""
        [[ -z $signed ]] || opt="[signed-by=$signed] "
        echo "deb-src ${opt}$uri $suite main" >>"$APTDIR/sources.list.new"
    done < <(system_apt_entries)
    if [[ ! -s $APTDIR/sources.list.new ]]; then
        echo "$PKG: no Debian entries for '$codename' in /etc/apt; using deb.debian.org" >&2
        printf '%s\n' \
            "deb-src http://deb.debian.org/debian $codename main" \
            "deb-src http://deb.debian.org/debian-security $codename-security main" \
            >"$APTDIR/sources.list.new"
    fi
    sort -u "$APTDIR/sources.list.new" >"$APTDIR/sources.list"
    rm -f "$APTDIR/sources.list.new"
}

# When a mirror serves a version's tarballs but not its .dsc, apt-get source
# stops before unpacking. The tarballs it did fetch were checked against the
# signed Sources index; this writes the .dsc from that index record (with the
# missing .dsc's own line dropped) so dpkg-source checks them again and
# unpacks them with Debian's patches.
write_dsc_from_index() {
    local version=$1 dir=$2 dscname=$3 record name
    record=$(apt-cache "${APT_OPTS[@]}" showsrc --only-source "$PKG" |
        awk -v RS= -v ver="$version" 'index($0 "\n", "\nVersion: " ver "\n") { print; exit }')
    [[ -n $record ]] || return 1
    {
        awk -v dscname="$dscname" '
            /^[^ \t]/ {
                key = substr($0, 1, index($0, ":") - 1)
                keep = key ~ /^(Format|Binary|Architecture|Version|Maintainer|Uploaders|Standards-Version|Checksums-Sha1|Checksums-Sha256|Checksums-Sha512)$/
                if (key == "Package") { print "Source:" substr($0, index($0, ":") + 1); next }
            }
            keep && !($0 ~ /^ / && $NF == dscname) { print }' <<<"$record"
        echo "Files:"
        while read -r name; do
            [[ $name == "$dscname" ]] && continue
            [[ -f $dir/$name ]] || return 1
            echo " $(md5sum <"$dir/$name" | cut -d' ' -f1) $(stat -c %s "$dir/$name") $name"
        done < <(awk '/^Checksums-Sha256:/ { on = 1; next } /^[^ ]/ { on = 0 } on { print $3 }' <<<"$record")
    } >"$dir/$dscname"
}

# A security update's suite may list the upstream tarball without serving
# it: the archive keeps it with the release's own version. Fetches the other
# versions' sources and keeps the files that VERSION's record names and that
# are still missing; dpkg-source then checks them against that record.
fetch_shared_tarballs() {
    local version=$1 dir=$2 other name
    local more=$CACHE/$PKG/fetch-other.tmp
    while read -r other; do
        [[ $other == "$version" ]] && continue
        rm -rf -- "$more"
        mkdir -p "$more"
        (cd "$more" && apt-get "${APT_OPTS[@]}" -q source --download-only "$PKG=$other") >>"$FETCHLOG" 2>&1 || true
        for name in "$more"/*; do
            [[ -f $name && ! -e $dir/${name##*/} && ${name##*/} != *.dsc ]] && cp -- "$name" "$dir/"
        done
    done < <(apt-cache "${APT_OPTS[@]}" showsrc --only-source "$PKG" | awk '/^Version: / { print $2 }' | sort -u)
    rm -rf -- "$more"
}

fetch_source() {
    local tmp=$CACHE/$PKG/fetch.tmp version dscname tree npatch
    rm -rf -- "$tmp"
    mkdir -p "$tmp" "$APTDIR/lists/partial" "$APTDIR/cache"
    : >"$FETCHLOG"
    write_private_sources
    cat "$APTDIR/sources.list" >>"$FETCHLOG"
    run_logged "$FETCHLOG" "apt-get update (private deb-src list)" apt-get "${APT_OPTS[@]}" -q update
    # The pinned version, not whatever is newest today.
    version=$PINNED
    dscname=${PKG}_$version.dsc
    echo "+ (cd $tmp && apt-get source $PKG=$version)" >>"$FETCHLOG"
    if ! (cd "$tmp" && apt-get "${APT_OPTS[@]}" -q source "$PKG=$version") >>"$FETCHLOG" 2>&1; then
        if [[ -f $tmp/$dscname ]] || ! compgen -G "$tmp/${PKG}_*.debian.tar.*" >/dev/null; then
            run_logged "$FETCHLOG" "apt-get source $PKG" false
        fi
        echo "$PKG: the mirror has no $dscname; unpacking the verified tarballs from the Sources index record" >&2
        fetch_shared_tarballs "$version" "$tmp"
        echo "+ writing $dscname from the Sources index" >>"$FETCHLOG"
        write_dsc_from_index "$version" "$tmp" "$dscname" ||
            run_logged "$FETCHLOG" "writing $dscname from the Sources index" false
        cat "$tmp/$dscname" >>"$FETCHLOG"
        rm -rf -- "$tmp"/"$PKG"-*/
        run_logged "$FETCHLOG" "dpkg-source -x $dscname" \
            dpkg-source -x "$tmp/$dscname" "$tmp/$PKG-$version"
    fi
    local sum name
    while read -r sum name; do
        [[ -f $tmp/$name ]] || die "the pinned $name was not fetched (log: $FETCHLOG)"
        [[ $(sha256sum <"$tmp/$name" | cut -d' ' -f1) == "$sum" ]] ||
            die "$name does not have the pinned SHA-256 $sum"
    done <<<"${PINNED_FILES[$PKG]}"
    tree=$(find "$tmp" -mindepth 1 -maxdepth 1 -type d -name "$PKG-*" | head -n 1)
    [[ -n $tree && -f $tree/$MAKEFILE ]] || run_logged "$FETCHLOG" "unpacking the source" false
    npatch=$(grep -c -v -e '^#' -e '^$' "$tree/debian/patches/series" 2>/dev/null) || npatch=0
    rm -rf -- "$SRCDIR"
    mkdir -p "$SRCDIR"
    mv -- "$tree" "$SRCDIR/tree"
    echo "${PINNED_FILES[$PKG]}" >"$SRCDIR/sources"
    echo "$version" >"$SRCDIR/version.new"
    mv -- "$SRCDIR/version.new" "$SRCDIR/version"
    rm -rf -- "$tmp"
    echo "$PKG: fetched Debian source $PKG $version ($npatch Debian patches applied)"
}

# Several builds may share the cache: only one fetches.
exec 9>"$CACHE/.lock"
flock 9
if [[ ! -s $SRCDIR/version || $(cat "$SRCDIR/version") != "$PINNED" || ! -f $SRCDIR/tree/$MAKEFILE ]]; then
    fetch_source
fi
flock -u 9
exec 9>&-
VERSION=$(cat "$SRCDIR/version")

# ---------------------------------------------------------------- build

BUILD=$CACHE/$PKG/build-$ARCH
LOG=$CACHE/$PKG/build-$ARCH.log
rm -rf -- "$BUILD"
cp -a -- "$SRCDIR/tree" "$BUILD"
: >"$LOG"
for p in "${PATCHES[@]}"; do
    run_logged "$LOG" "applying ${p##*/}" patch -p1 -d "$BUILD" -i "$p"
done
# -static: no libgcc/winpthread DLLs next to the program.
# The prefix map and SOURCE_DATE_EPOCH (for the compile date the programs
# print, and the PE header's time stamp, which the linker takes from it): the
# same source gives the same bytes.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$BUILD/debian/changelog" -STimestamp)
export SOURCE_DATE_EPOCH
CC_REPRO="$CC -ffile-prefix-map=$BUILD=$PKG"
LD_REPRO="$CC -static"
if [[ $PKG == unzip ]]; then
    # windows.h first: included later, the compiler's intrinsics headers it
    # pulls in trip over macros of unzip's own headers.
    run_logged "$LOG" "make ($ARCH)" make -C "$BUILD" -f "$MAKEFILE" -j"$(nproc)" \
        CC="$CC_REPRO" AS="$CC_REPRO" LD="$LD_REPRO" RC="$TRIPLET-windres" \
        NOASM=1 OPT=-O2 CC_CPU_OPT= LOCAL_UNZIP="-include windows.h" unzip.exe
else
    # The C match and CRC code: the assembler versions are for i386 only;
    # windows.h first, as for unzip.
    run_logged "$LOG" "make ($ARCH)" make -C "$BUILD" -f "$MAKEFILE" -j"$(nproc)" \
        CC="$CC_REPRO" AS="$CC_REPRO" LD="$LD_REPRO" RC="$TRIPLET-windres" \
        OBJA= CRCA_O= CRCAUO= LOCAL_ZIP="-DNO_ASM -include windows.h" zip.exe
fi

EXE=$BUILD/$PKG.exe
[[ -f $EXE ]] || run_logged "$LOG" "make produced no $PKG.exe" false
DLLS=$("$TRIPLET-objdump" -p "$EXE" | awk '/DLL Name:/ { print $3 }' | sort -f | tr '\n' ' ')
DLLS=${DLLS% }
for dll in $DLLS; do
    case "${dll,,}" in
        kernel32.dll | user32.dll | advapi32.dll | msvcrt.dll) ;;
        *) die "$PKG.exe ($ARCH) needs $dll, which Windows does not ship (DLLs: $DLLS)" ;;
    esac
done

cp -- "$EXE" "$OUT.tmp"
mv -- "$OUT.tmp" "$OUT"
echo "$PKG.exe ($ARCH): built Debian $PKG $VERSION in $((SECONDS - START)) s -> $OUT ($(stat -c %s "$OUT") bytes; DLLs: $DLLS)"
