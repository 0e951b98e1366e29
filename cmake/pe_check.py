#!/usr/bin/env python3
"""Checks a built Windows image, 32-bit (PE32) or 64-bit (PE32+), from its PE headers and code.

  pe_check.py hardening <image> --machine i386|amd64 --objdump <objdump> [--stack-protector]
              [--symbols <file>] [--dll-search restricts|leaves]
      The rules that Windows' binary analysers apply:
        - the machine the build was for (a PE32 image for i386, PE32+ for amd64);
        - ASLR: DYNAMIC_BASE, with a relocation table to move the image by; for PE32+ also
          HIGH_ENTROPY_VA (the 64-bit address space);
        - DEP: NX_COMPAT;
        - no section both writable and executable, none both writable and shared, and the
          import table in a section that cannot be executed;
        - PE32, SafeSEH: either NO_SEH, and then no code that may link a handler into the
          thread's exception chain (a store into fs:[0]: at the address 0 itself, or through a
          register with no displacement, as `mov %esp,%fs:(%eax)`), or a table of the image's
          handlers;
        - PE32+, unwinding: the exception directory (the functions' unwind data, which x64
          exception dispatch and stack walks need), and no NO_SEH claim beside it;
        - DLL search: every DLL the image imports (its import and delay-import tables) is a
          KnownDLL, which Windows always maps from the system directory, unless the image
          restricts the search of its imports to the system directory (DependentLoadFlags in
          its load config directory: LOAD_LIBRARY_SEARCH_SYSTEM32 and no directory besides);
        - with --stack-protector: the compiled code uses the canary: it calls the canary's check,
          __stack_chk_fail, which only the compiler's guarded functions call. The addresses
          come from the symbol table of --symbols (the image's .debug file when the image is
          stripped), else of the image;
        - with --dll-search restricts (a program): DependentLoadFlags as above, and the image
          names SetDefaultDllDirectories (imports it, or carries the name to look it up), with
          which it restricts its own search at run time;
        - with --dll-search leaves (a library that runs inside other programs): the image names
          none of the functions that change a process's DLL search.
      The code is read by disassembling the executable sections with the target's objdump.
      With --expect-broken <text>, the image must break exactly the rules whose reports hold
      <text> (a build made to break one rule, to show that the check catches it).
  pe_check.py manifest <image> --version <a.b.c.d> --machine i386|amd64
      The application manifest (resource type 24, id 1) and its declarations.
  pe_check.py rules <image> --machine i386|amd64 --objdump <objdump> [the options of hardening]
      The hardening check itself: the image passes with those options, and a copy with one rule
      broken at a time (every rule that applies to its machine and options) fails with that
      rule named.

Prints what it found; exits 1 naming every rule that is broken.
"""
import argparse
import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
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
DIR_IMPORT, DIR_RESOURCE, DIR_EXCEPTION, DIR_BASERELOC, DIR_LOAD_CONFIG, DIR_DELAY_IMPORT = (
    1, 2, 3, 5, 10, 13)
RT_MANIFEST = 24

# The KnownDLLs of every Windows the suite supports (7 to 11, the 32-bit list of WoW64 included:
# HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs); the loader maps them from
# the system directory whatever the search order says. ntdll.dll is always mapped first, from
# there too, and the api-ms-win-/ext-ms-win- names are API sets, which no search resolves.
KNOWN_DLLS = {
    'advapi32.dll', 'clbcatq.dll', 'comdlg32.dll', 'difxapi.dll', 'gdi32.dll', 'imagehlp.dll',
    'imm32.dll', 'kernel32.dll', 'msctf.dll', 'msvcrt.dll', 'normaliz.dll', 'nsi.dll',
    'ole32.dll', 'oleaut32.dll', 'psapi.dll', 'rpcrt4.dll', 'sechost.dll', 'setupapi.dll',
    'shell32.dll', 'shlwapi.dll', 'user32.dll', 'wldap32.dll', 'ws2_32.dll', 'ntdll.dll'}
