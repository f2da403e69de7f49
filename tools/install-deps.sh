#!/usr/bin/env bash
# Installs what building and testing Kestrel needs on a Debian machine, if anything is missing:
# CMake and g++, GoogleTest, the mingw-w64 cross compiler for kestrel.exe, wine to run it,
# clang with its run-time libraries (libFuzzer and the sanitizers) for the fuzz targets, and
# dpkg-dev and file, with which cpack works out the Debian packages' dependencies.
# With --demo only what building kestrel and the simulated unit needs (tools/run-demo.sh).
set -euo pipefail

if [ "${1:-}" = "--demo" ]; then
    packages=(cmake make g++ nlohmann-json3-dev)
else
    packages=(cmake make g++ ccache libgtest-dev googletest nlohmann-json3-dev
              g++-mingw-w64-x86-64-posix wine64 wine clang libclang-rt-14-dev dpkg-dev file)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null; then
        echo "These packages are missing and this user cannot install them: ${missing[*]}" >&2
        exit 1
    fi
    sudo=sudo
fi
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
