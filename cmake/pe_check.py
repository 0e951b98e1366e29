#!/usr/bin/env python3
"""Checks a built Windows image, 32-bit (PE32) or 64-bit (PE32+), from its PE headers.

  pe_check.py hardening <image> --machine i386|amd64 [--stack-protector]
      The rules that Windows' binary analysers apply:
        - the machine the build was for (a PE32 image for i386, PE32+ for amd64);
        - ASLR: DYNAMIC_BASE, with a relocation table to move the image by; for PE32+ also
          HIGH_ENTROPY_VA (the 64-bit address space);
        - DEP: NX_COMPAT;
        - no section both writable and executable, none both writable and shared, and the
          import table in a section that cannot be executed;
        - PE32, SafeSEH: either NO_SEH, and then no code that links a handler into the thread's
          exception chain (a write to fs:[0]), or a table of the image's handlers;
        - PE32+, unwinding: the exception directory (the functions' unwind data, which x64
          exception dispatch and stack walks need), and no NO_SEH claim beside it;
        - with --stack-protector: the canary's check (__stack_chk_fail) and guard linked in.
  pe_check.py manifest <image> --version <a.b.c.d> --machine i386|amd64
      The application manifest (resource type 24, id 1) and its declarations.
  pe_check.py rules <image> --machine i386|amd64
      The hardening check itself: a sound image passes, and a copy with one rule broken at a
      time (each rule of its machine) fails with that rule named.

Prints what it found; exits 1 naming every rule that is broken.
"""
import argparse
import struct
import sys
import xml.etree.ElementTree as ET

MACHINES = {'i386': 0x014C, 'amd64': 0x8664}
# The optional header's magic for each machine, and the architecture its manifest names.
PE_MAGIC = {'i386': 0x10B, 'amd64': 0x20B}
MANIFEST_ARCH = {'i386': 'x86', 'amd64': 'amd64'}
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT, NO_SEH, GUARD_CF = (
    0x0020, 0x0040, 0x0100, 0x0400, 0x4000)
SCN_CODE, SCN_SHARED, SCN_EXECUTE, SCN_READ, SCN_WRITE = (
    0x00000020, 0x10000000, 0x20000000, 0x40000000, 0x80000000)
DIR_IMPORT, DIR_RESOURCE, DIR_EXCEPTION, DIR_BASERELOC, DIR_LOAD_CONFIG = 1, 2, 3, 5, 10
RT_MANIFEST = 24