API_SET_PREFIXES = ('api-ms-win-', 'ext-ms-win-')
# The LOAD_LIBRARY_SEARCH_ flags of DependentLoadFlags.
SEARCH_DLL_LOAD_DIR, SEARCH_APPLICATION_DIR, SEARCH_USER_DIRS, SEARCH_SYSTEM32, \
    SEARCH_DEFAULT_DIRS = 0x100, 0x200, 0x400, 0x800, 0x1000
# Where DependentLoadFlags lies in the load config directory.
DEPENDENT_LOAD_FLAGS_AT = {False: 0x36, True: 0x4E}
# What a program names to restrict its own search, and what changes the search of a process.
RESTRICTS_SEARCH = 'SetDefaultDllDirectories'
CHANGES_SEARCH = ('SetDefaultDllDirectories', 'SetDllDirectoryA', 'SetDllDirectoryW',
                  'AddDllDirectory', 'RemoveDllDirectory')


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

    @property
    def image_base(self):
        return struct.unpack_from('<Q' if self.plus else '<I', self.data,
                                  self.opt + (24 if self.plus else 28))[0]

    def c_string(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b'\0', at)].decode('latin-1')

    def imported_dlls(self):
        """The DLLs of the import and delay-import tables, with where each name lies."""
        dlls = []
        for index, entry_size, name_at in ((DIR_IMPORT, 20, 12), (DIR_DELAY_IMPORT, 32, 4)):
            rva, size = self.dir(index)
            if not size:
                continue
            at = self.offset(rva)
            while True:
                entry = self.data[at:at + entry_size]
                if len(entry) < entry_size or not any(entry):
                    break
                name_rva = struct.unpack_from('<I', entry, name_at)[0]
                dlls.append((self.c_string(name_rva), self.offset(name_rva)))
                at += entry_size
        return dlls

    def imported_functions(self):
        """The names the import table imports by name."""
        names = set()
        rva, size = self.dir(DIR_IMPORT)
        if not size:
            return names
        thunk_size, by_ordinal = (8, 1 << 63) if self.plus else (4, 1 << 31)
        at = self.offset(rva)
        while True:
            entry = self.data[at:at + 20]
            if len(entry) < 20 or not any(entry):
                break
            lookup, _, _, _, first = struct.unpack_from('<IIIII', entry)
            thunk = self.offset(lookup or first)
            while True:
                value = struct.unpack_from('<Q' if self.plus else '<I', self.data, thunk)[0]
                if not value:
                    break
                if not value & by_ordinal:
                    names.add(self.c_string((value & 0x7FFFFFFF) + 2))  # after the hint
                thunk += thunk_size
            at += 20
        return names

    def dependent_load_flags(self):
        """DependentLoadFlags of the load config directory, or None where it has none."""
        rva, size = self.dir(DIR_LOAD_CONFIG)
        field = DEPENDENT_LOAD_FLAGS_AT[self.plus]
        if size < field + 2:
            return None
        at = self.offset(rva)
        if struct.unpack_from('<I', self.data, at)[0] < field + 2:
            return None
        return struct.unpack_from('<H', self.data, at + field)[0], at + field

    def names(self, name):
        """Whether the image imports `name` or carries it as a string (to look it up)."""
        if name in self.imported_functions():
            return True
        pattern = b'\0' + name.encode('ascii') + b'\0'
        return any(pattern in self.data[s['raw_at']:s['raw_at'] + s['raw_size']]
                   for s in self.sections)

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


# Instructions that store into their last operand, as objdump writes them (AT&T syntax).
STORES = re.compile(r'^(?:lock )?(?:mov|pop|xchg|cmpxchg|add|or|and|sub|xor|adc|sbb)[bwlq]?\s')
# A destination in the fs segment that may be offset 0: the address 0, or a register with no
# displacement (or one of 0).
FS_AT_ZERO = re.compile(r'%fs:(?:0x0|0)?(?:\([^)]*\))?')
# A direct branch and its target (call, jmp, jcc with a 32-bit displacement).
BRANCH = re.compile(r'^(?:call|jmp|j[a-z]{1,3})[lq]?\s+(?:0x)?([0-9a-f]+)\b')

