#!/bin/bash
# Runs inside the chroot of a fresh debootstrap root: turns it into the test guest.
#   provision.sh <mirror> <suite>
# Leaves /var/lib/mk-guest/unconfigured when dpkg could not configure everything (a host
# without 32-bit mode cannot run the i386 maintainer scripts); the guest's first boot then
# configures the rest.
set -euo pipefail
mirror=$1 suite=$2
export DEBIAN_FRONTEND=noninteractive LC_ALL=C

# What the Wine tests need and nothing else: the kernel (and its initrd), Wine for 32-bit
# programs, an X server for their windows, the Japanese locale and fonts of the test prefix,
# and ctest. kmod loads the 9p modules, procps gives the tests pgrep and kill.
packages=(linux-image-amd64 wine wine32:i386 wine64 xvfb xauth locales fonts-wine
    fonts-ipafont-gothic cmake procps kmod mount)

# No services start in the chroot.
printf '#!/bin/sh\nexit 101\n' >/usr/sbin/policy-rc.d
chmod 755 /usr/sbin/policy-rc.d

# An image made anew whenever it is made at all needs no sync of each file dpkg writes, here or
# at the guest's first boot.
echo force-unsafe-io >/etc/dpkg/dpkg.cfg.d/mk-guest-unsafe-io

# A smaller image that installs faster: no manuals, no documentation but the copyrights.
cat >/etc/dpkg/dpkg.cfg.d/mk-guest-nodoc <<'EOF'
path-exclude=/usr/share/doc/*
path-include=/usr/share/doc/*/copyright
path-exclude=/usr/share/man/*
path-exclude=/usr/share/info/*
EOF

# A small initrd that finds the root on the virtio disk: every boot unpacks it under emulation.
mkdir -p /etc/initramfs-tools/conf.d /usr/share/initramfs-tools/modules.d
echo MODULES=list >/etc/initramfs-tools/conf.d/mk-guest
printf '%s\n' virtio_pci virtio_blk ext4 >/usr/share/initramfs-tools/modules.d/mk-guest

# The guest is an offline test rig: only the suite that debootstrap used, from the same mirror,
# with no -updates and no -security. Multiarch needs one consistent index for amd64 and i386
# (the same version of every package in both), and a security suite that serves a broken or
# lagging i386 index would leave wine32:i386 uninstallable.
dpkg --add-architecture i386
rm -f /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources
echo "deb $mirror $suite main" >/etc/apt/sources.list
cat >/etc/apt/apt.conf.d/90mk-guest <<'EOF'
Acquire::Languages "none";
APT::Install-Recommends "false";
EOF
apt-get update -q

# Where the host has no 32-bit mode, the postinst scripts and triggers of i386 packages that run
# 32-bit programs fail here with "Exec format error", while everything is unpacked; the guest
# can run them. So a failed configuration is not the end, but every package must be unpacked.
if ! apt-get install -y -q --no-install-recommends "${packages[@]}"; then
    echo "provision: apt-get install reported errors; trying dpkg --configure -a once more"
    dpkg --configure -a || true
fi
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Abbrev}' "$p" 2>/dev/null || true)
    case "$status" in
    i[iUFWt]*) ;;
    *)
        echo "provision: $p is not installed (status '${status:-none}')" >&2
        exit 1
        ;;
    esac
done
mkdir -p /var/lib/mk-guest
if [ -n "$(dpkg --audit 2>/dev/null)" ]; then
    dpkg --audit || true
    echo "provision: some packages are not configured; the guest's first boot configures them"
    : >/var/lib/mk-guest/unconfigured
fi

# Wine creates and opens non-ASCII file names only when the locale LC_ALL names exists.
if grep -q '^[# ]*ja_JP.UTF-8 UTF-8' /etc/locale.gen; then
    sed -i 's/^[# ]*ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
else
    echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
fi
locale-gen

echo mirekko-guest >/etc/hostname
printf '127.0.0.1\tlocalhost\n127.0.1.1\tmirekko-guest\n' >/etc/hosts

# Nothing of the build host's stays in the image, nor anything only apt needs online.
rm -f /usr/sbin/policy-rc.d /etc/resolv.conf
apt-get clean
rm -rf /var/lib/apt/lists/* /var/cache/apt/*.bin /var/cache/debconf/*-old /var/log/apt/* \
    /var/log/dpkg.log /var/log/alternatives.log
