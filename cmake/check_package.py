#!/usr/bin/env python3
"""Checks the release archive after building it (`cmake --build <dir> --target package`).

  check_package.py layout <build dir> --zip <zip> --epoch <seconds or ""> [--cmake <cmake>]
      The entries, in their fixed order and with their fixed times; the deliverables are the ones
      built in <build dir>/bin (the DLL stripped, its debug file left out); SHA256SUMS beside the
      zip names the zip with its digest.
  check_package.py install-guide <build dir> --zip <zip> --versions <v> ... [--cmake <cmake>]
      INSTALL.txt: UTF-8 with a byte-order mark and CR LF line ends, so that Notepad on Windows 7
      to 11 shows it right; Japanese first, then English, each telling what the zip holds, where
      each file goes, how to remove the suite and where the plug-in keeps its setting.
"""
import argparse
import hashlib
import os
import re
import subprocess
import sys
import zipfile

ENTRIES = ['mkhook.dll', 'mkplugin/Memory/ramtidy.exe', 'INSTALL.txt']
SETTING_KEY = r'HKEY_CURRENT_USER\Software\VB and VBA Program Settings\Orbel\Memory Cleaner'
REMOVE_KEY = r'reg delete "HKCU\Software\VB and VBA Program Settings\Orbel\Memory Cleaner" /f'
# What each half must say, in its language.
JAPANESE = ['zip ファイルの内容', 'インストール', 'アンインストール', '設定の保存場所',
            'mkplugin\\Memory', 'コントローラー']
ENGLISH = ['Contents of the zip file', 'Installation', 'Removal',
           'Where the memory cleaner keeps its setting', 'mkplugin\\Memory', 'controller']


def build(cmake, build_dir):
    subprocess.run([cmake, '--build', build_dir, '--target', 'package'], check=True,
                   stdout=subprocess.DEVNULL)


def sha256(path):
    with open(path, 'rb') as f:
        return hashlib.sha256(f.read()).hexdigest()


def check_layout(build_dir, zip_path, epoch):
    problems = []
    with zipfile.ZipFile(zip_path) as z:
        infos = z.infolist()
        names = [i.filename for i in infos]
        if names != ENTRIES:
            problems.append(f'entries {names}, expected {ENTRIES} in this order')
        sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
        from release_zip import entry_time
        want_time = entry_time(epoch)
        for i in infos:
            if i.date_time != want_time:
                problems.append(f'{i.filename} is dated {i.date_time}, expected {want_time}')
            if i.create_system != 0 or i.external_attr != 0x20:
                problems.append(f'{i.filename} carries this machine\'s file attributes')
        built = {'mkhook.dll': os.path.join(build_dir, 'bin', 'mkhook.dll'),
                 'mkplugin/Memory/ramtidy.exe': os.path.join(build_dir, 'bin', 'ramtidy.exe'),
                 'INSTALL.txt': os.path.join(build_dir, 'INSTALL.txt')}
        for name, path in built.items():
            if name in names:
                with open(path, 'rb') as f:
                    if z.read(name) != f.read():
                        problems.append(f'the archive\'s {name} is not {path}')
    sums = os.path.join(os.path.dirname(zip_path), 'SHA256SUMS')
    want = f'{sha256(zip_path)}  {os.path.basename(zip_path)}\n'
    if not os.path.exists(sums):
        problems.append(f'no {sums}')
    else:
        with open(sums, newline='') as f:
            got = f.read()
        if got != want:
            problems.append(f'SHA256SUMS reads {got!r}, expected {want!r}')
    return problems


def halves(text):
    """The Japanese and the English part: the English one begins with its own title line."""
    m = re.search(r'^Mirekko \S+ for 32-bit Windows \(English\)$', text, re.M)
    return (text[:m.start()], text[m.start():]) if m else (text, '')


def check_install_guide(zip_path, versions):
    problems = []
    with zipfile.ZipFile(zip_path) as z:
        raw = z.read('INSTALL.txt')
    if not raw.startswith(b'\xef\xbb\xbf'):
        problems.append('INSTALL.txt has no UTF-8 byte-order mark')
    if raw.count(b'\n') == 0 or raw.count(b'\r\n') != raw.count(b'\n') or \
            raw.count(b'\r') != raw.count(b'\n'):
        problems.append('INSTALL.txt has line ends other than CR LF')
    try:
        text = raw.decode('utf-8-sig').replace('\r\n', '\n')
    except UnicodeDecodeError as e:
        return problems + [f'INSTALL.txt is not UTF-8: {e}']
    japanese, english = halves(text)
    if not english:
        return problems + ['INSTALL.txt has no English part after the Japanese one']
    if not re.search('[\u3040-\u30ff]', japanese):
        problems.append('the first part of INSTALL.txt is not in Japanese')
    if re.search('[\u3040-\u30ff\u4e00-\u9fff]', english):
        problems.append('the English part of INSTALL.txt holds Japanese text')
    for part, name, phrases in ((japanese, 'Japanese', JAPANESE), (english, 'English', ENGLISH)):
        for phrase in phrases + versions + ENTRIES[:1] + ['ramtidy.exe', SETTING_KEY, 'ShowWnd',
                                                          REMOVE_KEY, '"True"', '"False"']:
            if phrase not in part:
                problems.append(f'the {name} part does not say {phrase!r}')
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('what', choices=('layout', 'install-guide'))
    parser.add_argument('build_dir')
    parser.add_argument('--cmake', default='cmake')
    parser.add_argument('--zip', required=True)
    parser.add_argument('--epoch', default='')
    parser.add_argument('--versions', nargs='*', default=[])
    args = parser.parse_args()
    build(args.cmake, args.build_dir)
    if args.what == 'layout':
        problems = check_layout(args.build_dir, args.zip, args.epoch)
    else:
        problems = check_install_guide(args.zip, args.versions)
    for p in problems:
        print(f'BROKEN: {p}')
    if problems:
        return 1
    print(f'{args.zip}: {args.what} as required')
    return 0


if __name__ == '__main__':
    sys.exit(main())
