#!/usr/bin/env bash
# The Debian root that runs the 32-bit Wine tests where the host cannot: a debootstrap root of
# the host's own release, from its main suite only, with wine32:i386 in it. Entered as a
# container where the host runs 32-bit code but cannot install wine32:i386 itself; booted as a
# full-system emulated x86-64 guest (qemu-system-x86_64 with TCG) where the host's kernel gives
# user programs no 32-bit mode (every i386 ELF fails with "Exec format error").
#
#   guest.sh setup-root
#       makes the root once (debootstrap, packages) and caches it in
#       ${MK_GUEST_CACHE:-~/.cache/mirekko/guest}/<the host's Debian codename>/root
#   guest.sh enter [--timeout SECONDS] [--env NAME=VALUE]... --share DIR -- COMMAND [ARG...]
#       runs COMMAND with bash in DIR inside the cached root, as a container on this host: its
#       own mount, PID, IPC, network and host-name namespaces, a fresh /proc, the host's /dev and
#       /sys, a private /tmp and /dev/shm, DIR bound at its own absolute path, and the root
#       itself under a throwaway overlay (the cache is never written). Everything the command
#       started ends with it. Exits with COMMAND's exit status. Needs a host that runs 32-bit
#       code, and root (or sudo).
#   guest.sh setup
#       makes the root and, from it, the guest (kernel, disk image), cached beside the root
#   guest.sh run [--timeout SECONDS] [--local DIR]... [--env NAME=VALUE]... --share DIR -- COMMAND [ARG...]
#       boots the cached guest with DIR (writable, over 9p) at the same absolute path, runs
#       COMMAND with bash in DIR as root, streams its output (stdout and stderr together) to
#       stdout, powers off and exits with COMMAND's exit status. Each --local DIR (under the share)
#       is an empty directory on the guest's own disk for the run. Every run starts from the same
#       clean disk: it writes to a copy-on-write overlay that is thrown away.
#   guest.sh check [PROGRAM.exe [ARG...]]
#       boots the guest and runs Wine and a 32-bit Windows program loaded from a 9p share, then
#       PROGRAM (copied to that share) if given; passes when each exits with 0
#
# Exit status 125: the root or the guest failed (none cached, qemu missing, no boot, timeout, no
# exit status came back); 2: wrong usage; anything else is the job's own.
# Environment: MK_GUEST_CACHE (cache root), MK_GUEST_ACCEL=kvm (KVM instead of TCG),
# MK_GUEST_9P_CACHE (the share's 9p cache mode, default loose), MK_GUEST_MIRROR (a Debian
# mirror when the host's apt sources name none).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
guest_failed=125

say() { echo "guest: $*" >&2; }
die() {
    say "$*"
    exit $guest_failed
}
usage() {
    sed -n '8,28p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
    exit 2
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        die "needs root for $1 (run as root or install sudo)"
    fi
}

codename() {
    local VERSION_CODENAME=""
    # shellcheck disable=SC1091
    . /etc/os-release
    [ -n "$VERSION_CODENAME" ] || die "cannot tell the host's Debian release from /etc/os-release"
    echo "$VERSION_CODENAME"
}

cache_dir() { echo "${MK_GUEST_CACHE:-$HOME/.cache/mirekko/guest}/$(codename)"; }

# The recipe: the steps of setup below (between the recipe marks), the init and the provisioning
# script. Changing any of them makes the root and the guest anew; changing how a run boots the
# guest or enters the root does not.
recipe_key() {
    {
        sed -n '/^# >>> recipe/,/^# <<< recipe/p' "$here/guest.sh"
        cat "$here/init" "$here/provision.sh"
    } | sha256sum | cut -d' ' -f1
}

# Each part is ready only with the stamp of this recipe, written after everything else of it:
# root.stamp for the root, stamp for the guest made from it.
root_ready() {
    local dir=$1
    [ -f "$dir/root.stamp" ] && [ "$(cat "$dir/root.stamp")" = "$(recipe_key)" ] &&
        [ -d "$dir/root/usr" ]
}
ready() {
    local dir=$1
    root_ready "$dir" && [ -f "$dir/stamp" ] && [ "$(cat "$dir/stamp")" = "$(recipe_key)" ] &&
        [ -f "$dir/vmlinuz" ] && [ -f "$dir/initrd.img" ] && [ -f "$dir/disk.img" ]
}

