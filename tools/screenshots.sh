#!/usr/bin/env bash
# Writes PNG pictures of ramtidy's windows so that a person can check their layout: the status
# window in the middle of a cleaning run and the settings dialog, each at 96 DPI (100 %) and at
# 144 DPI (150 %): ramtidy-status-96dpi.png, ramtidy-settings-96dpi.png, ...-144dpi.png.
#   tools/screenshots.sh <build dir> [output dir]     (./dev screenshots runs it under Xvfb)
# Installs nothing: it needs the Japanese font fonts-ipafont-gothic, Wine's own fonts fonts-wine
# (the caption buttons' glyphs), imagemagick and x11-utils, which `./dev setup` installs. The
# pictures go to <build dir>/screenshots unless given.
#
# The cleaning run is held at a known step while it is pictured, so the picture does not depend on
# the machine's speed: it runs in the plug-in's test build, ramtidy_testhold.exe, the same sources
# with the hold points compiled in (RAMTIDY_HOLD, see docs/plugin.md); the settings dialog is
# pictured from the shipped ramtidy.exe. Every wait has a bound; a failure says
# what did not happen and exits non-zero.
set -euo pipefail
fail() {
    echo "screenshots: $*" >&2
    exit 1
}
build=$(cd "${1:?usage: screenshots.sh <build dir> [output dir]}" && pwd)
out=${2:-$build/screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
rm -f "$out"/ramtidy-*.png # no picture of an earlier run may pass for one of this run
exe=$build/bin/ramtidy.exe
held_exe=$build/bin/ramtidy_testhold.exe
for f in "$exe" "$held_exe"; do
    [ -f "$f" ] || fail "$f not built"
done
[ -n "${DISPLAY:-}" ] || fail "needs an X display (./dev screenshots gives one)"
for tool in wineserver import xwininfo timeout; do
    command -v "$tool" >/dev/null || fail "$tool is missing (./dev setup installs it)"
done
# The build's own Wine (32- or 64-bit; cmake/wine-env).
mk_build=$build
. "$(dirname "$0")/../cmake/wine-env"

# A prefix of its own, so that the fonts and frame settings below touch no test prefix.
export WINEPREFIX=$build/screenshots-wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mk_prefix_of_kind
wjp() { env LC_ALL=ja_JP.UTF-8 "$@"; }
mkdir -p "$WINEPREFIX"
scratch=$(mktemp -d)
marker=$scratch/hold
# The same file as Wine sees it: Z: is the Unix root.
win_marker="Z:${marker//\//\\}"

# Ends every program of the prefix with its server; bounded, so that it cannot hang either.
stop_wine() {
    timeout 30 wineserver -k >/dev/null 2>&1 || true
    timeout 30 wineserver -w >/dev/null 2>&1 || true
}
cleanup() {
    stop_wine
    rm -rf "$scratch"
}
trap cleanup EXIT

timeout 300 env LC_ALL=ja_JP.UTF-8 "$mk_wine" wineboot -i >/dev/null 2>&1 || fail "wineboot did not finish within 300 s"

# Fonts: the label's "ＭＳ Ｐゴシック" and the dialog font drawn with the IPA fonts from Debian.
reg_add() {
    timeout 60 env LC_ALL=ja_JP.UTF-8 "$mk_wine" reg add "$1" /v "$2" /d "$3" /f >/dev/null 2>&1 ||
        fail "could not set $1\\$2 in the prefix"
}
for face in "ＭＳ Ｐゴシック" "MS PGothic" "MS UI Gothic" "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma"; do
    reg_add 'HKCU\Software\Wine\Fonts\Replacements' "$face" "IPAPGothic"
done
for face in "ＭＳ ゴシック" "MS Gothic"; do
    reg_add 'HKCU\Software\Wine\Fonts\Replacements' "$face" "IPAGothic"
done
# Wine's own fonts, for the caption buttons' glyphs (see cmake/wine-fixture).
reg_add 'HKCU\Software\Wine\Fonts' Path 'Z:\usr\share\wine\fonts'
# Xvfb runs no window manager: let Wine draw the frames and captions itself.
reg_add 'HKCU\Software\Wine\X11 Driver' Decorated N
reg_add 'HKCU\Software\Wine\X11 Driver' Managed N
reg_add 'HKCU\Software\Wine\Drivers' Graphics x11
reg_add 'HKCU\Software\VB and VBA Program Settings\Orbel\Memory Cleaner' ShowWnd True

# set_dpi <dpi>: the prefix's screen DPI, which Wine reads when a process starts. The server is
# restarted so that the desktop process has it too.
set_dpi() {
    timeout 60 env LC_ALL=ja_JP.UTF-8 "$mk_wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels \
        /t REG_DWORD /d "$1" /f >/dev/null 2>&1 || fail "could not set the prefix to $1 DPI"
    stop_wine
}

# The X window of the plug-in's one shown form (either build), or nothing.
shown_window() {
    local id
    for id in $(timeout 10 xwininfo -root -children 2>/dev/null |
        awk '/"ramtidy(_testhold)?\.exe"/ {print $1}'); do
        if timeout 10 xwininfo -id "$id" 2>/dev/null | grep -q 'Map State: IsViewable'; then
            echo "$id"
            return 0
        fi
    done
}

# wait_window <pid> <seconds>: prints the window's id once it is shown.
wait_window() {
    local pid=$1 deadline=$((SECONDS + $2)) id
    while [ $SECONDS -lt "$deadline" ]; do
        id=$(shown_window)
        [ -n "$id" ] && { echo "$id"; return 0; }
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.2
    done
    return 1
}

# wait_hold <pid> <point> <seconds>: until the run holds at <point>; fails if it ends first.
wait_hold() {
    local pid=$1 point=$2 deadline=$((SECONDS + $3))
    while [ $SECONDS -lt "$deadline" ]; do
        [ "$(cat "$marker" 2>/dev/null)" = "$point" ] && return 0
        kill -0 "$pid" 2>/dev/null || fail "the cleaning run ended before it held at $point"
        sleep 0.1
    done
    fail "the cleaning run did not hold at $point within $3 s"
}

snap() { # window id, file
    timeout 30 import -window "$1" "$2" || fail "could not picture window $1 into $2"
    echo "screenshots: wrote $2"
}

# snap_at <dpi>: both windows at that DPI.
snap_at() {
    local dpi=$1 pid id rc
    set_dpi "$dpi"

    # Status window: a long run (1000 steps of 1 MB), held after step 500 so that the picture
    # shows the bar and the label in the middle of the run. The report goes to no window
    # (handle 0).
    RAMTIDY_HOLD=$step RAMTIDY_HOLD_FILE=$win_marker timeout -k 10 300 \
        env LC_ALL=ja_JP.UTF-8 "$mk_wine" "$held_exe" MK0 "/$percent" &
    pid=$!
    wait_hold "$pid" "$step" 120
    id=$(wait_window "$pid" 60) || fail "the status window is not shown at step $step ($dpi DPI)"
    snap "$id" "$out/ramtidy-status-${dpi}dpi.png"
    rm -f "$marker" # the run goes on
    rc=0
    wait "$pid" || rc=$?
    [ $rc -ne 124 ] || fail "the cleaning run did not end within 300 s"
    [ $rc -eq 0 ] || fail "the cleaning run ended with exit code $rc"

    # Settings dialog; it stays open until the prefix's programs are ended.
    timeout -k 10 120 env LC_ALL=ja_JP.UTF-8 "$mk_wine" "$exe" MK0 /SETTING &
    pid=$!
    id=$(wait_window "$pid" 60) || fail "the settings dialog was not shown within 60 s ($dpi DPI)"
    sleep 1 # shown; let it paint
    snap "$id" "$out/ramtidy-settings-${dpi}dpi.png"
    stop_wine
    wait "$pid" || true
}

total_kb=$(awk '/^MemTotal:/ {print $2}' /proc/meminfo)
percent=$(awk -v t="$total_kb" 'BEGIN { printf "%.6f", 1000.25 * 1024 * 100 / t }')
step=500
for dpi in 96 144; do
    snap_at "$dpi"
done
