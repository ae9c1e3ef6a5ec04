#!/bin/bash
# Builds the program and runs it under Wine.
#   tools/run.sh            build, lay out build/run/dist, serve the update
#                           server on 127.0.0.1:8960, start YXYT.exe and wait
#                           until it ends (Ctrl-C stops everything)
#   tools/run.sh --detach   the same, but return once the window is up
#   tools/run.sh stop       stop a detached run
# On the user's display and sound server when there are ones; otherwise on
# Xvfb and a PulseAudio null sink.
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export YXYT_BUILD="${YXYT_BUILD:-$ROOT/build/run}"
DIST="$YXYT_BUILD/dist"
RUN="$YXYT_BUILD/run"
PORT=8960
mkdir -p "$RUN"

stop() {
    for p in yxyt http; do
        if [ -f "$RUN/$p.pid" ]; then
            kill "$(cat "$RUN/$p.pid")" 2>/dev/null || true
            rm -f "$RUN/$p.pid"
        fi
    done
    "$ROOT/tools/session.sh" stop 2>/dev/null || true
}

if [ "${1:-}" = stop ]; then
    stop
    echo "stopped"
    exit 0
fi
DETACH=0
[ "${1:-}" = --detach ] && DETACH=1

# The same installs as the test command, so this works as the first command
# on a new machine.
echo "checking what the build and the run need (log: $YXYT_BUILD/setup.log) ..."
"$ROOT/tools/setup.sh" >"$YXYT_BUILD/setup.log" 2>&1 || { tail -n 30 "$YXYT_BUILD/setup.log"; exit 1; }

echo "building (log: $YXYT_BUILD/build.log) ..."
{
    cmake -S "$ROOT" --preset dev -B "$YXYT_BUILD" &&
        cmake --build "$YXYT_BUILD" -j"${YXYT_JOBS:-2}" --target YXYT bass probe
} >"$YXYT_BUILD/build.log" 2>&1 || { tail -n 30 "$YXYT_BUILD/build.log"; exit 1; }

# The program folder: executable, audio library, demo kits, help file.
mkdir -p "$DIST"
cp "$YXYT_BUILD/bin/YXYT.exe" "$YXYT_BUILD/bin/bass.dll" "$DIST/"
if [ ! -d "$DIST/SND" ]; then
    if [ -f "$ROOT/tools/gen_kits.py" ]; then
        python3 "$ROOT/tools/gen_kits.py" "$DIST/SND" >/dev/null
    else
        echo "note: tools/gen_kits.py is missing; $DIST/SND has no kits"
    fi
fi
if [ -f "$ROOT/assets/ReadMe.txt" ]; then
    # The program shows it with the system's code page: GBK, CR LF.
    tr -d '\r' <"$ROOT/assets/ReadMe.txt" | sed 's/$/\r/' | iconv -f UTF-8 -t GBK >"$DIST/ReadMe.txt"
fi

# The update server answers below /YXProgect/.
WWW="$ROOT/update-server"
if [ ! -d "$WWW" ]; then
    WWW="$RUN/www"
    mkdir -p "$WWW/YXProgect/yxyt"
    printf '1.1.0.0' >"$WWW/YXProgect/yxyt/ver.txt"
    printf '1.1.0.0' >"$WWW/YXProgect/yxyt/ChangeLog.txt"
    printf '0' >"$WWW/YXProgect/yxyt/jy.txt"
    printf 'close' >"$WWW/YXProgect/EN.txt"
    echo "note: no update-server/ folder; serving a minimal one from $WWW"
fi
if python3 -c "import socket,sys; s=socket.socket(); sys.exit(s.connect_ex(('127.0.0.1',$PORT)) != 0)"; then
    echo "port $PORT already answers; using that server"
else
    python3 -m http.server "$PORT" --bind 127.0.0.1 --directory "$WWW" >"$RUN/http.log" 2>&1 &
    echo $! >"$RUN/http.pid"
fi

# The user's display and sound server when present.
sound=""
if [ -n "${PULSE_SERVER:-}" ] || { [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -S "$XDG_RUNTIME_DIR/pulse/native" ]; }; then
    sound=1
fi
YXYT_USE_DISPLAY=${DISPLAY:+1} YXYT_USE_SOUND=$sound "$ROOT/tools/session.sh" start
set -a
. "$YXYT_BUILD/session.env"
set +a

cd "$DIST"
"$ROOT/tools/wine-run.sh" "$DIST/YXYT.exe" >"$RUN/yxyt.log" 2>&1 &
echo $! >"$RUN/yxyt.pid"
cd "$ROOT"

if [ -z "$sound" ]; then
    where="the PulseAudio null sink $YXYT_SINK (record: $("$ROOT/tools/session.sh" record-command) > out.raw)"
else
    where="your sound server"
fi
echo "YXYT.exe started from $DIST on display $DISPLAY, sound to $where"
echo "update server: http://127.0.0.1:$PORT/ serving $WWW"
if win=$("$ROOT/tools/wine-run.sh" "$YXYT_BUILD/bin/probe.exe" wait-window --class YXYT --visible --timeout 60000 2>/dev/null); then
    echo "main window: $win"
else
    echo "no main window within 60 s; a message box may be up:"
    "$ROOT/tools/wine-run.sh" "$YXYT_BUILD/bin/probe.exe" windows --class '#32770' 2>/dev/null || true
fi
echo "look at it:  DISPLAY=$DISPLAY import -window root screenshot.png"
echo "type keys:   DISPLAY=$DISPLAY xdotool search --name '^逸响乐台' windowfocus --sync key a s d"

if [ $DETACH -eq 1 ]; then
    echo "stop it:     tools/run.sh stop"
    exit 0
fi
echo "stop it:     Ctrl-C (or tools/run.sh stop from another shell)"
trap 'stop; exit 0' INT TERM
set +e
wait "$(cat "$RUN/yxyt.pid")"
code=$?
echo "YXYT.exe ended with exit code $code"
stop