class Pe:
    def __init__(self, path, data=None):
        if data is None:
            with open(path, 'rb') as f:
                data = f.read()
        self.data = d = bytes(data)
        if d[:2] != b'MZ':
            raise ValueError(f'{path}: not an MZ image')
        pe = struct.unpack_from('<I', d, 0x3C)[0]
        if d[pe:pe + 4] != b'PE\0\0':
            raise ValueError(f'{path}: no PE signature')
        (self.machine, sections, self.time_stamp, self.symbols_at, self.symbol_count,
         optional_size, self.characteristics) = struct.unpack_from('<HHIIIHH', d, pe + 4)
        self.machine_at = pe + 4
        self.opt = opt = pe + 24
        self.magic = struct.unpack_from('<H', d, opt)[0]
        if self.magic not in (0x10B, 0x20B):
            raise ValueError(f'{path}: neither a PE32 nor a PE32+ image')
        self.plus = self.magic == 0x20B
        # PE32+ has a 64-bit image base and stack and heap sizes, and no BaseOfData: its data
        # directories begin 16 bytes later. DllCharacteristics sits at the same place in both.
        self.dll_characteristics = struct.unpack_from('<H', d, opt + 70)[0]
        self.dirs_at = dirs_at = opt + (112 if self.plus else 96)
        count = struct.unpack_from('<I', d, dirs_at - 4)[0]
        self.dirs = [struct.unpack_from('<II', d, dirs_at + 8 * i) for i in range(count)]
        self.sections = []
        at = opt + optional_size
        for i in range(sections):
            name, vsize, va, raw_size, raw_at = struct.unpack_from('<8sIIII', d, at + 40 * i)
            flags = struct.unpack_from('<I', d, at + 40 * i + 36)[0]
            self.sections.append({'name': self.section_name(name), 'vsize': vsize, 'va': va,
                                  'raw_size': raw_size, 'raw_at': raw_at, 'flags': flags,
                                  'flags_at': at + 40 * i + 36})

    def section_name(self, raw):
        name = raw.rstrip(b'\0').decode('ascii', 'replace')
        # Long names live in the COFF string table: "/<offset>".
        if name.startswith('/') and name[1:].isdigit() and self.symbols_at:
            strings = self.symbols_at + 18 * self.symbol_count
            start = strings + int(name[1:])
            name = self.data[start:self.data.index(b'\0', start)].decode('ascii', 'replace')
        return name

    def dir(self, index):
        return self.dirs[index] if index < len(self.dirs) else (0, 0)

    def section_of(self, rva):
        for s in self.sections:
            if s['va'] <= rva < s['va'] + max(s['vsize'], s['raw_size']):
                return s
        return None

    def offset(self, rva):
        s = self.section_of(rva)
        if s is None:
            raise ValueError(f'RVA {rva:#x} lies in no section')
        return s['raw_at'] + rva - s['va']

    def symbols(self):
        """The COFF symbol table (empty when the image is stripped): each name with its RVA, for
        the symbols that lie in a section."""
        found = {}
        if not self.symbols_at:
            return found
        strings = self.symbols_at + 18 * self.symbol_count
        i = 0
        while i < self.symbol_count:
            at = self.symbols_at + 18 * i
            raw = self.data[at:at + 8]
            if raw[:4] == b'\0\0\0\0':
                start = strings + struct.unpack_from('<I', raw, 4)[0]
                name = self.data[start:self.data.index(b'\0', start)].decode('latin-1')
            else:
                name = raw.rstrip(b'\0').decode('latin-1')
            value, section = struct.unpack_from('<Ih', self.data, at + 8)
            if 0 < section <= len(self.sections):
                found.setdefault(name, self.sections[section - 1]['va'] + value)
            i += 1 + self.data[at + 17]  # the auxiliary records that follow
        return found

    def symbol_names(self):
        return set(self.symbols())

    def resources(self, type_id):
        """(name, language, bytes) of every resource of a numeric type."""
        rva, size = self.dir(DIR_RESOURCE)
        if not size:
            return []
        base = self.offset(rva)

        def entries(table):
            named, numbered = struct.unpack_from('<HH', self.data, base + table + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from('<II', self.data, base + table + 16 + 8 * i)
                yield ident, target

        found = []
        for type_ident, names in entries(0):
            if type_ident != type_id or not names & 0x80000000:
                continue
            for name, languages in entries(names & 0x7FFFFFFF):
                for language, leaf in entries(languages & 0x7FFFFFFF):
                    data_rva, data_size = struct.unpack_from('<II', self.data, base + leaf)
                    at = self.offset(data_rva)
                    found.append((name, language, self.data[at:at + data_size]))
        return found


def writes_exception_chain(code):
    """Offsets of instructions that store into fs:[0], the head of the thread's SEH chain."""
    hits = []
    i = code.find(b'\x64')
    while i != -1:
        op = code[i + 1:i + 2]
        rest = code[i + 2:i + 9]
        if op == b'\xA3' and rest[:4] == b'\0\0\0\0':  # mov fs:[0], eax
            hits.append(i)
        elif op in (b'\x89', b'\xC7', b'\x8F') and rest:  # mov fs:[0], reg / imm; pop fs:[0]
            modrm = rest[0]
            if modrm & 0xC7 == 0x05 and rest[1:5] == b'\0\0\0\0':
                hits.append(i)
            elif modrm & 0xC7 == 0x04 and rest[1:2] == b'\x25' and rest[2:6] == b'\0\0\0\0':
                hits.append(i)
        i = code.find(b'\x64', i + 1)
    return hits


def check_machine(pe, machine):
    broken = []
    if pe.machine != MACHINES[machine]:
        broken.append(f'machine {pe.machine:#x}, not {machine}')
    if pe.magic != PE_MAGIC[machine]:
        broken.append(f'optional header magic {pe.magic:#x}, not that of {machine} images')
    return broken


def check_hardening(pe, machine, stack_protector):
    broken, notes = check_machine(pe, machine), []
    dc = pe.dll_characteristics
    reloc_rva, reloc_size = pe.dir(DIR_BASERELOC)
    if not dc & DYNAMIC_BASE:
        broken.append('ASLR: DYNAMIC_BASE is not set')
    if pe.plus and not dc & HIGH_ENTROPY_VA:
        broken.append('ASLR: HIGH_ENTROPY_VA is not set on a 64-bit image')
    if pe.characteristics & IMAGE_FILE_RELOCS_STRIPPED or not reloc_size:
        broken.append('ASLR: the image has no relocation table to be moved by')
    if not dc & NX_COMPAT:
        broken.append('DEP: NX_COMPAT is not set')
    for s in pe.sections:
        f = s['flags']
        if f & SCN_WRITE and f & SCN_EXECUTE:
            broken.append(f"section {s['name']} is both writable and executable")
        if f & SCN_WRITE and f & SCN_SHARED:
            broken.append(f"section {s['name']} is both writable and shared between processes")
    import_rva, import_size = pe.dir(DIR_IMPORT)
    if import_size:
        s = pe.section_of(import_rva)
        if s and s['flags'] & SCN_EXECUTE:
            broken.append(f"the import table lies in the executable section {s['name']}")

    if pe.plus:
        # x64 has no handler chain to protect: exceptions unwind through the image's tables.
        if not pe.dir(DIR_EXCEPTION)[1]:
            broken.append('unwinding: the 64-bit image has no exception directory (unwind data)')
        if dc & NO_SEH:
            broken.append('unwinding: NO_SEH on a 64-bit image, whose exceptions go through '
                          'its SEH tables')
    else:
        load_config_rva, load_config_size = pe.dir(DIR_LOAD_CONFIG)
        handler_count = 0
        if load_config_size >= 72:
            at = pe.offset(load_config_rva)
            size = struct.unpack_from('<I', pe.data, at)[0]
            if size >= 72:
                handler_count = struct.unpack_from('<I', pe.data, at + 68)[0]
        if dc & NO_SEH:
            for s in pe.sections:
                if s['flags'] & SCN_EXECUTE:
                    code = pe.data[s['raw_at']:s['raw_at'] + s['raw_size']]
                    for hit in writes_exception_chain(code):
                        broken.append(f"SafeSEH: NO_SEH, but the code at RVA {s['va'] + hit:#x} "
                                      'links a handler into the exception chain (writes fs:[0])')
        elif not handler_count:
            broken.append('SafeSEH: neither NO_SEH nor a table of safe exception handlers')

    if stack_protector:
        names = pe.symbol_names()
        # C names carry a leading underscore on x86 only.
        prefix = '' if pe.plus else '_'
        if not names:
            broken.append('stack protection: cannot tell, the image has no symbol table')
        else:
            for name in (prefix + '__stack_chk_fail', prefix + '__stack_chk_guard'):
                if name not in names:
                    broken.append(f'stack protection: {name} is not linked in')
    if not dc & GUARD_CF:
        notes.append('no Control Flow Guard (GCC and GNU ld cannot build it)')
    return broken, notes


def check_rules(pe, machine):
    """Breaks each rule in a copy of a sound image and expects check_hardening to say so: the
    check reads the right fields of both kinds of header, or it would pass a broken image."""
    failures = []
    sound, _ = check_hardening(pe, machine, False)
    if sound:
        return [f'the image itself breaks a rule: {sound}']

    def variant(what, expected, mutate):
        data = bytearray(pe.data)
        mutate(data)
        broken, _ = check_hardening(Pe(what, data), machine, False)
        if not any(expected in rule for rule in broken):
            failures.append(f'{what}: the check did not report it ({broken or "no rule broken"})')

    def flip_dll_characteristics(mask, on):
        def mutate(data):
            dc = struct.unpack_from('<H', data, pe.opt + 70)[0]
            struct.pack_into('<H', data, pe.opt + 70, dc | mask if on else dc & ~mask)
        return mutate

    def write_u16(at, value):
        return lambda data: struct.pack_into('<H', data, at, value)

    code = next(s for s in pe.sections if s['flags'] & SCN_EXECUTE)
    other = 'amd64' if machine == 'i386' else 'i386'
    variant('no DYNAMIC_BASE', 'DYNAMIC_BASE', flip_dll_characteristics(DYNAMIC_BASE, False))
    variant('no NX_COMPAT', 'NX_COMPAT', flip_dll_characteristics(NX_COMPAT, False))
    variant('writable code', 'writable and executable',
            lambda data: struct.pack_into('<I', data, code['flags_at'], code['flags'] | SCN_WRITE))
    variant(f'the machine of {other}', 'machine', write_u16(pe.machine_at, MACHINES[other]))
    if pe.plus:
        variant('no HIGH_ENTROPY_VA', 'HIGH_ENTROPY_VA',
                flip_dll_characteristics(HIGH_ENTROPY_VA, False))
        variant('NO_SEH on x64', 'NO_SEH', flip_dll_characteristics(NO_SEH, True))
        variant('no unwind data', 'exception directory',
                lambda data: struct.pack_into('<II', data, pe.dirs_at + 8 * DIR_EXCEPTION, 0, 0))
    else:
        variant('no SafeSEH claim', 'SafeSEH', flip_dll_characteristics(NO_SEH, False))
    return failures


MS_ASM_V1 = 'urn:schemas-microsoft-com:asm.v1'
MS_ASM_V3 = 'urn:schemas-microsoft-com:asm.v3'
MS_COMPAT = 'urn:schemas-microsoft-com:compatibility.v1'
WS_2005 = 'http://schemas.microsoft.com/SMI/2005/WindowsSettings'
WS_2016 = 'http://schemas.microsoft.com/SMI/2016/WindowsSettings'
SUPPORTED_OS = {
    '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}': 'Windows 7',
    '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}': 'Windows 8',
    '{1f676c76-80e1-4239-95bb-83d0f6d0da78}': 'Windows 8.1',
    '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}': 'Windows 10 and 11',
}


def check_manifest(pe, version, machine):
    broken = check_machine(pe, machine)
    arch = MANIFEST_ARCH[machine]
    manifests = pe.resources(RT_MANIFEST)
    if len(manifests) != 1:
        return [f'{len(manifests)} manifest resources, not one'], None
    name, _, data = manifests[0]
    if name != 1:
        broken.append(f'the manifest is resource {name}, not 1 (the one a program starts with)')
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        return broken + [f'the manifest is not well-formed XML: {e}'], data
    q = lambda ns, tag: f'{{{ns}}}{tag}'

    if root.tag != q(MS_ASM_V1, 'assembly') or root.get('manifestVersion') != '1.0':
        broken.append(f'the root is {root.tag} {root.attrib}, not an asm.v1 assembly 1.0')
    identity = root.find(q(MS_ASM_V1, 'assemblyIdentity'))
    if identity is None:
        broken.append('no assemblyIdentity of the program')
    elif (identity.get('type'), identity.get('version'), identity.get('processorArchitecture')) \
            != ('win32', version, arch):
        broken.append(f'the program\'s identity is {identity.attrib}, expected a win32 {arch} '
                      f'assembly of version {version}')

    controls = [a for a in root.iterfind(
        f"{q(MS_ASM_V1, 'dependency')}/{q(MS_ASM_V1, 'dependentAssembly')}/"
        f"{q(MS_ASM_V1, 'assemblyIdentity')}")
        if a.get('name') == 'Microsoft.Windows.Common-Controls']
    if len(controls) != 1:
        broken.append('no dependency on Microsoft.Windows.Common-Controls')
    else:
        a = controls[0]
        if (a.get('type'), a.get('version'), a.get('publicKeyToken', '').lower()) != \
                ('win32', '6.0.0.0', '6595b64144ccf1df') or \
                a.get('processorArchitecture') not in ('*', arch):
            broken.append(f'the Common Controls dependency is {a.attrib}, not version 6.0.0.0 '
                          'with the system\'s public key token')

    levels = root.findall(
        f"{q(MS_ASM_V3, 'trustInfo')}/{q(MS_ASM_V3, 'security')}/"
        f"{q(MS_ASM_V3, 'requestedPrivileges')}/{q(MS_ASM_V3, 'requestedExecutionLevel')}")
    if len(levels) != 1 or levels[0].get('level') != 'asInvoker' or \
            levels[0].get('uiAccess', 'false').lower() != 'false':
        broken.append('the requested execution level is not asInvoker (without UI access): '
                      + str([level.attrib for level in levels]))

    ids = {os.get('Id', '').lower() for os in root.iterfind(
        f"{q(MS_COMPAT, 'compatibility')}/{q(MS_COMPAT, 'application')}/"
        f"{q(MS_COMPAT, 'supportedOS')}")}
    for os_id, os_name in SUPPORTED_OS.items():
        if os_id not in ids:
            broken.append(f'supportedOS does not name {os_name}')

    settings = root.findall(f"{q(MS_ASM_V3, 'application')}/{q(MS_ASM_V3, 'windowsSettings')}")
    aware = [e.text or '' for s in settings for e in s.iter(q(WS_2005, 'dpiAware'))]
    awareness = [e.text or '' for s in settings for e in s.iter(q(WS_2016, 'dpiAwareness'))]
    if len(aware) != 1 or aware[0].strip().lower() != 'true/pm':
        broken.append(f'dpiAware is {aware}, not true/pm (per monitor on Windows 8.1)')
    values = [v.strip().lower() for v in awareness[0].split(',')] if len(awareness) == 1 else []
    if not values or values[0] != 'permonitorv2':
        broken.append(f'dpiAwareness is {awareness}, not PerMonitorV2 first')
    elif 'permonitor' not in values[1:]:
        broken.append(f'dpiAwareness {awareness} has no PerMonitor for Windows 10 1607')
    return broken, data


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('what', choices=('hardening', 'manifest', 'rules'))
    parser.add_argument('image')
    parser.add_argument('--machine', choices=sorted(MACHINES), required=True)
    parser.add_argument('--stack-protector', action='store_true')
    parser.add_argument('--version')
    args = parser.parse_args()
    pe = Pe(args.image)
    if args.what == 'rules':
        broken = check_rules(pe, args.machine)
    elif args.what == 'hardening':
        broken, notes = check_hardening(pe, args.machine, args.stack_protector)
        sections = ', '.join(s['name'] for s in pe.sections)
        print(f'{args.image}: DllCharacteristics {pe.dll_characteristics:#06x}; sections {sections}')
        for note in notes:
            print(f'note: {note}')
    else:
        if not args.version:
            parser.error('manifest needs --version')
        broken, data = check_manifest(pe, args.version, args.machine)
        if data is not None:
            print(data.decode('utf-8', 'replace'))
    for rule in broken:
        print(f'BROKEN: {rule}')
    if broken:
        return 1
    print(f'{args.image}: {args.what} as required')
    return 0


if __name__ == '__main__':
    sys.exit(main())
