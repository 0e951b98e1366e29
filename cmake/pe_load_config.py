#!/usr/bin/env python3
"""Points an image's load config directory at its own _load_config_used structure.

  pe_load_config.py <image>

The image defines the structure (mkplugin/Memory/LoadConfig.cpp) and must still carry its symbol
table. GNU ld 2.40 (Debian 12's) does not know that symbol and leaves the directory empty;
newer GNU ld releases fill it from the symbol themselves. Runs after the link, before the image
is stripped: it fills an empty directory, and checks one that the linker filled.
"""
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from pe_check import DIR_LOAD_CONFIG, Pe  # noqa: E402


def main():
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    path = sys.argv[1]
    pe = Pe(path)
    # C names carry a leading underscore on x86 only.
    name = '_load_config_used' if pe.plus else '__load_config_used'
    rva = pe.symbols().get(name)
    if rva is None:
        print(f'{path}: no symbol {name} (stripped, or no load configuration defined)')
        return 1
    size = struct.unpack_from('<I', pe.data, pe.offset(rva))[0]
    have = pe.dir(DIR_LOAD_CONFIG)
    if have != (0, 0):
        if have[0] != rva:
            print(f'{path}: the load config directory points at {have[0]:#x}, not {name} at '
                  f'{rva:#x}')
            return 1
        print(f'{path}: the linker filled the load config directory ({name} at {rva:#x})')
        return 0
    if DIR_LOAD_CONFIG >= len(pe.dirs):
        print(f'{path}: the optional header has no load config directory entry')
        return 1
    data = bytearray(pe.data)
    struct.pack_into('<II', data, pe.dirs_at + 8 * DIR_LOAD_CONFIG, rva, size)
    with open(path, 'r+b') as f:
        f.write(data)
    print(f'{path}: load config directory set to {name} at {rva:#x}, {size} bytes')
    return 0


if __name__ == '__main__':
    sys.exit(main())
