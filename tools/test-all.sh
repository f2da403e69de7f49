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
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
# The compiler cache, when present, also takes the files compiled with a precompiled header.
export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime

status=0
summary=""
run_start=$(date +%s)
# windows and asan come before linux: its tests run their programs.
for preset in windows asan tsan linux fuzz release; do
    start=$(date +%s)
    echo "=== $preset: build"
    cmake --preset "$preset" >/dev/null
    if ! cmake --build --preset "$preset" -j "$jobs"; then
        status=1
        summary+="$(printf '%-8s build FAILED\n' "$preset")"$'\n'
        continue
    fi
    built=$(date +%s)
    result="passed"
    if [ "$preset" != release ]; then
        echo "=== $preset: tests"
        # The end-to-end tests of linux spend most of their time waiting out the unit's
        # time-outs, so twice as many run at once as there are cores.
        test_jobs=$jobs
        [ "$preset" = linux ] && test_jobs=$((jobs * 2))
        if ! ctest --preset "$preset" -j "$test_jobs"; then
            status=1
            result="FAILED"
        fi
    else
        result="built"
    fi
    done_at=$(date +%s)
    line=$(printf '%-8s build %4d s  tests %4d s  %s' "$preset" $((built - start)) \
        $((done_at - built)) "$result")
    echo "=== $line"
    summary+="$line"$'\n'
done

echo "=== times"
printf '%s' "$summary"
echo "whole run $(( $(date +%s) - run_start )) s"
if [ $status -eq 0 ]; then
    echo "=== all tests passed"
else
    echo "=== some tests FAILED (see above)"
fi
exit $status