_disassembly = {}


class Instruction:
    def __init__(self, address, raw, text):
        self.address, self.raw, self.text = address, raw, text


def disassemble(pe, objdump):
    """The instructions of the image's executable sections, by address, as objdump reads them.
    The same code is read once, whatever else differs between images."""
    code = b''.join(pe.data[s['raw_at']:s['raw_at'] + s['raw_size']] + struct.pack('<I', s['va'])
                    for s in pe.sections if s['flags'] & SCN_EXECUTE)
    key = hashlib.sha256(code + struct.pack('<Q', pe.image_base)).hexdigest()
    if key in _disassembly:
        return _disassembly[key]
    with tempfile.NamedTemporaryFile(suffix='.exe', delete=False) as f:
        f.write(pe.data)
        path = f.name
    try:
        out = subprocess.run([objdump, '-d', '-w', path], check=True, capture_output=True,
                             text=True, errors='replace').stdout
    finally:
        os.unlink(path)
    instructions = []
    for line in out.splitlines():
        parts = line.split('\t')
        if len(parts) < 3 or not parts[0].strip().endswith(':'):
            continue
        try:
            address = int(parts[0].strip()[:-1], 16)
            raw = bytes.fromhex(parts[1].replace(' ', ''))
        except ValueError:
            continue
        instructions.append(Instruction(address, raw, ' '.join(parts[2:]).strip()))
    _disassembly[key] = instructions
    return instructions


def operands(text):
    """The operands of an instruction as objdump writes it, split at the commas between them."""
    parts = text.split('#', 1)[0].split(None, 1)
    if len(parts) < 2:
        return []
    found, depth, current = [], 0, ''
    for c in parts[1].strip():
        if c == ',' and depth == 0:
            found.append(current)
            current = ''
            continue
        depth += (c == '(') - (c == ')')
        current += c
    return found + [current]


def writes_exception_chain(instructions):
    """Instructions that may store into fs:[0], the head of the thread's SEH chain: into the
    address 0 of the fs segment, or through registers with no displacement, whose value the
    check cannot know."""
    hits = []
    for i in instructions:
        if STORES.match(i.text):
            destination = (operands(i.text) or [''])[-1].strip()
            if FS_AT_ZERO.fullmatch(destination):
                hits.append(i)
    return hits


def branches_to(instructions, target):
    """The direct branches (calls, jumps) to an address."""
    hits = []
    for i in instructions:
        m = BRANCH.match(i.text)
        if m and int(m.group(1), 16) == target:
            hits.append(i)
    return hits


def c_name(pe, name):
    """A C symbol as it is named in the symbol table: with a leading underscore on x86 only."""
    return name if pe.plus else '_' + name


def check_machine(pe, machine):
    broken = []
    if pe.machine != MACHINES[machine]:
        broken.append(f'machine {pe.machine:#x}, not {machine}')
    if pe.magic != PE_MAGIC[machine]:
        broken.append(f'optional header magic {pe.magic:#x}, not that of {machine} images')
    return broken


def restricted(flags):
    return flags is not None and flags & SEARCH_SYSTEM32 and not flags & (
        SEARCH_DLL_LOAD_DIR | SEARCH_APPLICATION_DIR | SEARCH_USER_DIRS | SEARCH_DEFAULT_DIRS)


class Options:
    def __init__(self, objdump, stack_protector=False, symbols=None, dll_search=None):
        self.objdump = objdump
        self.stack_protector = stack_protector
        self.symbols = symbols  # a Pe whose symbol table names the image's addresses
        self.dll_search = dll_search


