#!/usr/bin/env python3
"""Builds the release a second time, in another directory and later, and compares the bytes.

  check_reproducible.py --source <dir> --first <build dir> --second <build dir>
                        --cmake <cmake> -- <configure options of the first build>

The first build directory gets its package built (if it is not yet); the second is made afresh
with the same configure options and builds the package alone (the two deliverables, INSTALL.txt,
the zip and SHA256SUMS). mkhook.dll and ramtidy.exe, their debug files (whose CRCs their debug
links carry), the zip and SHA256SUMS must then be the same, byte for byte.
"""
import argparse
import glob
import hashlib
import os
import shutil
import subprocess
import sys
import time

COMPARED = ['bin/mkhook.dll', 'bin/mkhook.dll.debug', 'bin/ramtidy.exe', 'bin/ramtidy.exe.debug',
            'package/SHA256SUMS']


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)


def first_difference(a, b):
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return i
    return min(len(a), len(b))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--source', required=True)
    parser.add_argument('--first', required=True)
    parser.add_argument('--second', required=True)
    parser.add_argument('--cmake', required=True)
    parser.add_argument('configure', nargs='*')
    args = parser.parse_args()

    run(args.cmake, '--build', args.first, '--target', 'package')
    zips = sorted(os.path.relpath(z, args.first)
                  for z in glob.glob(os.path.join(args.first, 'package', '*.zip')))
    if len(zips) != 1:
        print(f'BROKEN: {len(zips)} archives in {args.first}/package, not one')
        return 1
    compared = COMPARED + zips
    # At another time: a time stamp taken from the clock would differ by at least the zip's two
    # seconds.
    newest = max(os.path.getmtime(os.path.join(args.first, f)) for f in compared)
    wait = newest + 2.5 - time.time()
    if wait > 0:
        time.sleep(wait)

    shutil.rmtree(args.second, ignore_errors=True)
    run(args.cmake, '-S', args.source, '-B', args.second, *args.configure)
    run(args.cmake, '--build', args.second, '--target', 'package')

    different = []
    for f in compared:
        with open(os.path.join(args.first, f), 'rb') as a, \
                open(os.path.join(args.second, f), 'rb') as b:
            x, y = a.read(), b.read()
        digest = hashlib.sha256(x).hexdigest()
        if x == y:
            print(f'same  {digest}  {f}')
        else:
            different.append(f)
            print(f'BROKEN: {f} differs from byte {first_difference(x, y):#x} on '
                  f'({len(x)} and {len(y)} bytes)')
    with open(os.path.join(args.second, 'package', 'SHA256SUMS')) as f:
        print('SHA256SUMS: ' + f.read().strip())
    if different:
        print(f'the second build is kept in {args.second} for comparison')
        return 1
    shutil.rmtree(args.second, ignore_errors=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
