#!/usr/bin/env bash
# Builds Kestrel for Linux and shows it at work: its version and its command-line help.
set -euo pipefail
cd "$(dirname "$0")/.."

tools/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc 2>/dev/null || echo 2)" --target kestrel
echo
build/linux/kestrel /version
build/linux/kestrel /h
