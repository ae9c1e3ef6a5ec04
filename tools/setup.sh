#!/bin/sh
# Installs everything the build, `make run` and the tests need on a Debian 12
# machine. Idempotent: quiet and quick when all is present. As root it
# installs; as another user it only checks that the tools are there.
set -e

need=""
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

if [ "$(id -u)" -ne 0 ]; then
    missing=""
    for t in cmake i686-w64-mingw32-g++-posix wine Xvfb xdotool pulseaudio parec sox flac oggenc oggdec python3; do
        command -v "$t" >/dev/null || missing="$missing $t"
    done
    if [ -n "$missing" ]; then
        echo "not root and missing:$missing; run tools/setup.sh as root"
        exit 1
    fi
    echo "not root: nothing installed, all tools present"
    exit 0
fi

PKGS="g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686 wine wine32 wine64 \
xvfb xdotool x11-utils pulseaudio pulseaudio-utils fonts-wqy-microhei sox lame \
googletest python3-pytest locales cmake make g++ clang libclang-rt-14-dev imagemagick zip unzip \
ffmpeg gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386 gstreamer1.0-plugins-ugly:i386 \
gstreamer1.0-libav:i386 \
flac vorbis-tools libflac-dev libpugixml-dev zlib1g-dev libstb-dev libz-mingw-w64-dev dpkg-dev pkg-config hydrogen-drumkits"

for p in $PKGS; do have "$p" || need="$need $p"; done

if [ -n "$need" ]; then
    export DEBIAN_FRONTEND=noninteractive
    if ! dpkg --print-foreign-architectures | grep -q i386; then
        dpkg --add-architecture i386
    fi
    # A mirror caught mid-sync serves an index that does not match its
    # release file, and apt leaves that index out. Without the security
    # archive's i386 index, its amd64 versions outrun the i386 ones and no
    # 32-bit library can be installed beside its 64-bit twin; the main
    # archive's versions of both still match, so take those.
    release=""
    if ! apt-get update -qq; then
        sleep 10
        if ! apt-get update -qq; then
            echo "setup: the package index is incomplete; installing the main archive's versions"
            release="-t $(. /etc/os-release && echo "$VERSION_CODENAME")"
        fi
    fi
    apt-get install -y -qq --no-install-recommends $release $need >/dev/null
fi

# Wine takes its ANSI code page from the glibc locale: without zh_CN.UTF-8
# generated the program silently runs with code page 1252.
if ! locale -a 2>/dev/null | grep -qi '^zh_CN.utf8$'; then
    sed -i 's/^# *zh_CN.UTF-8 UTF-8/zh_CN.UTF-8 UTF-8/' /etc/locale.gen
    grep -q '^zh_CN.UTF-8 UTF-8' /etc/locale.gen || echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen
    locale-gen >/dev/null
fi

# libFLAC and pugixml for the Windows build, from Debian's source packages.
"$(dirname "$0")/formats.sh"