# The first http(s) mirror ending in /debian in the host's apt sources (deb822 files first).
host_mirror() {
    if [ -n "${MK_GUEST_MIRROR:-}" ]; then
        echo "${MK_GUEST_MIRROR%/}"
        return
    fi
    local urls
    urls=$({
        for f in /etc/apt/sources.list.d/*.sources; do
            [ -f "$f" ] || continue
            awk '/^[[:space:]]*#/ { next } tolower($1) == "uris:" { for (i = 2; i <= NF; i++) print $i }' "$f"
        done
        if [ -f /etc/apt/sources.list ]; then
            # deb [options] URL suite components
            awk '$1 == "deb" {
                i = 2
                if ($i ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
                if (i <= NF) print $i
            }' /etc/apt/sources.list
        fi
    } | grep -E '^https?://.*/debian/?$' || true)
    [ -n "$urls" ] || die "no http(s) Debian mirror (a URL ending in /debian) in the host's apt sources; set MK_GUEST_MIRROR"
    urls=$(head -1 <<<"$urls")
    echo "${urls%/}"
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# host_tools <package>...: installs those of them that the host lacks.
host_tools() {
    local missing=() p
    for p in "$@"; do
        installed "$p" || missing+=("$p")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        say "installing ${missing[*]}"
        # As ./dev does: one broken index on the mirror must not stop an install that does not
        # need it; an install that does fails by itself.
        as_root apt-get update -q ||
            say "apt-get update reported errors (above); going on with the lists it could read"
        as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
            "${missing[@]}"
    fi
}

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

# step <name> <command>...: runs one step of the setup and says how long it took.
step() {
    local name=$1 t0
    shift
    echo "guest setup: $name ..."
    t0=$(now)
    "$@"
    echo "guest setup: $name done in $(since "$t0") s"
}

# >>> recipe: the steps that make the guest
guest_init=/usr/local/sbin/mk-guest-init

# Its own mount namespace: what debootstrap mounts in the target (proc, sys) cannot stay
# mounted on the host, not even when it is interrupted.
do_debootstrap() {
    local root=$1 suite=$2 mirror=$3
    as_root unshare --mount --propagation private \
        debootstrap --variant=minbase --arch=amd64 "$suite" "$root" "$mirror"
}

# The chroot gets /proc, /sys and /dev inside a private mount namespace: they vanish with it.
do_provision() {
    local root=$1 suite=$2 mirror=$3
    as_root install -m 755 "$here/init" "$root$guest_init"
    as_root install -m 755 "$here/provision.sh" "$root/root/mk-guest-provision.sh"
    as_root cp -L /etc/resolv.conf "$root/etc/resolv.conf"
    # shellcheck disable=SC2016 # expanded by the inner shell
    as_root unshare --mount --propagation private bash -euc '
        root=$1
        mount -t proc proc "$root/proc"
        mount --rbind /sys "$root/sys"
        mount --rbind /dev "$root/dev"
        chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
            /bin/bash /root/mk-guest-provision.sh "$2" "$3"
    ' mk-provision "$root" "$mirror" "$suite"
    as_root rm -f "$root/root/mk-guest-provision.sh"
}

do_kernel() {
    local root=$1 out=$2 vmlinuz initrd
    vmlinuz=$(find "$root/boot" -maxdepth 1 -name 'vmlinuz-*' | sort -V | tail -1)
    [ -n "$vmlinuz" ] || die "no kernel in the guest's /boot"
    initrd=$root/boot/initrd.img-${vmlinuz##*/vmlinuz-}
    [ -f "$initrd" ] || die "no initrd for ${vmlinuz##*/} in the guest's /boot"
    as_root cp "$vmlinuz" "$out/vmlinuz"
    as_root cp "$initrd" "$out/initrd.img"
    as_root chown "$(id -u):$(id -g)" "$out/vmlinuz" "$out/initrd.img"
    echo "guest setup: kernel ${vmlinuz##*/vmlinuz-}"
}

# A sparse file filled from the root directory; the inode tables are written now so that the
# guest's kernel does not zero them in the background at every boot.
do_image() {
    local root=$1 image=$2
    truncate -s 12G "$image"
    as_root mkfs.ext4 -q -F -L mk-guest -E lazy_itable_init=0,lazy_journal_init=0 -d "$root" "$image"
    as_root chown "$(id -u):$(id -g)" "$image"
}

# Where the chroot could not run the i386 maintainer scripts, the guest itself configures the
# packages, once, on the cached disk (not an overlay), before the cache counts as ready.
do_first_boot() {
    local dir=$1
    # shellcheck disable=SC2016
    boot_guest --dir "$dir" --disk "$dir/disk.img" --timeout 1800 -- bash -c '
        dpkg --configure -a && rm -f /var/lib/mk-guest/unconfigured &&
            { [ -z "$(dpkg --audit)" ] || { dpkg --audit; exit 1; }; }' ||
        die "the guest's first boot could not configure every package"
}

# One setup at a time per release, of the root and of the guest alike: a second one waits and
# then finds its part ready. Fd 9 stays open, and the lock held, for the rest of the script.
lock_cache() {
    local dir=$1
    mkdir -p "$(dirname "$dir")"
    exec 9>"$dir.lock"
    flock 9
}

setup_root() {
    host_tools debootstrap
    local dir partial suite mirror t0
    dir=$(cache_dir)
    if ! root_ready "$dir"; then
        lock_cache "$dir"
    fi
    if root_ready "$dir"; then
        echo "guest setup: cached root ready in $dir/root"
        return
    fi
    mirror=$(host_mirror)
    suite=$(codename)
    echo "guest setup: $suite root from $mirror into $dir/root"
    t0=$(now)
    # The guest is made from the root: it cannot outlive a root made anew.
    mkdir -p "$dir"
    rm -f "$dir/root.stamp" "$dir/stamp"
    # Made in root.partial and moved into place, its stamp last: an interrupted setup leaves
    # only the partial directory, which the next one starts over.
    partial=$dir/root.partial
    as_root rm -rf --one-file-system "$partial" "$dir/root"
    step debootstrap do_debootstrap "$partial" "$suite" "$mirror"
    step packages do_provision "$partial" "$suite" "$mirror"
    as_root mv "$partial" "$dir/root"
    recipe_key >"$dir/root.stamp"
    echo "guest setup: root ready in $(since "$t0") s, $(as_root du -sh "$dir/root" | cut -f1) on disk"
}

setup() {
    setup_root
    host_tools qemu-system-x86 qemu-utils e2fsprogs
    # mkfs.ext4 -d (a file system filled from a directory, no loop mount) came with 1.43.
    local v dir partial t0 first_boot=0
    v=$(dpkg-query -W -f='${Version}' e2fsprogs)
    dpkg --compare-versions "$v" ge 1.43 || die "e2fsprogs $v is too old for mkfs.ext4 -d (needs 1.43)"
    dir=$(cache_dir)
    if ! ready "$dir"; then
        lock_cache "$dir"
    fi
    if ready "$dir"; then
        echo "guest setup: cached guest ready in $dir"
        return
    fi
    echo "guest setup: the guest from the root into $dir"
    t0=$(now)
    # Made in guest.partial and moved into place, its stamp last.
    partial=$dir/guest.partial
    rm -f "$dir/stamp"
    rm -rf "$partial"
    mkdir -p "$partial"
    step kernel do_kernel "$dir/root" "$partial"
    [ ! -e "$dir/root/var/lib/mk-guest/unconfigured" ] || first_boot=1
    step image do_image "$dir/root" "$partial/disk.img"
    [ $first_boot -eq 0 ] || step "first boot (dpkg --configure -a)" do_first_boot "$partial"
    # The runs only read it, through their overlays.
    chmod a-w "$partial/disk.img"
    mv -f "$partial/vmlinuz" "$partial/initrd.img" "$partial/disk.img" "$dir/"
    rmdir "$partial"
    recipe_key >"$dir/stamp"
    echo "guest setup: guest ready in $(since "$t0") s, $(du -sh "$dir/disk.img" | cut -f1) of disk image"
}

# <<< recipe

# boot_guest --dir CACHE [--disk IMAGE] [--timeout S] [--share DIR] [--local DIR]...
#            [--env NAME=VALUE]... -- COMMAND [ARG...]
# Without --disk the run works on an overlay of the cached disk; with it, on that image itself.
qemu_pid="" sleep_pid="" run_dir="" require_share=0 check_share=""
stop_qemu() {
    [ -n "$qemu_pid" ] || return 0
    if kill -0 "$qemu_pid" 2>/dev/null; then
        kill -TERM "$qemu_pid" 2>/dev/null || true
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            kill -0 "$qemu_pid" 2>/dev/null || break
            sleep 0.5
        done
        kill -KILL "$qemu_pid" 2>/dev/null || true
    fi
    wait "$qemu_pid" 2>/dev/null || true
    qemu_pid=""
}
cleanup() {
    stop_qemu
    if [ -n "$sleep_pid" ]; then
        kill "$sleep_pid" 2>/dev/null || true
        wait "$sleep_pid" 2>/dev/null || true
        sleep_pid=""
    fi
    [ -z "$run_dir" ] || rm -rf "$run_dir"
    run_dir=""
    [ -z "$check_share" ] || rm -rf "$check_share"
    check_share=""
}
on_signal() {
    say "stopped by SIG$1; the guest is killed"
    trap - EXIT
    cleanup
    exit $((128 + $2))
}

boot_guest() {
    local dir="" disk="" timeout=3600 share="" locals=() envs=() a
    while [ $# -gt 0 ]; do
        [ "$1" = -- ] || [ $# -ge 2 ] || { say "$1 needs a value"; usage; }
        case "$1" in
        --dir) dir=$2 ;;
        --disk) disk=$2 ;;
        --timeout) timeout=$2 ;;
        --share) share=$2 ;;
        --local) locals+=("$2") ;;
        --env) envs+=("$2") ;;
        --) shift; break ;;
        *) say "unknown option $1"; usage ;;
        esac
        shift 2
    done
    [ $# -gt 0 ] || { say "no command given after --"; usage; }
    [[ "$timeout" =~ ^[1-9][0-9]*$ ]] || { say "--timeout takes whole seconds, not '$timeout'"; usage; }

    command -v qemu-system-x86_64 >/dev/null || die "qemu-system-x86_64 is missing (run: $0 setup)"
    command -v qemu-img >/dev/null || die "qemu-img is missing (run: $0 setup)"

    # The guest sees the share at the same absolute path, as given (CTest's files hold the path
    # the build was configured in); the config file takes one path a line.
    if [ -n "$share" ]; then
        [ -d "$share" ] || die "the share $share is not a directory"
        share=$(cd "$share" && pwd)
        case "$share" in
        / | /bin | /boot | /etc | /lib | /lib32 | /lib64 | /libx32 | /sbin | /tmp | /usr | /var | \
            /dev | /dev/* | /proc | /proc/* | /run | /run/* | /sys | /sys/*)
            die "cannot share $share: the guest needs its own" ;;
        esac
    elif [ "$require_share" -eq 1 ]; then
        say "run needs --share DIR"
        usage
    fi
    for a in "${!locals[@]}"; do
        [ -n "$share" ] || die "--local needs --share"
        locals[a]=$(realpath -m -s "${locals[a]}")
        case "${locals[a]}" in
        "$share"/*) ;;
        *) die "--local ${locals[a]} is not under the share $share" ;;
        esac
        # The guest binds its own directory over this mount point.
        mkdir -p "${locals[a]}"
    done
    case "$share${locals[*]:-}" in *$'\n'*) die "a path with a line break cannot be shared" ;; esac
    for a in "${envs[@]}"; do
        [[ "$a" =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] || die "--env takes NAME=VALUE, not '$a'"
    done

    # TCG even where /dev/kvm exists: the hosts this guest is for have none, and the timings of the
    # tests must be theirs. KVM only when asked for.
    # shellcheck disable=SC2054 # commas inside qemu's option values
    local accel=(-accel tcg,thread=multi)
    case "${MK_GUEST_ACCEL:-tcg}" in
    tcg) ;;
    kvm) accel=(-accel kvm) ;;
    *) die "MK_GUEST_ACCEL must be tcg or kvm, not '$MK_GUEST_ACCEL'" ;;
    esac

    trap cleanup EXIT
    trap 'on_signal INT 2' INT
    trap 'on_signal TERM 15' TERM
    trap 'on_signal HUP 1' HUP
    # A run killed without a chance to clean up (SIGKILL) leaves its directory, with an overlay
    # that may hold a few hundred MB: remove those whose script is gone.
    for a in "${TMPDIR:-/tmp}"/mk-guest.*/pid; do
        { [ -f "$a" ] && [ -O "${a%/pid}" ]; } || continue
        kill -0 "$(cat "$a")" 2>/dev/null || rm -rf "${a%/pid}"
    done
    run_dir=$(mktemp -d "${TMPDIR:-/tmp}/mk-guest.XXXXXX")
    echo $$ >"$run_dir/pid"
    local ctl=$run_dir/ctl drive
    mkdir "$ctl"
    if [ -n "$disk" ]; then
        drive=file=$disk,format=raw,if=virtio,cache=writeback
    else
        # A copy-on-write overlay: the cached disk stays as setup made it, every run starts from
        # the same clean state and leaves nothing behind. Nothing written there is kept, so the
        # overlay needs no flushes.
        qemu-img create -q -f qcow2 -b "$dir/disk.img" -F raw "$run_dir/overlay.qcow2"
        drive=file=$run_dir/overlay.qcow2,format=qcow2,if=virtio,cache=unsafe
    fi

    {
        [ -z "$share" ] || echo "share $share"
        echo "cache ${MK_GUEST_9P_CACHE:-loose}"
        for a in "${locals[@]}"; do echo "local $a"; done
    } >"$ctl/config"
    {
        printf 'cd -- %q || exit 125\n' "${share:-/}"
        for a in "${envs[@]}"; do printf 'export %s=%q\n' "${a%%=*}" "${a#*=}"; done
        printf 'exec'
        printf ' %q' "$@"
        printf '\n'
    } >"$ctl/job"

    # Without -smap every Wine process is killed by a kernel fault on an iret in 32-bit code.
    # The guest has no network and runs nothing but the job: the kernel's speculation
    # mitigations (a page-table switch at every system call) would only slow the emulation.
    # shellcheck disable=SC2054
    local args=("${accel[@]}" -cpu max,-smap -smp 2 -m 4G -nographic -no-reboot -nic none
        -monitor none -serial "file:$run_dir/console.log" -serial stdio
        -drive "$drive"
        -kernel "$dir/vmlinuz" -initrd "$dir/initrd.img"
        -append "root=/dev/vda rw console=ttyS0 quiet loglevel=1 panic=-1 mitigations=off init=$guest_init"
        -virtfs "local,path=$ctl,mount_tag=mkctl,security_model=none,id=mkctl")
    [ -z "$share" ] || args+=(-virtfs "local,path=$share,mount_tag=mkshare,security_model=none,id=mkshare")

    local t0 qemu_rc=0 rc
    t0=$(now)
    # stdin from /dev/null: qemu must not put the terminal in raw mode or read keys from it. The
    # parent-death signal ends qemu even when this script is killed without a chance to trap.
    setpriv --pdeathsig KILL qemu-system-x86_64 "${args[@]}" </dev/null &
    qemu_pid=$!
    setpriv --pdeathsig KILL sleep "$timeout" &
    sleep_pid=$!
    wait -n "$qemu_pid" "$sleep_pid" || true
    if kill -0 "$qemu_pid" 2>/dev/null; then
        stop_qemu
        if [ -e "$ctl/booted" ]; then
            die "the job did not end within $timeout s; the guest was killed"
        fi
        show_console
        die "the guest did not boot within $timeout s; it was killed"
    fi
    wait "$qemu_pid" || qemu_rc=$?
    qemu_pid=""
    kill "$sleep_pid" 2>/dev/null || true
    wait "$sleep_pid" 2>/dev/null || true
    sleep_pid=""

    if [ -s "$ctl/error" ]; then
        show_console
        die "the guest could not start the job: $(head -1 "$ctl/error")"
    fi
    if [ ! -e "$ctl/booted" ]; then
        show_console
        die "the guest did not boot (qemu exit $qemu_rc)"
    fi
    rc=$(cat "$ctl/rc" 2>/dev/null || true)
    if ! [[ "$rc" =~ ^[0-9]+$ ]]; then
        show_console
        die "no exit status came back from the guest (qemu exit $qemu_rc)"
    fi
    say "booted in $(mtime_since "$t0" "$ctl/booted") s, the job took" \
        "$(awk -v a="$(stat -c %.3Y "$ctl/booted")" -v b="$(stat -c %.3Y "$ctl/rc")" 'BEGIN { printf "%.1f", b - a }') s," \
        "$(since "$t0") s in all; exit status $rc"
    trap - EXIT INT TERM HUP
    cleanup
    return "$rc"
}