def check_hardening(pe, machine, options):
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

    instructions = None
    if options.stack_protector or (not pe.plus and dc & NO_SEH):
        instructions = disassemble(pe, options.objdump)
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
            for i in writes_exception_chain(instructions):
                broken.append(f'SafeSEH: NO_SEH, but the code at RVA {i.address - pe.image_base:#x} '
                              f'may link a handler into the exception chain (writes fs:[0]: '
                              f'{i.text})')
        elif not handler_count:
            broken.append('SafeSEH: neither NO_SEH nor a table of safe exception handlers')

    dlls = [name for name, _ in pe.imported_dlls()]
    unknown = sorted({n for n in dlls if n.lower() not in KNOWN_DLLS and
                      not n.lower().startswith(API_SET_PREFIXES)})
    loaded = pe.dependent_load_flags()
    flags = loaded[0] if loaded else None
    if unknown and not restricted(flags):
        broken.append(f"DLL search: the image imports {', '.join(unknown)}, which "
                      f'{"is not a KnownDLL" if len(unknown) == 1 else "are not KnownDLLs"}, '
                      'and does not restrict the search of its imports to the system directory '
                      '(DependentLoadFlags)')
    if options.dll_search == 'restricts':
        if not restricted(flags):
            broken.append('DLL search: the load config directory does not restrict the search '
                          'of the static imports to the system directory (DependentLoadFlags '
                          f'{"missing" if flags is None else hex(flags)}, not 0x800)')
        if not pe.names(RESTRICTS_SEARCH):
            broken.append(f'DLL search: the image never names {RESTRICTS_SEARCH}: it cannot '
                          'restrict its own search at run time')
    elif options.dll_search == 'leaves':
        for name in CHANGES_SEARCH:
            if pe.names(name):
                broken.append(f'DLL search: the image names {name}: it could change the DLL '
                              'search of the processes it runs in')

    if options.stack_protector:
        symbols = (options.symbols or pe).symbols()
        fail = symbols.get(c_name(pe, '__stack_chk_fail'))
        guard = symbols.get(c_name(pe, '__stack_chk_guard'))
        if not symbols:
            broken.append('stack protection: cannot tell, no symbol table names the check '
                          '(give the .debug file of a stripped image)')
        elif fail is None or guard is None:
            broken.append('stack protection: the canary (__stack_chk_guard) and its check '
                          '(__stack_chk_fail) are not both linked in')
        else:
            calls = branches_to(instructions, pe.image_base + fail)
            if not calls:
                broken.append('stack protection: no code calls __stack_chk_fail: the image was '
                              'compiled without a stack protector')
            else:
                notes.append(f'stack protection: {len(calls)} checks of the canary in the code')
    if not dc & GUARD_CF:
        notes.append('no Control Flow Guard (GCC and GNU ld cannot build it)')
    return broken, notes


