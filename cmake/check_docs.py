#!/usr/bin/env python3
"""Checks the documentation against the tree it describes.

  check_docs.py links <source dir>
      - Every relative link in README.md and docs/*.md points to a file or directory of the
        tree, and every #anchor in it to a heading of the Markdown page it names (the anchors
        GitHub makes: lower case, blanks to '-', punctuation dropped, letters of every script
        kept, a repeated heading numbered -1, -2, ...). A link into another kind of file may
        name a line (#L12) and nothing else. Links in code are not links.
      - README.md starts with the two commands a new user runs: its title, then a code block
        of exactly `./dev demo` and `./dev test` (a comment after '#' allowed on each).
      - .ci/run runs `./dev test`; ./dev dispatches `demo` and `test`, and every `./dev <command>`
        that the pages show in code is one it dispatches.
  check_docs.py self-test
      The check itself: a sound tree passes, and a copy with one fault at a time fails with
      that fault named.

Prints every problem; exits 1 when there is one.
"""
import argparse
import os
import re
import shutil
import sys
import tempfile
import urllib.parse

FENCE = re.compile(r'^ {0,3}(`{3,}|~{3,})')
ATX = re.compile(r'^ {0,3}#{1,6}(?:[ \t]+(.*?))?(?:[ \t]+#+)?[ \t]*$')
SETEXT = re.compile(r'^ {0,3}(=+|-+)[ \t]*$')
# [text](target "title") and ![alt](target); the text may hold brackets one deep.
LINK = re.compile(r'!?\[((?:[^\[\]\\]|\\.|\[[^\]]*\])*)\]'
                  r'\(\s*(<[^>\n]*>|[^\s)]+)(?:\s+(?:"[^"]*"|\'[^\']*\'))?\s*\)')
REFERENCE = re.compile(r'^ {0,3}\[[^\]]+\]:[ \t]*(<[^>\n]*>|\S+)', re.M)
# A code span ends at the first run of as many backticks, within its paragraph.
CODE_SPAN = re.compile(r'(`+)((?:(?!\n[ \t]*\n).)+?)\1', re.S)
EXTERNAL = re.compile(r'^(?:[A-Za-z][A-Za-z0-9+.-]*:|//)')
LINE_ANCHOR = re.compile(r'^L\d+(?:-L\d+)?$')
DEV_COMMAND = re.compile(r'(?:^|[\s;&|(])\./dev[ \t]+([A-Za-z0-9][\w-]*)')
TWO_COMMANDS = ['./dev demo', './dev test']


def anchor_of(heading):
    """The anchor GitHub gives a heading's text."""
    text = re.sub(r'!?\[((?:[^\[\]]|\[[^\]]*\])*)\]\([^)]*\)', r'\1', heading)
    text = re.sub(r'<[^>]+>', '', text).strip().lower()
    return re.sub(r'[^\w\- ]', '', text).replace(' ', '-')


class Page:
    """A Markdown page: its prose (code blanked out), its code, its fenced blocks, its anchors."""

    def __init__(self, path):
        with open(path, encoding='utf-8') as f:
            lines = f.read().split('\n')
        self.blocks, self.anchors, prose, block, fence, seen = [], set(), [], None, None, {}
        headings = []
        for n, line in enumerate(lines):
            opener = FENCE.match(line)
            if fence:
                if line.strip() and set(line.strip()) == {fence[0]} and len(line.strip()) >= len(fence):
                    fence = None
                else:
                    block.append(line)
                prose.append('')
                continue
            if opener:
                fence, block = opener.group(1), []
                self.blocks.append((n + 1, block))
                prose.append('')
                continue
            prose.append(line)
            m = ATX.match(line)
            if m:
                headings.append(m.group(1) or '')
            elif SETEXT.match(line) and n > 0 and prose[n - 1].strip() and \
                    not re.match(r'^\s*([|#>*+-]|\d+[.)])', prose[n - 1]):
                headings.append(prose[n - 1].strip())
        for heading in headings:
            slug = anchor_of(heading)
            count = seen.get(slug, 0)
            seen[slug] = count + 1
            self.anchors.add(slug if count == 0 else f'{slug}-{count}')
        text = '\n'.join(prose)
        self.code = [line for _, block in self.blocks for line in block]
        self.code += [m.group(2) for m in CODE_SPAN.finditer(text)]
        # Code spans become blanks of the same shape, so that offsets still give line numbers.
        self.prose = CODE_SPAN.sub(lambda m: re.sub(r'[^\n]', ' ', m.group(0)), text)

    def links(self):
        """(line number, target) of every link and link reference definition."""
        found = [(m.start(), m.group(2)) for m in LINK.finditer(self.prose)]
        found += [(m.start(), m.group(1)) for m in REFERENCE.finditer(self.prose)]
        for at, target in sorted(found):
            yield self.prose.count('\n', 0, at) + 1, target.strip('<>')


