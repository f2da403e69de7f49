#!/usr/bin/env bash
# Builds Kestrel as it is shipped (the Release build type) for Linux and for Windows and makes its
# packages, with the version of the project() line of CMakeLists.txt, in build/packages/ (or the
# folder given):
#   kestrel_<version>_<arch>.deb       kestrel and its README
#   kestrel-unit_<version>_<arch>.deb  the simulated unit
#   kestrel-<version>-win64.zip        kestrel.exe and the README
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -gt 1 ] || [ "${1:-}" = "-h" ] || [ "${1:-}" = "--help" ]; then
    echo "usage: tools/package.sh [FOLDER]   (default build/packages)" >&2
    exit 2
fi
out=${1:-build/packages}
mkdir -p "$out"
out=$(cd "$out" && pwd)

tools/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
for preset in release windows-release; do
    echo "=== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    cpack --config "build/$preset/CPackConfig.cmake" -B "$out"
done
rm -rf "$out/_CPack_Packages"
echo "=== packages in $out"
ls -l "$out"
