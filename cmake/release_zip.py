#!/usr/bin/env python3
"""Writes the release archive so that the same files always give the same bytes, and its
SHA256SUMS beside it.

  release_zip.py --out <zip> --epoch <seconds or ""> <name in the zip>=<file> ...

The entries go in the order given, each with the time of --epoch (the build's SOURCE_DATE_EPOCH;
1980-01-01, the earliest time a zip can hold, when it is empty), the same attributes and the same
compression. SHA256SUMS, in the zip's directory, names the zip in the form `sha256sum -c` reads.
"""
import argparse
import hashlib
import os
import sys
import time
import zipfile

EARLIEST = (1980, 1, 1, 0, 0, 0)


def entry_time(epoch):
    if epoch == '':
        return EARLIEST
    # Zip times carry no zone: UTC, so that the bytes do not depend on the machine's zone. They
    # count seconds in twos: an odd second is the even one before it.
    t = time.gmtime(int(epoch) // 2 * 2)[:6]
    return max(t, EARLIEST)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--out', required=True)
    parser.add_argument('--epoch', required=True)
    parser.add_argument('files', nargs='+', metavar='name=file')
    args = parser.parse_args()
    when = entry_time(args.epoch)
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    partial = args.out + '.partial'
    with zipfile.ZipFile(partial, 'w') as z:
        for item in args.files:
            name, _, path = item.partition('=')
            info = zipfile.ZipInfo(name, date_time=when)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # MS-DOS: no Unix permissions from this machine
            info.external_attr = 0x20  # archive
            with open(path, 'rb') as f:
                z.writestr(info, f.read(), compresslevel=9)
    os.replace(partial, args.out)

    with open(args.out, 'rb') as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    sums = os.path.join(os.path.dirname(os.path.abspath(args.out)), 'SHA256SUMS')
    with open(sums, 'w', newline='\n') as f:
        f.write(f'{digest}  {os.path.basename(args.out)}\n')
    print(f'{digest}  {args.out}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
