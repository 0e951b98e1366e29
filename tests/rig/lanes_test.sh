#!/usr/bin/env bash
# The lanes keep what they promise. In a scratch home beside the build's own, made from the
# build's two prefixes (wine.setup made them), two lanes are set up as CTest's fixture sets them
# up: each has an X server of its own and a wineserver of its own per prefix, none shared; the
# names a program makes in one lane (those the tests make desktop-wide) are found there and
# nowhere else, not even in the lane's other prefix; cleanup leaves nothing of them running.
# Then a lane set up by a process that ends without cleaning up (a ctest interrupted) ends with
# it.
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
hold_pid=""
finish() {
    [ -z "$hold_pid" ] || kill "$hold_pid" 2>/dev/null
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

"$fixture" spec "$MK_WINE_LANES_SPEC" 2
if ! "$fixture" setup; then
    echo "FAIL: two lanes could not be set up; the fixture's log:"
    tail -20 "$home/fixture.log"
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
in_lane 0 96 "$probe" hold <"$fifo" >"$home/hold.out" 2>&1 &
hold_pid=$!
exec 3>"$fifo"
if wait_until "$limit" grep -q '^HOLDING' "$home/hold.out"; then
    look() {
        local got
        # Not the probe's input: a server this starts would keep it open.
        got=$(in_lane "$1" "$2" "$probe" look 2>&1 3>&- | tr -d '\r')
        [ "$got" = "$3" ] || fail "lane $1 at $2 DPI, with lane 0 at 96 DPI holding every name: '$got', expected '$3'"
    }
    look 0 96 "$all"
    look 1 96 "$none"
    look 0 144 "$none"
    look 1 144 "$none"
else
    fail "the probe in lane 0 did not hold its names within $limit s: $(cat "$home/hold.out")"
fi
exec 3>&-
hold_ended() { ! running "$hold_pid"; }
wait_until "$limit" hold_ended || fail "the probe did not end with its input"
hold_pid=""

# Four prefixes, four servers (the probes in them brought up those at 144 DPI, as wine-run does
# for a test).
servers=()
for lane in 0 1; do
    for dpi in 96 144; do
        server=$(server_of "$home/lane$lane/prefix-$dpi")
        [ "$(wc -w <<<"$server")" -eq 1 ] || fail "lane $lane's prefix at $dpi DPI has not one wineserver: '$server'"
        servers+=("$server")
    done
done
[ "$(printf '%s\n' "${servers[@]}" | sort -u | wc -l)" -eq 4 ] ||
    fail "the lanes' four prefixes share a wineserver: ${servers[*]}"

"$fixture" cleanup
wait_until "$limit" none_running "${servers[@]}" "${xservers[@]}" ||
    fail "after cleanup still running: the servers ${servers[*]}, the X servers ${xservers[*]}"

# A lane whose ctest ends without cleaning up: here a shell that sets it up, names what runs
# in it, and ends.
"$fixture" spec "$MK_WINE_LANES_SPEC" 1
export -f server_of
# shellcheck disable=SC2016 # expanded by that shell
left=$(bash -c '"$1" setup >/dev/null && cat "$2/lane0/xvfb.pid" && server_of "$2/lane0/prefix-96"' \
    mk-short-lived "$fixture" "$home" | tr '\n' ' ')
if [ "$(wc -w <<<"$left")" -eq 2 ]; then
    # shellcheck disable=SC2086 # one pid a word
    wait_until "$limit" none_running $left ||
        fail "the lane outlived the process that set it up: still running of $left"
else
    fail "one lane could not be set up (running: '$left'); the fixture's log: $(tail -5 "$home/fixture.log")"
fi

if [ $failures -eq 0 ]; then
    echo "lanes: all checks passed"
else
    echo "lanes: $failures failed"
    exit 1
fi
