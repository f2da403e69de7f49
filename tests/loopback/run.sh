#!/bin/sh
# Runs a command against a simulated unit on COM<port>, made in a fresh working folder:
#   run.sh KESTREL_UNIT PORT FOLDER [--wine-prefix PREFIX] -- COMMAND ...
# With a wine prefix the unit also appears to Windows programs as COM<port>.
set -u
unit=$1
port=$2
dir=$3
shift 3
prefix=""
if [ "${1:-}" = "--wine-prefix" ]; then
    prefix=$2
    shift 2
fi
[ "${1:-}" = "--" ] && shift

rm -rf "$dir"
mkdir -p "$dir"
if [ -n "$prefix" ]; then
    "$unit" --port "$port" --dir "$dir" --wine-prefix "$prefix" >"$dir/unit.log" 2>&1 &
    link="$prefix/dosdevices/com$port"
else
    "$unit" --port "$port" --dir "$dir" >"$dir/unit.log" 2>&1 &
    link="$dir/COM$port"
fi
unit_pid=$!
tries=0
while [ ! -L "$link" ] && [ $tries -lt 200 ]; do
    sleep 0.05
    tries=$((tries + 1))
done
if [ ! -L "$link" ]; then
    echo "the simulated unit did not make $link" >&2
    cat "$dir/unit.log" >&2
    kill "$unit_pid" 2>/dev/null
    exit 1
fi

(cd "$dir" && "$@")
status=$?
kill "$unit_pid" 2>/dev/null
wait "$unit_pid" 2>/dev/null
if [ $status -ne 0 ]; then
    echo "--- simulated unit's log:" >&2
    cat "$dir/unit.log" >&2
fi
exit $status
