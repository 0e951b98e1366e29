#!/usr/bin/env bash
# Runs the demo (tools/demo/mkdemo.cpp) under Wine in a prefix of its own, converts its
# screenshot to PNG, and makes sure no Wine process is left behind.
# Usage: tools/demo.sh BUILD_DIR   (called by ./dev demo, under Xvfb)
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
# The build's own Wine, 32- or 64-bit (cmake/wine-env).
mk_build=$build
. "$here/../cmake/wine-env"
echo "demo: the ${MK_WINE_ARCH#win}-bit build, under ${MK_WINE_ARCH#win}-bit Wine"
out="$build/demo"
mkdir -p "$out"
export MK_WINEPREFIX="$build/demo-prefix"
export WINEPREFIX="$MK_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

cleanup() { wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; }
trap cleanup EXIT

mkdir -p "$WINEPREFIX"
"$here/../cmake/wine-fixture" setup
status=0
"$here/../cmake/wine-run" "$build/bin/mkdemo.exe" "Z:${out//\//\\}" || status=$?
if [ -f "$out/ramtidy-status.bmp" ]; then
    convert "$out/ramtidy-status.bmp" "$out/ramtidy-status.png" && rm -f "$out/ramtidy-status.bmp"
    echo "screenshot: $out/ramtidy-status.png"
fi
cleanup
trap - EXIT
# Any Wine process still running with this prefix was left behind.
for pid in $(pgrep -f 'wineserver|wine-preloader|\.exe' || true); do
    if { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
        echo "demo: process $pid left behind: $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" >&2
        status=1
    fi
done
exit $status
