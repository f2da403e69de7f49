#!/usr/bin/env bash
# Builds Kestrel and the simulated unit for Linux, starts the unit on COM3 in build/demo (the
# port is the link build/demo/COM3 to a pseudo-terminal) and runs Kestrel there.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

tools/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc 2>/dev/null || echo 2)" --target kestrel kestrel-unit

mkdir -p build/demo
cd build/demo
"$root/build/linux/kestrel-unit" --port 3 --dir . --verbose 1 &
unit=$!
trap 'kill $unit 2>/dev/null; wait $unit 2>/dev/null' EXIT
while [ ! -L COM3 ]; do sleep 0.1; done

echo
"$root/build/linux/kestrel" /version
"$root/build/linux/kestrel" /h
echo
echo "The simulated unit answers on COM3 (build/demo/COM3). Stop it with Ctrl-C."
wait $unit
