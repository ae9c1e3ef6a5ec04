#!/bin/sh
# Starts (or stops) what the program needs to run headless: an X server,
# a PulseAudio server whose default sink is a null sink that can be
# recorded, and the Wine prefix. Writes the variables to build/session.env.
#   tools/session.sh start   idempotent; reuses a live session
#   tools/session.sh stop
#   tools/session.sh record-command   what records the session's null sink,
#                                     ready to paste into another shell
set -e
ROOT=$(cd "$(dirname "$0")/.." && pwd)
: "${YXYT_BUILD:=$ROOT/build}"
mkdir -p "$YXYT_BUILD"
ENV="$YXYT_BUILD/session.env"
RUN="$YXYT_BUILD/session"
SINK=yxyt_sink

alive() { [ -f "$RUN/$1.pid" ] && kill -0 "$(cat "$RUN/$1.pid")" 2>/dev/null; }

stop() {
    for p in xvfb pulse; do
        if alive $p; then kill "$(cat "$RUN/$p.pid")" 2>/dev/null || true; fi
        rm -f "$RUN/$p.pid"
    done
    ROOT="$ROOT" sh -c '. "$ROOT/tools/wine-env.sh"; wineserver -k' 2>/dev/null || true
    rm -f "$ENV"
}

start() {
    mkdir -p "$RUN"
    chmod 700 "$RUN"
    : > "$ENV.new"
    if [ -n "$YXYT_USE_DISPLAY" ] && [ -n "$DISPLAY" ]; then
        echo "export DISPLAY=$DISPLAY" >> "$ENV.new"
    else
        if ! alive xvfb; then
            n=77
            while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
            Xvfb ":$n" -screen 0 "${YXYT_SCREEN:-1920x1080x24}" -nolisten tcp >"$RUN/xvfb.log" 2>&1 &
            echo $! > "$RUN/xvfb.pid"
            echo ":$n" > "$RUN/display"
            i=0
            until [ -e "/tmp/.X11-unix/X$n" ]; do
                i=$((i + 1)); [ $i -lt 100 ] || { echo "Xvfb did not start" >&2; exit 1; }
                sleep 0.1
            done
        fi
        echo "export DISPLAY=$(cat "$RUN/display")" >> "$ENV.new"
    fi
    if [ -n "$YXYT_USE_SOUND" ] && [ -n "$PULSE_SERVER$XDG_RUNTIME_DIR" ]; then
        [ -n "$PULSE_SERVER" ] && echo "export PULSE_SERVER=$PULSE_SERVER" >> "$ENV.new"
    else
        mkdir -p "$RUN/xdg"
        chmod 700 "$RUN/xdg"
        if ! alive pulse; then
            XDG_RUNTIME_DIR="$RUN/xdg" HOME="$RUN" pulseaudio --daemonize=no --exit-idle-time=-1 \
                --disallow-exit -n --use-pid-file=no \
                --load="module-null-sink sink_name=$SINK rate=44100" \
                --load="module-native-protocol-unix auth-anonymous=1" \
                --load="module-always-sink" >"$RUN/pulse.log" 2>&1 &
            echo $! > "$RUN/pulse.pid"
            i=0
            until [ -S "$RUN/xdg/pulse/native" ]; do
                i=$((i + 1)); [ $i -lt 150 ] || { echo "PulseAudio did not start" >&2; cat "$RUN/pulse.log" >&2; exit 1; }
                sleep 0.1
            done
        fi
        echo "export PULSE_SERVER=unix:$RUN/xdg/pulse/native" >> "$ENV.new"
        echo "export YXYT_SINK=$SINK" >> "$ENV.new"
    fi
    mv "$ENV.new" "$ENV"
    . "$ROOT/tools/wine-env.sh"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w
    fi
    # A persistent server spares every later wine call the server start-up.
    wineserver -p >/dev/null 2>&1 || true
    # Start Wine's service processes now, detached from any pipe: started by
    # the first test they would inherit its output and keep a reader such as
    # ctest waiting for the pipe to close. They live as long as the server.
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}

# The sink is reached through the session's own server, which a shell
# that did not read session.env does not know of.
record_command() {
    [ -f "$ENV" ] || { echo "no session running for $YXYT_BUILD" >&2; exit 1; }
    . "$ENV"
    [ -n "${YXYT_SINK:-}" ] || { echo "the session plays to your own sound server" >&2; exit 1; }
    echo "PULSE_SERVER='$PULSE_SERVER' parec -d $YXYT_SINK.monitor --latency-msec=5 --raw --format=s16le --rate=44100 --channels=2"
}

case "$1" in
    start) start ;;
    stop) stop ;;
    record-command) record_command ;;
    *) echo "usage: $0 start|stop|record-command" >&2; exit 2 ;;
esac
