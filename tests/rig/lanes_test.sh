#!/usr/bin/env bash
# The lanes keep what they promise. In a scratch home beside the build's own, made from the
# build's two prefixes (wine.setup made them), two lanes are set up as CTest's fixture sets them
# up, by a process that then ends without cleaning up, as a ctest that is interrupted: each lane
# has an X server of its own and a wineserver of its own per prefix, none shared; the names a
# program makes in one lane (those the tests make desktop-wide) are found there and nowhere
# else, not even in the lane's other prefix; and once that process has ended, nothing of the
# lanes is left running.
#   lanes_test.sh <repository> <build directory> <win32|win64>
set -uo pipefail
repo=$(cd "${1:?usage: lanes_test.sh <repository> <build> <arch>}" && pwd)
build=$(cd "${2:?}" && pwd)
export MK_WINE_ARCH=${3:?}
fixture=$repo/cmake/wine-fixture
probe=$build/bin/lane_probe.exe
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# As the rig waits: 60 s natively, times the factor on a slower path.
factor=${MK_RIG_WAIT_FACTOR:-1}
[[ "$factor" =~ ^[1-9][0-9]?$|^100$ ]] || factor=1
limit=$((60 * factor))

# wait_until <seconds> <command>...: true as soon as the command is, false after the limit.
wait_until() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -lt $end ] || return 1
        sleep 0.2
    done
}

# Beside the build's prefixes, on the same file system (in the guest, its own disk).
home=$(mktemp -d "$build/wine/rig-lanes.XXXXXX")
export MK_WINE_HOME=$home MK_WINE_LANES_SPEC=$home/lanes.json
hold_pid="" owner_pid=""
finish() {
    [ -z "$hold_pid" ] || kill "$hold_pid" 2>/dev/null
    [ -z "$owner_pid" ] || kill "$owner_pid" 2>/dev/null
    "$fixture" cleanup >/dev/null 2>&1
    rm -rf "$home"
}
trap finish EXIT

# The build's prefixes with their stamps, so that setup takes them as they are. Their registry
# files are copies: nothing here may write to the build's.
for dpi in 96 144; do
    cp -al "$build/wine/prefix-$dpi" "$home/prefix-$dpi" || exit 1
    for reg in "$home/prefix-$dpi"/*.reg; do
        cp -p --remove-destination "$build/wine/prefix-$dpi/${reg##*/}" "$reg"
    done
    cp "$build/wine/prefix-$dpi.stamp" "$home/"
done

# in_lane <lane> <dpi> <program> [arg...]: as CTest runs a Wine test in that lane.
in_lane() {
    local lane=$1 dpi=$2
    shift 2
    CTEST_RESOURCE_GROUP_COUNT=1 CTEST_RESOURCE_GROUP_0=lane \
        CTEST_RESOURCE_GROUP_0_LANE="id:$lane,slots:1" MK_WINE_DPI=$dpi \
        "$repo/cmake/wine-run" --arch "$MK_WINE_ARCH" --lanes "$home" "$@"
}

# The pid of the wineserver of a prefix: the server works in a directory named after the
# prefix's device and inode.
server_of() {
    local dir p
    dir=server-$(stat -c %D "$1")-$(printf '%x' "$(stat -c %i "$1")")
    for p in $(pgrep wineserver); do
        [ "$(basename "$(readlink "/proc/$p/cwd" 2>/dev/null)")" != "$dir" ] || echo "$p"
    done
}

# The pid of the X server of a display, from its lock file.
x_server_of() {
    tr -d ' \n' <"/tmp/.X${1#:}-lock" 2>/dev/null
}

running() { [ -n "$1" ] && kill -0 "$1" 2>/dev/null; }
none_running() {
    local p
    for p in "$@"; do
        ! running "$p" || return 1
    done
}

