#!/bin/sh
# Makes the packages of a build tree with cpack, as a user would, unpacks them into a fresh
# folder and checks what each holds and that the program in it runs:
#   check_package.sh deb CPACK VERSION BUILD_DIR WORK_DIR
#       kestrel_<version>_<arch>.deb and kestrel-unit_<version>_<arch>.deb (dpkg-deb -x)
#   check_package.sh zip CPACK VERSION BUILD_DIR WORK_DIR CMAKE WINE
#       kestrel-<version>-win64.zip (cmake -E tar xf), kestrel.exe run under WINE
set -u
kind=$1 cpack=$2 version=$3 build=$4 work=$5
banner="  Kestrel QX_RL4471902-3"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# The files under a folder, one relative path a line, sorted.
files_under() {
    (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | tr '\n' ' ')
}

# Runs a program's /version and checks its answer and status; under wine "\n" reaches a pipe
# as "\r\n".
check_version() {
    out=$("$@" /version)
    status=$?
    [ "$status" -eq 0 ] || fail "$* /version ended with status $status"
    out=$(printf '%s' "$out" | tr -d '\r')
    [ "$out" = "$banner" ] || fail "$* /version printed '$out', not '$banner'"
}

[ -f "$build/CPackConfig.cmake" ] || fail "no CPackConfig.cmake in $build: configure it with this source tree"
rm -rf "$work"
mkdir -p "$work/out" "$work/root"
"$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack failed in $build"; }

case "$kind" in
deb)
    arch=$(dpkg --print-architecture)
    for package in kestrel kestrel-unit; do
        deb="$work/out/${package}_${version}_${arch}.deb"
        [ -f "$deb" ] || fail "no $deb; cpack made: $(ls "$work/out" | tr '\n' ' ')"
        [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] || fail "$deb is not named $package"
        [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "$deb is not version $version"
        dpkg-deb -f "$deb" Depends | grep -q 'libc6' || fail "$deb does not depend on libc6"
        dpkg-deb -x "$deb" "$work/root/$package" || fail "dpkg-deb -x $deb failed"
    done
    held=$(files_under "$work/root/kestrel")
    [ "$held" = "usr/bin/kestrel usr/share/doc/kestrel/README.md " ] ||
        fail "the kestrel package holds: $held"
    held=$(files_under "$work/root/kestrel-unit")
    [ "$held" = "usr/bin/kestrel-unit " ] || fail "the kestrel-unit package holds: $held"
    check_version "$work/root/kestrel/usr/bin/kestrel"
    "$work/root/kestrel-unit/usr/bin/kestrel-unit" --help >/dev/null ||
        fail "kestrel-unit --help from its package failed"
    ;;
zip)
    cmake=$6 wine=$7
    zip="$work/out/kestrel-${version}-win64.zip"
    [ -f "$zip" ] || fail "no $zip; cpack made: $(ls "$work/out" | tr '\n' ' ')"
    (cd "$work/root" && "$cmake" -E tar xf "$zip") || fail "cannot unpack $zip"
    held=$(files_under "$work/root")
    [ "$held" = "kestrel-${version}-win64/README.md kestrel-${version}-win64/kestrel.exe " ] ||
        fail "the zip holds: $held"
    check_version "$wine" "$work/root/kestrel-${version}-win64/kestrel.exe"
    ;;
*)
    fail "unknown package kind $kind"
    ;;
esac
rm -rf "$work"
echo "$kind packages of version $version checked"
