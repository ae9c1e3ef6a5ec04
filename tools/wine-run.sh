#!/bin/sh
# Runs a Windows program under Wine with the project's prefix and locale.
ROOT=$(cd "$(dirname "$0")/.." && pwd)
. "$ROOT/tools/wine-env.sh"
exec wine "$@"
