#!/usr/bin/env bash
# Builds Kestrel and the simulated unit for Linux, starts the unit on COM3 in build/demo (the
# port is the link build/demo/COM3 to a pseudo-terminal) and runs Kestrel's menu on it.
# Extra arguments go to Kestrel, for example: tools/run-demo.sh +info
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

tools/install-deps.sh
cmake --preset linux >/dev/null
cmake --build --preset linux -j "$(nproc 2>/dev/null || echo 2)" --target kestrel kestrel-unit

mkdir -p build/demo
cd build/demo
"$root/build/linux/kestrel-unit" --port 3 --dir . --verbose 1 >unit.log 2>&1 &
unit=$!
trap 'kill $unit 2>/dev/null; wait $unit 2>/dev/null || true' EXIT
while [ ! -L COM3 ]; do
    kill -0 $unit 2>/dev/null || { cat unit.log; exit 1; }
    sleep 0.1
done

echo "The simulated unit answers on COM3 (its log: build/demo/unit.log). Q quits Kestrel."
sleep 1
status=0
"$root/build/linux/kestrel" /interface 3 "$@" || status=$?
echo "Kestrel ended with status $status."
exit $status
