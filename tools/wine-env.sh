# Sourced (with ROOT set to the checkout) by every script that runs Wine:
# one prefix per checkout, the Chinese locale that gives code page 936, and
# the display and sound server of the running test session, if any.
: "${YXYT_BUILD:=$ROOT/build}"
export WINEPREFIX="${WINEPREFIX:-$YXYT_BUILD/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# Without Gecko and Mono Wine would ask to download them on the first start.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
export LANG=zh_CN.UTF-8
unset LC_ALL LANGUAGE
if [ -f "$YXYT_BUILD/session.env" ]; then
    . "$YXYT_BUILD/session.env"
fi
