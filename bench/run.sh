#!/usr/bin/env bash
# Runs every benchmark (build/bin/*_bench.exe) under Wine, in a prefix of its own, with Wine and
# the benchmark pinned to one CPU: on several CPUs the figures are mostly scheduling latency.
# Usage: bench/run.sh BUILD_DIR [benchmark name ...]   (called by ./dev bench, under Xvfb)
set -euo pipefail
build=$(cd "${1:?build dir}" && pwd)
shift || true
here=$(cd "$(dirname "$0")" && pwd)
# The build's own Wine, 32- or 64-bit (cmake/wine-env).
mk_build=$build
. "$here/../cmake/wine-env"
export MK_WINEPREFIX="$build/bench-prefix"
export WINEPREFIX="$MK_WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

cleanup() { wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true; }
trap cleanup EXIT

mkdir -p "$WINEPREFIX"
# The server and every Wine process it starts inherit the CPU mask.
taskset -c 0 "$here/../cmake/wine-fixture" setup
status=0
found=0
for exe in "$build"/bin/*_bench.exe; do
    [ -e "$exe" ] || continue
    name=$(basename "$exe" .exe)
    if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
    found=1
    echo "== $name"
    (cd "$build/bin" && taskset -c 0 "$here/../cmake/wine-run" "$exe") || status=1
done
[ $found -eq 1 ] || { echo "bench: no benchmark found in $build/bin" >&2; status=1; }
exit $status
