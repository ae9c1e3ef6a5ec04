#!/bin/sh
# The format libraries of the Windows build that Debian ships as source
# only: libFLAC and pugixml, built static for MinGW i686 (posix threads)
# from Debian's source packages, the same versions as the native -dev
# packages the build machine has. Each build is kept outside the checkout,
# one folder per source version, so a new clone or `make clean` reuses it.
#   tools/formats.sh                 builds what is missing (as root)
#   tools/formats.sh --prefix NAME   prints the folder of NAME's build
#                                    (flac or pugixml); fails when missing
#   YXYT_FORMATS_CACHE               where the builds are kept
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
CACHE=${YXYT_FORMATS_CACHE:-/var/cache/yxyt-formats}
TARGET=i686-w64-mingw32

# The native -dev package whose source version a library's build follows.
dev_package() {
    case $1 in
    flac) echo libflac-dev ;;
    pugixml) echo libpugixml-dev ;;
    *) echo "formats: unknown library $1" >&2; exit 2 ;;
    esac
}

source_version() {
    v=$(dpkg-query -W -f='${source:Version}' "$(dev_package "$1")" 2>/dev/null) || true
    if [ -z "$v" ]; then
        echo "formats: $(dev_package "$1") is not installed; run tools/setup.sh as root" >&2
        exit 1
    fi
    echo "$v"
}

prefix_of() {
    echo "$CACHE/$1-$(source_version "$1")-$TARGET"
}

if [ "${1:-}" = "--prefix" ]; then
    p=$(prefix_of "$2")
    if [ ! -f "$p/built" ]; then
        echo "formats: no MinGW build of $2 in $p; run tools/setup.sh as root" >&2
        exit 1
    fi
    echo "$p"
    exit 0
fi

# `apt-get source` needs deb-src entries: one beside each deb entry of this
# release's archives, with the same URIs, suites and components.
add_source_entries() {
    apt-cache showsrc flac 2>/dev/null | grep -q '^Package: flac' && return 0
    codename=$(. /etc/os-release && echo "$VERSION_CODENAME")
    if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
        # deb822 stanzas: the enabled ones of type deb for this release.
        awk -v release="$codename" 'BEGIN { RS = ""; ORS = "\n\n" }
            {
                types = ""; suites = ""; enabled = 1; out = ""
                n = split($0, lines, "\n")
                for (i = 1; i <= n; i++) {
                    line = lines[i]
                    if (line ~ /^#/) continue
                    if (line ~ /^Types:/) { types = line; line = "Types: deb-src" }
                    if (line ~ /^Suites:/) suites = line
                    if (line ~ /^Enabled: *no/) enabled = 0
                    out = out line "\n"
                }
                if (enabled && types ~ /[: ]deb( |$)/ && suites ~ release) print out
            }' /etc/apt/sources.list.d/*.sources >/etc/apt/sources.list.d/yxyt-deb-src.sources
        [ -s /etc/apt/sources.list.d/yxyt-deb-src.sources ] || rm -f /etc/apt/sources.list.d/yxyt-deb-src.sources
    fi
    if [ -f /etc/apt/sources.list ]; then
        sed -n "s/^deb \(.* $codename[-a-z]* .*\)/deb-src \1/p" /etc/apt/sources.list >/etc/apt/sources.list.d/yxyt-deb-src.list
        [ -s /etc/apt/sources.list.d/yxyt-deb-src.list ] || rm -f /etc/apt/sources.list.d/yxyt-deb-src.list
    fi
    apt-get update -qq
}

# build NAME: unpacks the source package into a scratch folder, builds and
# installs it there, then moves it into the cache whole.
build() {
    name=$1
    version=$(source_version "$name")
    dest=$(prefix_of "$name")
    [ -f "$dest/built" ] && return 0
    echo "formats: building $name $version for $TARGET"
    work=$(mktemp -d)
    trap 'rm -rf "$work"' EXIT
    (cd "$work" && apt-get source -qq "$name=$version" >source.log 2>&1) || {
        cat "$work/source.log" >&2
        exit 1
    }
    src=$(find "$work" -mindepth 1 -maxdepth 1 -type d | head -n 1)
    case $name in
    flac) options="-DBUILD_PROGRAMS=OFF -DBUILD_EXAMPLES=OFF -DBUILD_TESTING=OFF -DBUILD_DOCS=OFF \
        -DINSTALL_MANPAGES=OFF -DWITH_OGG=OFF -DBUILD_CXXLIBS=OFF" ;;
    pugixml) options="-DPUGIXML_BUILD_TESTS=OFF" ;;
    esac
    # shellcheck disable=SC2086
    cmake -S "$src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF -DCMAKE_INSTALL_PREFIX="$dest" \
        $options >"$work/configure.log" 2>&1 || { tail -n 30 "$work/configure.log" >&2; exit 1; }
    cmake --build "$work/build" -j2 >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log" >&2; exit 1; }
    # Staged, then moved: a build cut short leaves no half folder behind.
    DESTDIR="$work/stage" cmake --install "$work/build" >/dev/null
    echo "$name $version" >"$work/stage$dest/built"
    rm -rf "$dest"
    mv "$work/stage$dest" "$dest"
    rm -rf "$work"
    trap - EXIT
}

mkdir -p "$CACHE"
# One builder at a time: two checkouts may run setup together.
exec 8>"$CACHE/.lock"
flock 8
add_source_entries
build flac
build pugixml