def check_links(root, pages):
    problems, parsed = [], {}

    def page(path):
        if path not in parsed:
            parsed[path] = Page(path)
        return parsed[path]

    for path in pages:
        name = os.path.relpath(path, root)
        for line, target in page(path).links():
            where = f'{name}:{line}: link {target}'
            if EXTERNAL.match(target):
                continue
            file_part, _, fragment = target.partition('#')
            file_part = urllib.parse.unquote(file_part)
            if not file_part:
                dest = path
            elif file_part.startswith('/'):
                dest = os.path.normpath(os.path.join(root, file_part.lstrip('/')))
            else:
                dest = os.path.normpath(os.path.join(os.path.dirname(path), file_part))
            if os.path.commonpath([root, dest]) != root:
                problems.append(f'{where}: leads out of the tree')
            elif not os.path.exists(dest):
                problems.append(f'{where}: no such file or directory')
            elif fragment and dest.endswith('.md') and os.path.isfile(dest):
                if urllib.parse.unquote(fragment) not in page(dest).anchors:
                    problems.append(f'{where}: no heading with the anchor #{fragment} in '
                                    f'{os.path.relpath(dest, root)}')
            elif fragment and not LINE_ANCHOR.match(fragment):
                problems.append(f'{where}: #{fragment} is neither a heading of a Markdown page '
                                f'nor a line (#L12)')
    return problems, parsed


def dev_commands(dev_text):
    """The labels of ./dev's command dispatch: the case statement at the top level."""
    lines = dev_text.split('\n')
    starts = [i for i, line in enumerate(lines) if re.match(r'^case\s.*\sin\s*$', line)]
    if not starts:
        return None
    labels = set()
    for line in lines[starts[-1] + 1:]:
        if re.match(r'^esac\b', line):
            break
        m = re.match(r'^([^\s#()][^()]*)\)', line)
        if m:
            labels.update(p.strip() for p in m.group(1).split('|') if p.strip() != '*')
    return labels


def check_commands(root, readme, parsed):
    problems = []
    with open(os.path.join(root, 'README.md'), encoding='utf-8') as f:
        head = [line for line in f.read().split('\n') if line.strip()][:2]
    if len(head) < 2 or not head[0].startswith('# ') or not FENCE.match(head[1]):
        problems.append('README.md: does not start with its title and then the two commands')
    commands = []
    if readme.blocks:
        commands = [c for c in (line.split('#', 1)[0].strip() for line in readme.blocks[0][1]) if c]
    if sorted(commands) != TWO_COMMANDS:
        problems.append(f'README.md: its first code block runs {commands}, not exactly '
                        f'{TWO_COMMANDS}')
    try:
        with open(os.path.join(root, '.ci', 'run'), encoding='utf-8') as f:
            ci = [line.split('#', 1)[0].strip() for line in f]
        if not any(re.fullmatch(r'(?:exec\s+)?\./dev\s+test', line) for line in ci):
            problems.append('.ci/run: does not run ./dev test')
    except OSError as e:
        problems.append(f'.ci/run: {e.strerror}')
    try:
        with open(os.path.join(root, 'dev'), encoding='utf-8') as f:
            known = dev_commands(f.read())
    except OSError as e:
        return problems + [f'dev: {e.strerror}']
    if known is None:
        return problems + ['dev: no command dispatch (a case statement at the top level)']
    for command in ('demo', 'test'):
        if command not in known:
            problems.append(f'dev: its command dispatch has no {command}) case')
    for path, page in sorted(parsed.items()):
        for code in page.code:
            for m in DEV_COMMAND.finditer(code):
                if m.group(1) not in known:
                    problems.append(f'{os.path.relpath(path, root)}: shows ./dev {m.group(1)}, '
                                    f'which ./dev does not know')
    return problems


def check(root):
    root = os.path.abspath(root)
    docs = os.path.join(root, 'docs')
    pages = [os.path.join(root, 'README.md')]
    if os.path.isdir(docs):
        pages += sorted(os.path.join(docs, n) for n in os.listdir(docs) if n.endswith('.md'))
    problems, parsed = check_links(root, pages)
    readme = parsed[os.path.join(root, 'README.md')]
    return problems + check_commands(root, readme, parsed)


# ---- The check's own test ----------------------------------------------------------------