mtime_since() { awk -v a="$1" -v b="$(stat -c %.3Y "$2")" 'BEGIN { printf "%.1f", b - a }'; }

show_console() {
    [ -s "$run_dir/console.log" ] || return 0
    say "the guest's console, last lines:"
    # Without the firmware's terminal escapes.
    tail -n 20 "$run_dir/console.log" | tr -d '\r' | sed -E 's/\x1b(\[[0-9;?]*[A-Za-z]|c)//g; s/^/  | /' >&2
}

run() {
    local dir
    require_share=1
    dir=$(cache_dir)
    ready "$dir" || die "no cached guest in $dir (run: $0 setup)"
    boot_guest --dir "$dir" "$@"
}

# Wine in the guest, and a 32-bit Windows program that Wine maps from the 9p share: Wine's own
# hostname.exe, then PROGRAM with its arguments if one is given (the 9p cache modes other than
# loose broke MinGW-built programs that Wine's own ones did not).
check() {
    local dir share rc=0
    dir=$(cache_dir)
    ready "$dir" || die "no cached guest in $dir (run: $0 setup)"
    [ $# -eq 0 ] || [ -f "$1" ] || die "no program $1"
    share=$(mktemp -d "${TMPDIR:-/tmp}/mk-guest-check.XXXXXX")
    check_share=$share # removed by cleanup, also when the check is stopped
    if [ $# -gt 0 ]; then
        cp "$1" "$share/"
        set -- "${1##*/}" "${@:2}"
    fi
    # shellcheck disable=SC2016
    boot_guest --dir "$dir" --timeout 900 --share "$share" --local "$share/prefix" -- bash -euc '
        wine --version
        exe=$(find /usr/lib/wine /usr/lib/i386-linux-gnu/wine -path "*i386-windows/hostname.exe" 2>/dev/null | head -1)
        [ -n "$exe" ] || { echo "check: no 32-bit hostname.exe in the Wine packages"; exit 1; }
        cp "$exe" ./hostname32.exe
        # No debugger on a crash: it would wait for the time-out.
        export WINEPREFIX=$PWD/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
        out=$(wine ./hostname32.exe </dev/null | tr -d "\r")
        echo "check: the 32-bit hostname.exe from the share printed: $out"
        [ "${out^^}" = MIREKKO-GUEST ] # Windows gives the name in capitals
        if [ $# -gt 0 ]; then
            echo "check: wine $*"
            wine "./$1" "${@:2}" </dev/null
            echo "check: $1 exited with 0"
        fi
        wineserver -k || true
    ' mk-check "$@" || rc=$?
    rm -rf "$share"
    check_share=""
    if [ $rc -eq 0 ]; then echo "guest check: passed"; else echo "guest check: FAILED (exit $rc)"; fi
    return $rc
}

# PID 1 of the container, as root in its own namespaces: the root under an overlay whose upper
# layer lives in a tmpfs of this mount namespace (the cache is only read, and two containers
# can share it), the kernel's file systems, a private /tmp and /dev/shm, the share at its own
# path; then the job, as the caller's user. Bash stays PID 1 instead of exec-ing: when it ends,
# the kernel ends every process left in the namespace (a wineserver, an X server), and every
# mount goes with the namespace.
# shellcheck disable=SC2016 # expanded by the inner shell
enter_init='
root=$1 run=$2 share=$3 uid=$4 gid=$5 job=$6
mount -t tmpfs -o mode=755 mk-enter "$run"
mkdir "$run/upper" "$run/work" "$run/top"
top=$run/top
mount -t overlay mk-root -o "lowerdir=$root,upperdir=$run/upper,workdir=$run/work" "$top"
mount -t proc proc "$top/proc"
mount --rbind /sys "$top/sys"
mount --rbind /dev "$top/dev"
mount -t tmpfs -o mode=1777 mk-shm "$top/dev/shm"
mount -t tmpfs -o mode=1777 mk-tmp "$top/tmp"
mkdir -p "$top$share"
mount --rbind "$share" "$top$share"
echo mirekko-root >/proc/sys/kernel/hostname
home=/root
if [ "$uid" != 0 ]; then
    home=/tmp/home
    install -d -o "$uid" -g "$gid" "$top$home"
fi
set +e
chroot "$top" /usr/bin/setpriv --reuid="$uid" --regid="$gid" --clear-groups \
    /usr/bin/env -i HOME="$home" TERM=dumb LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c "$job"
exit $?
'

enter() {
    local timeout=3600 share="" envs=() a dir run rc=0 job
    while [ $# -gt 0 ]; do
        [ "$1" = -- ] || [ $# -ge 2 ] || { say "$1 needs a value"; usage; }
        case "$1" in
        --timeout) timeout=$2 ;;
        --share) share=$2 ;;
        --env) envs+=("$2") ;;
        --) shift; break ;;
        *) say "unknown option $1"; usage ;;
        esac
        shift 2
    done
    [ $# -gt 0 ] || { say "no command given after --"; usage; }
    [ -n "$share" ] || { say "enter needs --share DIR"; usage; }
    [[ "$timeout" =~ ^[1-9][0-9]*$ ]] || { say "--timeout takes whole seconds, not '$timeout'"; usage; }
    for a in "${envs[@]}"; do
        [[ "$a" =~ ^[A-Za-z_][A-Za-z0-9_]*= ]] || die "--env takes NAME=VALUE, not '$a'"
    done
    [ -d "$share" ] || die "the share $share is not a directory"
    share=$(cd "$share" && pwd)
    case "$share" in
    / | /bin | /boot | /etc | /lib | /lib32 | /lib64 | /libx32 | /sbin | /tmp | /usr | /var | \
        /dev | /dev/* | /proc | /proc/* | /run | /run/* | /sys | /sys/*)
        die "cannot share $share: the root needs its own" ;;
    esac
    dir=$(cache_dir)
    root_ready "$dir" || die "no cached root in $dir/root (run: $0 setup-root)"

    job=$({
        printf 'cd -- %q || exit 125\n' "$share"
        for a in "${envs[@]}"; do printf 'export %s=%q\n' "${a%%=*}" "${a#*=}"; done
        printf 'exec'
        printf ' %q' "$@"
        printf '\n'
    })
    # The mount point of the container's scratch tmpfs; nothing is written into it here.
    run=$(mktemp -d "${TMPDIR:-/tmp}/mk-root.XXXXXX")
    # timeout ends unshare, whose --kill-child then ends the container and all in it.
    as_root timeout -k 10 "$timeout" \
        unshare --mount --pid --ipc --net --uts --fork --kill-child --propagation private \
        bash -euc "$enter_init" mk-root "$dir/root" "$run" "$share" "$(id -u)" "$(id -g)" "$job" ||
        rc=$?
    rmdir "$run" 2>/dev/null || true
    [ $rc -ne 124 ] || die "the job in the root did not end within $timeout s; it was killed"
    return $rc
}

cmd=${1:-}
[ $# -gt 0 ] && shift
case "$cmd" in
setup-root) setup_root ;;
enter) enter "$@" ;;
setup) setup ;;
run) run "$@" ;;
check) check "$@" ;;
*) usage ;;
esac
