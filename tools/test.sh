#!/bin/bash
# The one test command. Stages, in order:
#   setup         tools/setup.sh (as root; otherwise only checks the tools)
#   native        pure-logic build with AddressSanitizer and UBSan
#   native-tests  its ctest
#   fuzz          a short run of the parser fuzzers (tools/fuzz.sh)
#   cross         the Windows build: YXYT.exe, bass.dll, Wine tests, probe.exe
#   session       Xvfb, PulseAudio null sink and Wine prefix, two of each:
#                 one for the end-to-end tests, one for the in-process tests
#   wine-tests    ctest of the in-process Windows tests, run under Wine
#   pytest        end-to-end and asset tests (tests/)
# Both test stages mostly wait on Wine, windows and the sound server, not on
# the processors, so they run side by side, each on a display, a sound server
# and a Wine prefix of its own; the release build the package test needs is
# compiled meanwhile.
# Every stage logs to $YXYT_BUILD/logs/<stage>.log. The last line is
# "N passed, N failed, N skipped"; the exit status is non-zero on any failure.
#   YXYT_BUILD   cross build and session folder (default build/test)
#   YXYT_JOBS    parallel build jobs (default 2)
#   PYTEST_ARGS  extra pytest arguments, e.g. "-k window"
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export YXYT_BUILD="${YXYT_BUILD:-$ROOT/build/test}"
NATIVE="$YXYT_BUILD-native"
LOGS="$YXYT_BUILD/logs"
JOBS="${YXYT_JOBS:-2}"
mkdir -p "$LOGS"
rm -f "$LOGS"/*.log "$LOGS"/*.xml "$LOGS"/*.rc

PASSED=0 FAILED=0 SKIPPED=0
SUMMARY=()
FAILED_STAGES=()

# stage NAME COMMAND...: runs the command with its output in the stage's log.
stage() {
    local name=$1 start=$SECONDS rc
    shift
    "$@" >"$LOGS/$name.log" 2>&1
    rc=$?
    report "$name" $rc $((SECONDS - start))
}

# report NAME EXIT SECONDS: the stage's line, and its log's end if it failed.
report() {
    local name=$1 rc=$2 log="$LOGS/$1.log"
    printf '== %-13s ' "$name"
    if [ "$rc" -eq 0 ]; then
        echo "ok ($3 s)"
    else
        echo "FAILED (exit $rc, $3 s); last lines of $log:"
        tail -n 40 "$log" | sed 's/^/   | /'
        FAILED_STAGES+=("$name")
    fi
    return "$rc"
}

# A build-like stage counts as one failed check when it fails.
count_stage() {
    if [ "$2" -eq 0 ]; then
        SUMMARY+=("$(printf '%-13s ok' "$1")")
    else
        FAILED=$((FAILED + 1))
        SUMMARY+=("$(printf '%-13s FAILED' "$1")")
    fi
}

not_run() {
    FAILED=$((FAILED + 1))
    SUMMARY+=("$(printf '%-13s not run: %s' "$1" "$2")")
    echo "== $(printf '%-13s' "$1") not run: $2"
}

# ctest's own summary: "NN% tests passed, F tests failed out of T"; tests
# that did not run are listed with "(Skipped)" and included in T.
count_ctest() {
    local name=$1 log="$LOGS/$1.log" total failed skipped
    total=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\2/p' "$log" | tail -n 1)
    failed=$(sed -n 's/.*tests passed, \([0-9]*\) tests\{0,1\} failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
    if [ -z "$total" ]; then
        if grep -q 'No tests were found' "$log"; then total=0 failed=0; else total=1 failed=1; fi
    fi
    skipped=$(grep -c '(Skipped)' "$log")
    PASSED=$((PASSED + total - failed - skipped))
    FAILED=$((FAILED + failed))
    SKIPPED=$((SKIPPED + skipped))
    SUMMARY+=("$(printf '%-13s %d passed, %d failed, %d skipped' "$name" $((total - failed - skipped)) "$failed" "$skipped")")
}

# pytest's JUnit report: errors count as failures.
count_pytest() {
    local name=$1 xml=$2 counts
    if [ ! -s "$xml" ]; then
        FAILED=$((FAILED + 1))
        SUMMARY+=("$(printf '%-13s FAILED (no report)' "$name")")
        return
    fi
    counts=$(python3 - "$xml" <<'EOF'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
suites = [root] if root.tag == "testsuite" else list(root.iter("testsuite"))
t = sum(int(s.get("tests", 0)) for s in suites)
f = sum(int(s.get("failures", 0)) + int(s.get("errors", 0)) for s in suites)
k = sum(int(s.get("skipped", 0)) for s in suites)
print(t - f - k, f, k)
EOF
)
    set -- $counts
    PASSED=$((PASSED + $1)) FAILED=$((FAILED + $2)) SKIPPED=$((SKIPPED + $3))
    SUMMARY+=("$(printf '%-13s %d passed, %d failed, %d skipped' "$name" "$1" "$2" "$3")")
}

# The Python that has pytest (a user's own python3 may lack it).
pytest_python() {
    for py in python3 /usr/bin/python3; do
        if command -v "$py" >/dev/null && "$py" -c 'import pytest' 2>/dev/null; then echo "$py"; return; fi
    done
    echo python3
}

do_setup() {
    "$ROOT/tools/setup.sh"
}

do_native() {
    cmake -S "$ROOT" --preset native -B "$NATIVE" &&
        cmake --build "$NATIVE" -j"$JOBS"
}

do_cross() {
    cmake -S "$ROOT" --preset dev -B "$YXYT_BUILD" &&
        cmake --build "$YXYT_BUILD" -j"$JOBS"
}

# The in-process tests' own session: Wine's tools find it through YXYT_BUILD.
WINE_TESTS_SESSION="$YXYT_BUILD/wine-tests-session"

do_sessions() {
    "$ROOT/tools/session.sh" start &&
        YXYT_BUILD="$WINE_TESTS_SESSION" "$ROOT/tools/session.sh" start
}

do_wine_tests() {
    set -a
    . "$WINE_TESTS_SESSION/session.env"
    set +a
    YXYT_BUILD="$WINE_TESTS_SESSION" ctest --test-dir "$YXYT_BUILD" -j1 --output-on-failure
}

# The release build of the package test, without the publisher's settings.
do_dist_build() {
    env -u YXYT_SERVER_BASE -u YXYT_HOME_PAGE -u YXYT_SUPPORT_MAIL \
        cmake -S "$ROOT" --preset dist -B "$YXYT_BUILD-dist" &&
        cmake --build "$YXYT_BUILD-dist" -j1 --target YXYT bass
}

do_pytest() {
    set -a
    . "$YXYT_BUILD/session.env"
    set +a
    # shellcheck disable=SC2086
    "$(pytest_python)" -m pytest -p no:cacheprovider -v -rfEs --junitxml="$LOGS/pytest.xml" \
        ${PYTEST_ARGS:-} "$ROOT/tests"
}

stop_session() {
    [ -f "$YXYT_BUILD/session.env" ] && "$ROOT/tools/session.sh" stop >>"$LOGS/session.log" 2>&1
    [ -f "$WINE_TESTS_SESSION/session.env" ] &&
        YXYT_BUILD="$WINE_TESTS_SESSION" "$ROOT/tools/session.sh" stop >>"$LOGS/session.log" 2>&1
    return 0
}
trap stop_session EXIT

TOTAL_START=$SECONDS

stage setup do_setup
count_stage setup $?

if stage native do_native; then
    count_stage native 0
    # The fuzz run is its own stage below.
    stage native-tests ctest --test-dir "$NATIVE" -j"$JOBS" --output-on-failure -E '^parser_fuzz_short$'
    count_ctest native-tests
else
    count_stage native 1
    not_run native-tests "native build failed"
fi

if [ -x "$ROOT/tools/fuzz.sh" ]; then
    stage fuzz env YXYT_FUZZ_BUILD="$NATIVE/fuzz" "$ROOT/tools/fuzz.sh" 30
    count_stage fuzz $?
fi

cross_ok=0
stage cross do_cross && cross_ok=1
count_stage cross $((1 - cross_ok))

session_ok=0
stage session do_sessions && session_ok=1
count_stage session $((1 - session_ok))

if [ $cross_ok -eq 1 ] && [ $session_ok -eq 1 ]; then
    # The package test's own build waits on this lock until this one is done.
    exec 9>"$YXYT_BUILD-dist.lock"
    flock 9
    (
        start=$SECONDS
        do_dist_build >"$LOGS/dist-build.log" 2>&1
        echo "$? $((SECONDS - start))" >"$LOGS/dist-build.rc"
    ) &
    dist_job=$!
    exec 9>&-
    (
        start=$SECONDS
        do_wine_tests >"$LOGS/wine-tests.log" 2>&1
        echo "$? $((SECONDS - start))" >"$LOGS/wine-tests.rc"
    ) &
    wine_job=$!
    stage pytest do_pytest
    wait $dist_job $wine_job
    read -r rc took <"$LOGS/dist-build.rc"
    report dist-build "$rc" "$took"
    count_stage dist-build "$rc"
    read -r rc took <"$LOGS/wine-tests.rc"
    report wine-tests "$rc" "$took"
    count_ctest wine-tests
    count_pytest pytest "$LOGS/pytest.xml"
else
    not_run wine-tests "cross build or session failed"
    not_run pytest "cross build or session failed"
fi

stop_session
trap - EXIT

echo
echo "Summary ($((SECONDS - TOTAL_START)) s, logs in $LOGS):"
for line in "${SUMMARY[@]}"; do echo "  $line"; done
[ ${#FAILED_STAGES[@]} -gt 0 ] && echo "  failing stages: ${FAILED_STAGES[*]}"
echo "$PASSED passed, $FAILED failed, $SKIPPED skipped"
[ "$FAILED" -eq 0 ]