def check_rules(pe, machine, options):
    """Breaks each rule in a copy of a sound image and expects check_hardening to say so: the
    check reads the right fields of both kinds of header and the code that matters, or it
    would pass a broken image."""
    failures = []
    sound, _ = check_hardening(pe, machine, options)
    if sound:
        return [f'the image itself breaks a rule: {sound}']

    def variant(what, expected, mutate, reported=True):
        data = bytearray(pe.data)
        mutate(data)
        broken, _ = check_hardening(Pe(what, data), machine, options)
        found = any(expected in rule for rule in broken)
        if found != reported:
            failures.append(f'{what}: the check ' + (
                f'did not report it ({broken or "no rule broken"})' if reported else
                f'reported it ({broken})'))
        else:
            print(f'{what}: {"reported" if reported else "not reported, as it must not be"}')

    def flip_dll_characteristics(mask, on):
        def mutate(data):
            dc = struct.unpack_from('<H', data, pe.opt + 70)[0]
            struct.pack_into('<H', data, pe.opt + 70, dc | mask if on else dc & ~mask)
        return mutate

    def write_u16(at, value):
        return lambda data: struct.pack_into('<H', data, at, value)

    def set_section_flags(section, mask):
        return lambda data: struct.pack_into('<I', data, section['flags_at'],
                                             section['flags'] | mask)

    def write_bytes(at, value):
        def mutate(data):
            data[at:at + len(value)] = value
        return mutate

    def both(*mutations):
        def mutate(data):
            for m in mutations:
                m(data)
        return mutate

    code = next(s for s in pe.sections if s['flags'] & SCN_EXECUTE)
    # A writable section made shared: one with data where there is one (newer linkers leave a
    # library whose data is all zero with only .bss); else any section that is not code, made
    # writable too.
    writable = (next((s for s in pe.sections if s['flags'] & SCN_WRITE and s['raw_size']), None) or
                next((s for s in pe.sections if s['flags'] & SCN_WRITE), None))
    shared_mask = SCN_SHARED
    if writable is None:
        writable = next(s for s in pe.sections if not s['flags'] & SCN_EXECUTE)
        shared_mask = SCN_WRITE | SCN_SHARED
    import_section = pe.section_of(pe.dir(DIR_IMPORT)[0])
    other = 'amd64' if machine == 'i386' else 'i386'
    variant('no DYNAMIC_BASE', 'DYNAMIC_BASE', flip_dll_characteristics(DYNAMIC_BASE, False))
    variant('no NX_COMPAT', 'NX_COMPAT', flip_dll_characteristics(NX_COMPAT, False))
    variant('no relocation table', 'relocation table',
            lambda data: struct.pack_into('<II', data, pe.dirs_at + 8 * DIR_BASERELOC, 0, 0))
    variant('relocations stripped', 'relocation table',
            lambda data: struct.pack_into('<H', data, pe.machine_at + 18,
                                          pe.characteristics | IMAGE_FILE_RELOCS_STRIPPED))
    variant('writable code', 'writable and executable', set_section_flags(code, SCN_WRITE))
    variant(f'shared {writable["name"]}', 'writable and shared',
            set_section_flags(writable, shared_mask))
    variant(f'executable {import_section["name"]} with the import table',
            'import table lies in the executable section',
            set_section_flags(import_section, SCN_EXECUTE))
    variant(f'the machine of {other}', 'machine', write_u16(pe.machine_at, MACHINES[other]))
    if pe.plus:
        variant('no HIGH_ENTROPY_VA', 'HIGH_ENTROPY_VA',
                flip_dll_characteristics(HIGH_ENTROPY_VA, False))
        variant('NO_SEH on x64', 'NO_SEH', flip_dll_characteristics(NO_SEH, True))
        variant('no unwind data', 'exception directory',
                lambda data: struct.pack_into('<II', data, pe.dirs_at + 8 * DIR_EXCEPTION, 0, 0))
    else:
        variant('no SafeSEH claim', 'SafeSEH', flip_dll_characteristics(NO_SEH, False))
        # The code section begins with an instruction: a handler linked in there, in each form.
        for what, value in (('mov %esp,%fs:(%eax)', b'\x64\x89\x20'),
                            ('mov %eax,%fs:0x0', b'\x64\xa3\0\0\0\0'),
                            ('mov %ecx,%fs:0x0 (ModRM)', b'\x64\x89\x0d\0\0\0\0'),
                            ('mov %eax,%fs:(%eax,%ecx,1)', b'\x64\x89\x04\x08'),
                            ('pop %fs:(%ebx)', b'\x64\x8f\x03')):
            variant(f'a store {what}', 'writes fs:[0]', write_bytes(code['raw_at'], value))
        # What is no store into the chain's head: a load from it, a store at a displacement.
        for what, value in (('a load from fs:(%eax)', b'\x64\x8b\x00'),
                            ('a store at fs:0x18', b'\x64\xa3\x18\0\0\0')):
            variant(what, 'writes fs:[0]', write_bytes(code['raw_at'], value), reported=False)

    # An import renamed to a DLL that no KnownDLLs list holds (same length, in place).
    name, name_at = pe.imported_dlls()[0]
    stranger = ('x' * (len(name) - 4) + '.dll').encode('ascii')
    rename = write_bytes(name_at, stranger)
    loaded = pe.dependent_load_flags()
    if loaded:
        clear_flags = write_u16(loaded[1], 0)
        variant(f'{name} imported as {stranger.decode()}, no DependentLoadFlags',
                'not a KnownDLL', both(rename, clear_flags))
        if restricted(loaded[0]):
            variant(f'{name} imported as {stranger.decode()}, the search restricted',
                    'not a KnownDLL', rename, reported=False)
    else:
        variant(f'{name} imported as {stranger.decode()}', 'not a KnownDLL', rename)
    if options.dll_search == 'restricts':
        if loaded:
            variant('no DependentLoadFlags', 'DependentLoadFlags', clear_flags)
            variant('DependentLoadFlags with the application directory', 'DependentLoadFlags',
                    write_u16(loaded[1], SEARCH_SYSTEM32 | SEARCH_APPLICATION_DIR))
        variant(f'{RESTRICTS_SEARCH} never named', RESTRICTS_SEARCH,
                lambda data: data.__setitem__(slice(None), data.replace(
                    b'\0' + RESTRICTS_SEARCH.encode() + b'\0',
                    b'\0' + RESTRICTS_SEARCH.lower().encode() + b'\0')))
    elif options.dll_search == 'leaves':
        text = next(s for s in pe.sections if not s['flags'] & SCN_EXECUTE and s['raw_size'] > 64)
        for changer in ('SetDefaultDllDirectories', 'SetDllDirectoryW'):
            variant(f'{changer} named', changer,
                    write_bytes(text['raw_at'], b'\0' + changer.encode() + b'\0'))

    if options.stack_protector:
        symbols = (options.symbols or pe).symbols()
        target = pe.image_base + symbols[c_name(pe, '__stack_chk_fail')]
        calls = branches_to(disassemble(pe, options.objdump), target)

        # Each check sent one byte past the routine: as if no code called it.
        def unguarded(data):
            for i in calls:
                at = pe.offset(i.address - pe.image_base) + len(i.raw) - 4
                struct.pack_into('<i', data, at, struct.unpack_from('<i', data, at)[0] + 1)
        variant(f'none of the {len(calls)} checks of the canary', 'no code calls', unguarded)
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
    parser.add_argument('--objdump')
    parser.add_argument('--stack-protector', action='store_true')
    parser.add_argument('--symbols')
    parser.add_argument('--dll-search', choices=('restricts', 'leaves'))
    parser.add_argument('--expect-broken')
    parser.add_argument('--version')
    args = parser.parse_args()
    pe = Pe(args.image)
    if args.what in ('hardening', 'rules'):
        if not args.objdump:
            parser.error(f'{args.what} needs --objdump')
        options = Options(args.objdump, args.stack_protector,
                          Pe(args.symbols) if args.symbols else None, args.dll_search)
    if args.what == 'rules':
        broken = check_rules(pe, args.machine, options)
    elif args.what == 'hardening':
        broken, notes = check_hardening(pe, args.machine, options)
        sections = ', '.join(s['name'] for s in pe.sections)
        print(f'{args.image}: DllCharacteristics {pe.dll_characteristics:#06x}; sections {sections}')
        flags = pe.dependent_load_flags()
        print(f"{args.image}: imports {', '.join(n for n, _ in pe.imported_dlls())}; "
              f"DependentLoadFlags {'none' if flags is None else hex(flags[0])}")
        for note in notes:
            print(f'note: {note}')
        if args.expect_broken is not None:
            for rule in broken:
                print(f'BROKEN: {rule}')
            unexpected = [r for r in broken if args.expect_broken not in r]
            if broken and not unexpected:
                print(f'{args.image}: breaks only the rule expected ({args.expect_broken})')
                return 0
            print(f'{args.image}: expected to break only "{args.expect_broken}"')
            return 1
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