# The process that sets the lanes up and, when its input ends, ends without cleaning up.
"$fixture" resources "$MK_WINE_LANES_SPEC" 2
owner_in=$home/owner.in
mkfifo "$owner_in"
# shellcheck disable=SC2016 # expanded by that shell
bash -c '"$1" setup && echo UP; read -r _' mk-lanes-owner "$fixture" <"$owner_in" >"$home/owner.out" 2>&1 &
owner_pid=$!
exec 4>"$owner_in"
if ! wait_until "$limit" grep -q '^UP' "$home/owner.out"; then
    echo "FAIL: two lanes could not be set up: $(cat "$home/owner.out")"
    exit 1
fi

# Two displays, each of its own X server, which is the one the lane started.
displays=() xservers=()
for lane in 0 1; do
    display=$(cat "$home/lane$lane/display" 2>/dev/null)
    xserver=$(x_server_of "$display")
    { [ -n "$display" ] && running "$xserver"; } || fail "lane $lane has no running X server (display '$display')"
    [ "$xserver" = "$(cat "$home/lane$lane/xvfb.pid" 2>/dev/null)" ] ||
        fail "the X server of lane $lane's display $display is not the one the lane started"
    displays+=("$display") xservers+=("$xserver")
done
[ "${displays[0]}" != "${displays[1]}" ] || fail "both lanes are on display ${displays[0]}"

# The names one lane makes: seen there, from its own prefix only.
all='LOOK mutex=1 dropmutex=1 window=1 sakura=1 trace=1 dbwin=1 dbwinmutex=1'
none='LOOK mutex=0 dropmutex=0 window=0 sakura=0 trace=0 dbwin=0 dbwinmutex=0'
fifo=$home/hold.in
mkfifo "$fifo"
in_lane 0 96 "$probe" hold <"$fifo" >"$home/hold.out" 2>&1 4>&- &
hold_pid=$!
exec 3>"$fifo"
if wait_until "$limit" grep -q '^HOLDING' "$home/hold.out"; then
    look() {
        local got
        # Neither this probe's input nor the owner's: a server this starts would keep them open.
        got=$(in_lane "$1" "$2" "$probe" look 2>&1 3>&- 4>&- | tr -d '\r')
        [ "$got" = "$3" ] || fail "lane $1 at $2 DPI, with lane 0 at 96 DPI holding every name: '$got', expected '$3'"
    }
    look 0 96 "$all"
    look 1 96 "$none"
    # The lane's other prefix, brought up for it as wine-run brings it up for a test.
    look 0 144 "$none"
else
    fail "the probe in lane 0 did not hold its names within $limit s: $(cat "$home/hold.out")"
fi
exec 3>&-
hold_ended() { ! running "$hold_pid"; }
wait_until "$limit" hold_ended || fail "the probe did not end with its input"
hold_pid=""

# A server per prefix.
servers=()
for prefix in lane0/prefix-96 lane0/prefix-144 lane1/prefix-96; do
    server=$(server_of "$home/$prefix")
    [ "$(wc -w <<<"$server")" -eq 1 ] || fail "$prefix has not one wineserver: '$server'"
    servers+=("$server")
done
[ "$(printf '%s\n' "${servers[@]}" | sort -u | wc -l)" -eq 3 ] ||
    fail "three prefixes of the lanes share a wineserver: ${servers[*]}"

# The owner ends; the lanes end with it.
watcher=$(cat "$home/watch.pid" 2>/dev/null)
exec 4>&-
owner_ended() { ! running "$owner_pid"; }
wait_until "$limit" owner_ended || fail "the process that set the lanes up did not end"
owner_pid=""
wait_until "$limit" none_running "${servers[@]}" "${xservers[@]}" "$watcher" ||
    fail "the lanes outlived the process that set them up: still running of ${servers[*]} (servers) ${xservers[*]} (X servers) $watcher (watcher)"

if [ $failures -eq 0 ]; then
    echo "lanes: all checks passed"
else
    echo "lanes: $failures failed"
    exit 1
fi
