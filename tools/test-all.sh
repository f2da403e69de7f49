#!/usr/bin/env bash
# Builds Kestrel for Linux and for Windows and runs every test: the unit tests natively, under
# AddressSanitizer with UndefinedBehaviorSanitizer, under ThreadSanitizer and, for the Windows
# build, under wine; the black-box tests of the real program natively and under wine; and a
# short run of each fuzz target (clang, libFuzzer) over its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
# The Windows build comes first: the Linux build's black-box tests run its kestrel.exe.
for preset in windows linux asan tsan; do
    echo "=== build: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
done

status=0
for preset in linux windows asan tsan; do
    echo "=== tests: $preset"
    ctest --preset "$preset" -j "$jobs" || status=1
done

echo "=== fuzz: build and short runs"
fuzz_start=$(date +%s)
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
ctest --preset fuzz -j "$jobs" || status=1
echo "=== fuzz: took $(( $(date +%s) - fuzz_start )) s"

if [ $status -eq 0 ]; then
    echo "=== all tests passed"
else
    echo "=== some tests FAILED (see above)"
fi
exit $status
