#!/bin/bash
# Builds the Windows release and packs what a user downloads:
#   build/dist/YXYT-<version>.zip holding one folder 逸响乐台/ with
#   YXYT.exe, bass.dll, SND/ (two demo kits and Finish.wav), ReadMe.txt and
#   LICENSE.txt. Nothing else has to be installed on Windows.
#   YXYT_BUILD   cross build folder (default build/dist); it is configured
#                as a release, so never give it a development build's folder
#   YXYT_DIST    folder the zip is written to (default build/dist)
#   YXYT_JOBS    parallel build jobs (default 2)
#   YXYT_SERVER_BASE, YXYT_HOME_PAGE, YXYT_SUPPORT_MAIL
#                the publisher's update server (scheme and host), home page
#                and support mail; without a server the program makes no
#                network request at all; with a server, the support mail
#                must be the publisher's own
#   YXYT_ALLOW_HTTP=1  accept a plain http:// server address
# The released program ignores YXYT_SERVER and YXYT_AUDIO_TRACE in its
# environment.
# Prints the zip's path as its last line.
#
# Names inside the zip are GBK without the UTF-8 flag, each with an Info-ZIP
# Unicode Path field (0x7075) carrying the UTF-8 name: Explorer's built-in
# unzip decodes flagless names with the OEM code page, which is GBK on the
# Chinese Windows the program needs anyway (it opens the kits' Chinese folder
# names through ANSI calls); 7-Zip and Info-ZIP unzip read the UTF-8 field.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD="${YXYT_BUILD:-$ROOT/build/dist}"
OUT="${YXYT_DIST:-$ROOT/build/dist}"
FOLDER=逸响乐台
PLACEHOLDER_MAIL=support@yxyt.example

SERVER="${YXYT_SERVER_BASE:-}"
if [ -n "$SERVER" ]; then
    case "${YXYT_SUPPORT_MAIL:-$PLACEHOLDER_MAIL}" in
    "$PLACEHOLDER_MAIL")
        echo "YXYT_SUPPORT_MAIL is not set (or is the placeholder $PLACEHOLDER_MAIL): a program with an update server shows the support mail when the server cannot be reached; set YXYT_SUPPORT_MAIL to the publisher's address" >&2
        exit 1
        ;;
    esac
    case "$SERVER" in
    [Hh][Tt][Tt][Pp]://*)
        if [ "${YXYT_ALLOW_HTTP:-}" != 1 ]; then
            echo "YXYT_SERVER_BASE is a plain http:// address ($SERVER): anyone on the network path can change what the program, running as administrator, reads from it (stop notices, version checks and the addresses it opens); use https://, or set YXYT_ALLOW_HTTP=1 to release it anyway" >&2
            exit 1
        fi
        ;;
    esac
fi

mkdir -p "$BUILD" "$OUT"
# One build of the folder at a time (the test command builds it ahead).
exec 9>"$BUILD.lock"
flock 9
{
    cmake -S "$ROOT" --preset dist -B "$BUILD" &&
        cmake --build "$BUILD" -j"${YXYT_JOBS:-2}" --target YXYT bass
} >"$BUILD/package-build.log" 2>&1 || { tail -n 30 "$BUILD/package-build.log" >&2; exit 1; }
# The version CMake's project() gives the program.
VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
[ -n "$VERSION" ] || { echo "no project version in $BUILD/CMakeCache.txt" >&2; exit 1; }
ZIP="$OUT/YXYT-$VERSION.zip"

STAGE=$(mktemp -d "$OUT/stage.XXXXXX")
trap 'rm -rf "$STAGE"' EXIT
DIR="$STAGE/$FOLDER"
mkdir -p "$DIR"
cp "$BUILD/bin/YXYT.exe" "$BUILD/bin/bass.dll" "$DIR/"
python3 "$ROOT/tools/gen_kits.py" "$DIR/SND" >/dev/null
# Notepad and the program read text files in the system code page: GBK, CR LF.
for pair in "assets/ReadMe.txt:ReadMe.txt" "LICENSE:LICENSE.txt"; do
    tr -d '\r' <"$ROOT/${pair%%:*}" | sed 's/$/\r/' | iconv -f UTF-8 -t GBK >"$DIR/${pair##*:}"
done

# Every entry gets the last commit's time, so the same sources give the same zip.
STAMP=$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || date +%s)
rm -f "$ZIP"
python3 - "$STAGE" "$FOLDER" "$ZIP" "$STAMP" <<'PY'
import os, struct, sys, time, zipfile, zlib

stage, folder, out, stamp = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
when = time.localtime(stamp)[:6]


class GbkInfo(zipfile.ZipInfo):
    def _encodeFilenameFlags(self):
        return self.filename.encode("gbk"), self.flag_bits & ~0x800


def entry(name, is_dir):
    info = GbkInfo(name, when)
    info.create_system = 0  # MS-DOS: the name is in the OEM code page
    info.external_attr = 0x10 if is_dir else 0x20
    info.compress_type = zipfile.ZIP_STORED if is_dir else zipfile.ZIP_DEFLATED
    raw = name.encode("gbk")
    utf8 = name.encode("utf-8")
    if raw != utf8:
        body = b"\x01" + struct.pack("<I", zlib.crc32(raw)) + utf8
        info.extra = struct.pack("<HH", 0x7075, len(body)) + body
    return info


with zipfile.ZipFile(out, "w") as z:
    for top, dirs, files in os.walk(os.path.join(stage, folder)):
        dirs.sort()
        rel = os.path.relpath(top, stage).replace(os.sep, "/")
        z.writestr(entry(rel + "/", True), b"")
        for f in sorted(files):
            with open(os.path.join(top, f), "rb") as src:
                z.writestr(entry(rel + "/" + f, False), src.read())
PY
echo "$ZIP"
