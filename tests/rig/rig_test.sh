#!/usr/bin/env bash
# The test rig's own checks: ./dev refuses a path switch or a number of lanes it cannot honour
# before it installs anything, and takes the number of lanes it is given; guest.sh refuses bad
# use; and a container entered in the cached Debian root keeps what it promises (the share at
# its own path, the exit status, nothing left running, nothing written to the cache or the
# host's /tmp, a 32-bit Wine that runs). The container's cases need root and a cached root on a
# host that runs 32-bit code; elsewhere they are skipped, saying so.
#   rig_test.sh <repository>
set -uo pipefail
repo=$(cd "${1:?usage: rig_test.sh <repository>}" && pwd)
guest=$repo/cmake/guest/guest.sh
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# expect_refusal <exit status> <text> <command>...: the command exits with that status and says
# the text on its error output.
expect_refusal() {
    local want=$1 text=$2 out rc=0
    shift 2
    out=$("$@" 2>&1 >/dev/null) || rc=$?
    if [ "$rc" -ne "$want" ] || [[ "$out" != *"$text"* ]]; then
        fail "$* exited $rc, said '$out'; expected $want and '$text'"
    fi
}

# ./dev: a switch it cannot honour stops it at once, by name.
expect_refusal 1 "MK_32BIT is 'bogus'" env MK_32BIT=bogus "$repo/dev" setup
expect_refusal 1 "MK_HOST_IA32 is '2'" env MK_HOST_IA32=2 "$repo/dev" setup
expect_refusal 1 "MK_HOST_IA32=0 takes the guest, but MK_32BIT=root" \
    env MK_HOST_IA32=0 MK_32BIT=root "$repo/dev" setup
expect_refusal 1 "MK_HOST_IA32=1 refuses the guest, but MK_32BIT=guest" \
    env MK_HOST_IA32=1 MK_32BIT=guest "$repo/dev" setup
expect_refusal 1 "stress takes a number of runs, not 'x'" "$repo/dev" stress x
for lanes in x 0 -1 2.5 65; do
    expect_refusal 1 "MK_LANES is '$lanes'" env MK_LANES="$lanes" "$repo/dev" setup
done

# The number of lanes: MK_LANES for both builds on every path; unset, two per processor (up to
# 16), and 4 for the 32-bit build in the emulated guest.
# expect_lanes <32-bit build's> <64-bit build's> <environment>...
expect_lanes() {
    local want="windows $1 windows64 $2" got
    shift 2
    got=$(env -u MK_HOST_IA32 "$@" "$repo/dev" lanes 2>&1 | tr '\n' ' ')
    [ "$got" = "$want " ] || fail "$* ./dev lanes said '$got', expected '$want'"
}
expect_lanes 3 3 MK_LANES=3
expect_lanes 1 1 MK_LANES=1 MK_32BIT=guest
native=$((2 * $(nproc)))
expect_lanes 4 $((native > 16 ? 16 : native)) -u MK_LANES MK_32BIT=guest

# guest.sh: bad use is refused before anything is made or entered.
expect_refusal 2 "enter needs --share DIR" "$guest" enter -- true
expect_refusal 2 "--timeout takes whole seconds" "$guest" enter --timeout 0 --share "$repo" -- true
expect_refusal 125 "--env takes NAME=VALUE" "$guest" enter --env 1X=y --share "$repo" -- true
expect_refusal 125 "is not a directory" "$guest" enter --share "$repo/no such dir" -- true
expect_refusal 125 "cannot share /usr" "$guest" enter --share /usr -- true

cache=${MK_GUEST_CACHE:-$HOME/.cache/mirekko/guest}/$(. /etc/os-release && echo "$VERSION_CODENAME")
skip=""
if [ "$(id -u)" -ne 0 ]; then
    skip="not root"
elif [ ! -f "$cache/root.stamp" ]; then
    skip="no cached Debian root in $cache"
elif ! "$guest" enter --share "$repo" -- true 2>/dev/null; then
    skip="the cached root cannot be entered (its recipe changed since it was made)"
fi

if [ -n "$skip" ]; then
    echo "skipped, the container's cases: $skip"
else
    tag=mk-rig-test-$$
    scratch=$(mktemp -d "$repo/build/.rig-test.XXXXXX")
    # shellcheck disable=SC2016 # expanded inside the container
    out=$("$guest" enter --share "$scratch" --env MK_TAG="$tag" -- bash -c '
        echo "pwd=$PWD tag=$MK_TAG host=$(hostname) pid1=$(cat /proc/1/comm)"
        echo inside >"$PWD/written"
        touch "/etc/$MK_TAG" "/tmp/$MK_TAG"
        setsid sleep 1234 </dev/null >/dev/null 2>&1 &
        /usr/lib/wine/wine --version 2>&1 | sed "s/^/wine32: /"
        exit 7' 2>&1)
    rc=$?
    [ $rc -eq 7 ] || fail "the job's exit status 7 came back as $rc ($out)"
    [[ "$out" == *"pwd=$scratch tag=$tag host=mirekko-root pid1=bash"* ]] ||
        fail "the job did not run in the share with its environment, its own host name and PID 1: $out"
    [ "$(cat "$scratch/written" 2>/dev/null)" = inside ] || fail "what the job wrote to the share is not there"
    [ ! -e "$cache/root/etc/$tag" ] || fail "the job wrote into the cached root"
    [ ! -e "/tmp/$tag" ] || fail "the job's /tmp is the host's"
    # The root's own 32-bit Wine, where the host runs 32-bit code at all (the guest's host
    # does not, and boots the root instead).
    if [[ "$out" == *"wine32: "*"Exec format error"* ]]; then
        echo "skipped, the 32-bit Wine in the container: this host runs no 32-bit code"
    elif [[ "$out" != *"wine32: wine-"* ]]; then
        fail "the root's 32-bit Wine did not run: $out"
    fi
    if pgrep -f "sleep 1234" >/dev/null; then
        fail "a process the job left running outlived the container"
        pkill -f "sleep 1234"
    fi
    # A job that does not end within its limit is killed, and the failure is the container's.
    start=$SECONDS
    expect_refusal 125 "did not end within 2 s" "$guest" enter --timeout 2 --share "$scratch" -- sleep 60
    # Left alone, the job would end by itself after 60 s.
    [ $((SECONDS - start)) -lt 60 ] || fail "a job past its limit was not killed but ran to its end"
    rm -rf "$scratch"
fi

if [ $failures -eq 0 ]; then
    echo "rig: all checks passed"
else
    echo "rig: $failures failed"
    exit 1
fi
