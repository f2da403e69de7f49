#!/bin/sh
# Makes (setup) or stops (cleanup) the private wine prefix of one test run.
set -u
action=$1
prefix=$2
loader=/usr/lib/wine/wine64
[ -x "$loader" ] || loader=$(command -v wine64 || command -v wine)
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=$(command -v wineserver || echo wineserver)
export WINEPREFIX="$prefix" WINEDEBUG=-all
case "$action" in
setup)
    if [ -d "$prefix" ]; then
        "$server" -k >/dev/null 2>&1 || true
        rm -rf "$prefix"
    fi
    mkdir -p "$prefix"
    # A persistent server, started first, serves the many short runs of the tests.
    "$server" -p >/dev/null 2>&1 || true
    "$loader" wineboot --init >/dev/null 2>&1
    [ -d "$prefix/dosdevices" ] || { echo "could not create wine prefix $prefix" >&2; exit 1; }
    ;;
cleanup)
    "$server" -k >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: prefix.sh setup|cleanup DIR" >&2
    exit 2
    ;;
esac
