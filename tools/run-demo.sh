#!/usr/bin/env bash
# Builds Kestrel and the simulated unit for Linux (the release preset: no tests, so only the
# compiler, CMake and the JSON library are installed), starts four simulated units on COM3 to
# COM6 in build/demo (each port a link build/demo/COMn to a pseudo-terminal), and shows:
#   1. a command-line run over the four units at once: a download into bank 2 with its verify,
#      the image read back and the log fetched, with a report and the run's events;
#   2. the same load again with +skip_same: every unit holds the image already, so it is only
#      verified;
#   3. Kestrel's menu on the unit on COM3.
# With arguments only Kestrel's run with them takes place, for example: tools/run-demo.sh +info
# (on COM3), or tools/run-demo.sh /ports COM3,COM4 +info.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

tools/install-deps.sh --demo
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc 2>/dev/null || echo 2)" --target kestrel kestrel-unit
kestrel="$root/build/release/kestrel"

mkdir -p build/demo
cd build/demo
rm -f COM3 COM4 COM5 COM6
"$root/build/release/kestrel-unit" --ports 3-6 --dir . --verbose 1 >unit.log 2>&1 &
unit=$!
trap 'kill $unit 2>/dev/null; wait $unit 2>/dev/null || true' EXIT
for port in COM3 COM4 COM5 COM6; do
    while [ ! -L $port ]; do
        kill -0 $unit 2>/dev/null || { cat unit.log; exit 1; }
        sleep 0.1
    done
done

echo "Four simulated units answer on COM3 to COM6 (their log: build/demo/unit.log)."
sleep 1
if [ $# -gt 0 ]; then
    status=0
    case "$1" in
        /ports|/port|/interface) "$kestrel" "$@" || status=$? ;;
        *) "$kestrel" /interface 3 "$@" || status=$? ;;
    esac
    echo "Kestrel ended with status $status."
    exit $status
fi

# A demonstration image of 20 KiB, loaded into bank 2 of every unit and read back.
head -c 20480 /dev/urandom >demo_fw.bin
session=(/ports COM3,COM4,COM5,COM6 /load_fw demo_fw.bin /bank 2 /comment "demo run" +verify
         +get_fw +get_log /report report.json /events events.jsonl)
echo
echo "=== Four units at once: kestrel ${session[*]}"
status=0
"$kestrel" "${session[@]}" || status=$?
echo "=== Kestrel ended with status $status."
readback=$(ls -td 20*_*/ 2>/dev/null | head -n 1)
for unit_folder in unit_COM3 unit_COM4 unit_COM5 unit_COM6; do
    if [ -n "$readback" ] && cmp -s demo_fw.bin "${readback}${unit_folder}/FW_Bank2.bin"; then
        echo "=== build/demo/${readback}${unit_folder}/FW_Bank2.bin equals demo_fw.bin."
    else
        echo "=== The image read back in ${unit_folder} differs from demo_fw.bin or is missing."
    fi
done
echo "=== The report for scripts is build/demo/report.json, the run's events build/demo/events.jsonl."
echo
again=(/ports COM3,COM4,COM5,COM6 +skip_same /load_fw demo_fw.bin /bank 2 +verify)
echo "=== The same release again, skipped where the unit holds it: kestrel ${again[*]}"
sleep 2
status=0
"$kestrel" "${again[@]}" || status=$?
echo "=== Kestrel ended with status $status."
echo
echo "=== Now Kestrel's menu on the unit on COM3 (S shows the banks, Q quits)."
sleep 3
status=0
"$kestrel" /interface 3 || status=$?
echo "Kestrel ended with status $status."
exit $status
