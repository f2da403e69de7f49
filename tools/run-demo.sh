#!/usr/bin/env bash
# Builds Kestrel and the simulated unit for Linux, starts the unit on COM3 in build/demo (the
# port is the link build/demo/COM3 to a pseudo-terminal), runs a command-line session on it
# (bank table, a download with its verify, the read-back, the log, a report) and then Kestrel's
# menu.
# With arguments only Kestrel's run with them takes place, for example: tools/run-demo.sh +info
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

echo "The simulated unit answers on COM3 (its log: build/demo/unit.log)."
sleep 1
if [ $# -gt 0 ]; then
    status=0
    "$root/build/linux/kestrel" /interface 3 "$@" || status=$?
    echo "Kestrel ended with status $status."
    exit $status
fi

# A demonstration image of 20 KiB, loaded into bank 2 and read back.
head -c 20480 /dev/urandom >demo_fw.bin
session=(/port COM3 +info /load_fw demo_fw.bin /bank 2 /comment "demo run" +verify +get_fw +get_log
         /report report.json)
echo
echo "=== A command-line session: kestrel ${session[*]}"
status=0
"$root/build/linux/kestrel" "${session[@]}" || status=$?
echo "=== Kestrel ended with status $status."
readback=$(ls -td 20*_*/ 2>/dev/null | head -n 1)
if [ -n "$readback" ] && cmp -s demo_fw.bin "${readback}FW_Bank2.bin"; then
    echo "=== build/demo/${readback}FW_Bank2.bin equals demo_fw.bin; the log is build/demo/${readback}log.txt."
else
    echo "=== The image read back differs from demo_fw.bin or is missing."
fi
echo "=== The run's report for scripts is build/demo/report.json."
echo
echo "=== Now Kestrel's menu on the same unit (S shows the banks, Q quits)."
sleep 3
status=0
"$root/build/linux/kestrel" /interface 3 || status=$?
echo "Kestrel ended with status $status."
exit $status