SOUND_TREE = {
    'README.md': '# Title\n\n```sh\n./dev demo    # the demo\n./dev test\n```\n\n'
                 'See [the first\nheading](docs/a.md#first-heading), [the header](hook/x.h), '
                 '[size](#größe--zeit-5-s), [notes](#notes-1), [web](https://example.com/x),\n'
                 '[line](hook/x.h#L3) and [guide][g].\n'
                 'Not links: `[x](missing.md)` and `./dev` alone.\n\n'
                 '[g]: docs/INSTALL.txt.in\n\n'
                 '## Größe & `Zeit`: 5 s?\n\n## Notes\n\n## Notes\n\n'
                 '```\n[y](missing.md) ./dev fuzz 10\n```\n',
    'docs/a.md': 'First heading\n=============\n\nBack to [size](../README.md#größe--zeit-5-s) '
                 'and [the tree](/hook/).\n',
    'docs/INSTALL.txt.in': 'not Markdown [z](nowhere.md)\n',
    'hook/x.h': '// a header\n',
    'dev': '#!/bin/bash\nx=1\ncase "$x" in\n1) ;;\nesac\nf() {\n    case "$1" in\n    build) ;;\n'
           '    esac\n}\ncase "$cmd" in\n# the commands\ndemo)\n    f\n    ;;\ntest | test32)\n'
           '    ;;\nfuzz) ;;\n*)\n    exit 2\n    ;;\nesac\n',
    '.ci/run': '#!/bin/sh\n# CI\nexec ./dev test\n',
}
# Each fault: the file, the text replaced in it, its replacement, and what the report must say.
FAULTS = [
    ('README.md', 'docs/a.md#first', 'docs/b.md#first', 'docs/b.md#first-heading: no such file'),
    ('README.md', '(#notes-1)', '(#notes-2)', 'no heading with the anchor #notes-2 in README.md'),
    ('README.md', '#größe--zeit-5-s', '#grösse--zeit-5-s', 'anchor #grösse--zeit-5-s'),
    ('docs/a.md', '#größe--zeit-5-s', '#size', 'anchor #size in README.md'),
    ('README.md', '#first-heading', '#first', 'anchor #first in docs/a.md'),
    ('README.md', '(hook/x.h)', '(hook/y.h)', 'link hook/y.h: no such file'),
    ('README.md', 'hook/x.h#L3', 'hook/x.h#top', 'is neither a heading'),
    ('docs/a.md', '(/hook/)', '(../../outside.md)', 'leads out of the tree'),
    ('README.md', '[g]: docs/INSTALL.txt.in', '[g]: docs/INSTALL.txt', 'docs/INSTALL.txt: no such'),
    ('README.md', '# Title\n\n```', '# Title\n\nWords.\n\n```', 'does not start with its title'),
    ('README.md', './dev demo    #', './dev build   #', "runs ['./dev build', './dev test']"),
    ('README.md', './dev test\n```', './dev test\n./dev fuzz\n```', 'not exactly'),
    ('.ci/run', 'exec ./dev test', 'exec ./dev test32', '.ci/run: does not run ./dev test'),
    ('dev', '\ndemo)\n', '\n    demo)\n', 'no demo) case'),
    ('dev', 'test | test32)', 'test32)', 'no test) case'),
    ('README.md', './dev fuzz 10', './dev fuzzing 10', 'shows ./dev fuzzing'),
]


def self_test():
    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        sound = os.path.join(tmp, 'sound')
        for name, text in SOUND_TREE.items():
            os.makedirs(os.path.dirname(os.path.join(sound, name)), exist_ok=True)
            with open(os.path.join(sound, name), 'w', encoding='utf-8') as f:
                f.write(text)
        problems = check(sound)
        if problems:
            failures.append(f'the sound tree was reported: {problems}')
        for i, (name, old, new, expected) in enumerate(FAULTS):
            tree = os.path.join(tmp, f'fault{i}')
            shutil.copytree(sound, tree)
            path = os.path.join(tree, name)
            with open(path, encoding='utf-8') as f:
                text = f.read()
            assert old in text, f'fault {i}: {old!r} is not in {name}'
            with open(path, 'w', encoding='utf-8') as f:
                f.write(text.replace(old, new, 1))
            problems = check(tree)
            if not any(expected in p for p in problems):
                failures.append(f'{name} with {new!r} for {old!r}: expected a problem saying '
                                f'{expected!r}, got {problems}')
            else:
                print(f'caught: {name}, {new!r} for {old!r}')
    for failure in failures:
        print(f'FAILED: {failure}')
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('what', choices=('links', 'self-test'))
    parser.add_argument('root', nargs='?')
    args = parser.parse_args()
    if args.what == 'self-test':
        return self_test()
    if not args.root:
        parser.error('links needs the source directory')
    problems = check(args.root)
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print('README.md and docs/*.md: every link holds, and the two commands are the ones '
          '.ci/run and ./dev know')
    return 0


if __name__ == '__main__':
    sys.exit(main())
