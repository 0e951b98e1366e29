#!/usr/bin/env bash
# Writes PNG pictures of ramtidy's windows so that a person can check their layout: the status
# window in the middle of a cleaning run and the settings dialog.
#   tools/screenshots.sh <build dir> [output dir]     (./dev screenshots runs it under Xvfb)
# Installs nothing: it needs the Japanese font fonts-ipafont-gothic and imagemagick, which
# `./dev setup` installs. The pictures go to <build dir>/screenshots unless given.
set -euo pipefail
build=$(cd "${1:?usage: screenshots.sh <build dir> [output dir]}" && pwd)
out=${2:-$build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
exe=$build/bin/ramtidy.exe
[ -f "$exe" ] || { echo "screenshots: $exe not built" >&2; exit 1; }
[ -n "${DISPLAY:-}" ] || { echo "screenshots: needs an X display (./dev screenshots gives one)" >&2; exit 1; }

# A prefix of its own, so that the fonts and frame settings below touch no test prefix.
export WINEPREFIX=$build/screenshots-wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wjp() { env LC_ALL=ja_JP.UTF-8 "$@"; }
mkdir -p "$WINEPREFIX"
wineserver -p
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill -CONT "$p" 2>/dev/null || true; done
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
}
trap cleanup EXIT
wjp wineboot -i >/dev/null 2>&1 || true

# Fonts: the label's "ＭＳ Ｐゴシック" and the dialog font drawn with the IPA fonts from Debian.
reg_add() { wjp wine reg add "$1" /v "$2" /d "$3" /f >/dev/null; }
for face in "ＭＳ Ｐゴシック" "MS PGothic" "MS UI Gothic" "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma"; do
    reg_add 'HKCU\Software\Wine\Fonts\Replacements' "$face" "IPAPGothic"
done
for face in "ＭＳ ゴシック" "MS Gothic"; do
    reg_add 'HKCU\Software\Wine\Fonts\Replacements' "$face" "IPAGothic"
done
# Xvfb runs no window manager: let Wine draw the frames and captions itself.
reg_add 'HKCU\Software\Wine\X11 Driver' Decorated N
reg_add 'HKCU\Software\Wine\X11 Driver' Managed N
reg_add 'HKCU\Software\Wine\Drivers' Graphics x11
reg_add 'HKCU\Software\VB and VBA Program Settings\Orbel\Memory Cleaner' ShowWnd True

# The X window of ramtidy's one shown form, or nothing (needs xwininfo from x11-utils).
shown_window() {
    command -v xwininfo >/dev/null || return 0
    xwininfo -root -children 2>/dev/null | awk '/"ramtidy.exe"/ {print $1}' | while read -r id; do
        if xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
            echo "$id"
            break
        fi
    done
}

wait_window() {
    local id=""
    for _ in $(seq 1 150); do
        id=$(shown_window)
        [ -n "$id" ] && { echo "$id"; return 0; }
        command -v xwininfo >/dev/null || { sleep 2; return 0; }
        sleep 0.1
    done
    return 1
}

snap() {  # window id (may be empty: whole screen), file
    if [ -n "$1" ]; then import -window "$1" "$2"; else import -window root "$2"; fi
    echo "screenshots: wrote $2"
}

# Status window: a long run (1000 steps of 1 MB), frozen part-way so that the picture shows
# the bar and the label in the middle of the run. The report goes to no window (handle 0).
total_kb=$(awk '/^MemTotal:/ {print $2}' /proc/meminfo)
percent=$(awk -v t="$total_kb" 'BEGIN { p = 1000.25 * 1024 * 100 / t; if (p > 100) p = 100; printf "%.6f", p }')
wjp wine "$exe" MK0 "/$percent" &
pid=$!
pids+=("$pid")
id=$(wait_window) || { echo "screenshots: the status window did not appear" >&2; exit 1; }
sleep 0.6
kill -STOP "$pid"
sleep 0.3
snap "$id" "$out/ramtidy-status.png"
kill -CONT "$pid"
wait "$pid" || true

# Settings dialog.
wjp wine "$exe" MK0 /SETTING &
pid=$!
pids+=("$pid")
id=$(wait_window) || { echo "screenshots: the settings dialog did not appear" >&2; exit 1; }
sleep 0.5
snap "$id" "$out/ramtidy-settings.png"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
