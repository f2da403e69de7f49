#!/usr/bin/env bash
# Builds Kestrel in every configuration and runs every test, printing the time each took:
#   windows  kestrel.exe (mingw-w64); the unit tests and the stand-in card under wine
#   asan     the unit tests and the simulated unit's tests under AddressSanitizer with
#            UndefinedBehaviorSanitizer, and a kestrel built so for the end-to-end tests
#   tsan     the unit tests and the simulated unit's tests under ThreadSanitizer
#   linux    every test: the layer check, unit, simulated unit, stand-in card, black-box and
#            end-to-end tests of the real program natively, under wine (kestrel.exe) and with
#            the AddressSanitizer build's kestrel
#   fuzz     a short run of each fuzz target (clang, libFuzzer) over its seed corpus
#   release  the program and the tools in the Release build type (built, not tested)
#
# windows, asan and linux are built first: linux's tests run their programs. Those tests spend
# most of their time waiting out the unit's time-outs, so while they run the other
# configurations are built and tested beside them, at a lower priority so that the waits the
# tests measure are not stretched.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
# The compiler cache, when present, also takes the files compiled with a precompiled header.
export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
# Paths are taken relative to the checkout, so that another clone of the sources, anywhere,
# finds what an earlier one compiled.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1

status=0
summary=""
run_start=$(date +%s)

# build PRESET [NICE...]: configures and builds; prints its time.
build() {
    local preset=$1
    shift
    local start
    start=$(date +%s)
    echo "=== $preset: build"
    cmake --preset "$preset" >/dev/null
    if ! "$@" cmake --build --preset "$preset" -j "$jobs"; then
        status=1
        summary+="$(printf '%-8s build FAILED' "$preset")"$'\n'
        return 1
    fi
    summary+="$(printf '%-8s build %4d s' "$preset" $(($(date +%s) - start)))"$'\n'
}

# check PRESET TEST_JOBS [NICE...]: runs the preset's tests; prints their time.
check() {
    local preset=$1 test_jobs=$2
    shift 2
    local start result=passed
    start=$(date +%s)
    echo "=== $preset: tests"
    if ! "$@" ctest --preset "$preset" -j "$test_jobs"; then
        status=1
        result=FAILED
    fi
    summary+="$(printf '%-8s tests %4d s  %s' "$preset" $(($(date +%s) - start)) "$result")"$'\n'
}

low=(nice -n 15)
build windows || true
build asan || true
if build linux; then
    # Twice as many tests as cores: most of them wait. Their output is shown when they end.
    linux_start=$(date +%s)
    ctest --preset linux -j $((jobs * 2)) >build/linux-tests.log 2>&1 &
    linux_tests=$!
else
    linux_tests=""
fi
[ -x build/windows/kestrel.exe ] && check windows "$jobs" "${low[@]}"
[ -x build/asan/kestrel ] && check asan "$jobs" "${low[@]}"
build tsan "${low[@]}" && check tsan "$jobs" "${low[@]}"
build fuzz "${low[@]}" && check fuzz "$jobs" "${low[@]}"
build release "${low[@]}" || true
if [ -n "$linux_tests" ]; then
    result=passed
    wait "$linux_tests" || { status=1; result=FAILED; }
    echo "=== linux: tests"
    cat build/linux-tests.log
    summary+="$(printf '%-8s tests %4d s  %s' linux $(($(date +%s) - linux_start)) "$result")"$'\n'
fi

echo "=== times (the linux tests run beside the builds and tests after them)"
printf '%s' "$summary"
echo "whole run $(($(date +%s) - run_start)) s"
if [ $status -eq 0 ]; then
    echo "=== all tests passed"
else
    echo "=== some tests FAILED (see above)"
fi
exit $status
