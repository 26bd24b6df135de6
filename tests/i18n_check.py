#!/usr/bin/env python3
"""Fails when a text shown on screen has no finished English translation.

1. Gathers the translatable texts from the sources afresh (translations/update.sh into a
   temporary .ts) and requires each of them to have a finished, non-empty translation in the
   committed translations/vardex_en.ts: a text added or changed in the code without its English
   fails here.
2. Scans the window, host and library sources for Chinese string literals that are not passed
   to Ui::tr / QT_TRANSLATE_NOOP: a text shown untranslated fails here, unless it is one of the
   few texts that must stay Chinese (audit rows written to the store, font names, SQL).
Usage: i18n_check.py <source dir>
"""
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

CJK = re.compile('[\u3000-\u303f\u4e00-\u9fff\uff00-\uffef\u201c\u201d]')

# Texts that stay Chinese in every language: what is written to the store's audit log, the
# font families of the Chinese layout, the language's own name, and SQL statement text.
KEEP_CHINESE = {
    '用户登录', '用户退出登录', '使用权限(', '用户更改密码成功', '账号锁定', '账号解锁',
    '登录失败(', '无此用户', '账号禁用', '账号过期', '密码错误',
    '宋体', '中文',
    'SELECT qxID AS 权限ID, qxName AS 权限名称 FROM qx_Name Order By qxID',
}
TRANSLATED_BY = re.compile(r'(\btr\(|QT_TRANSLATE_NOOP\("Ui",|translate\("Ui",)\s*$')
LITERAL = re.compile(r'"((?:[^"\\\n]|\\.)*)"')


def message_text(element):
    # A .ts keeps a carriage return as <byte value="xd"/>.
    if element is None:
        return None
    out = element.text or ''
    for child in element:
        if child.tag == 'byte':
            out += chr(int(child.get('value').lstrip('x'), 16))
        out += child.tail or ''
    return out


def read_ts(path):
    messages = {}
    for context in ET.parse(path).getroot().iter('context'):
        name = context.findtext('name')
        for m in context.iter('message'):
            messages[(name, message_text(m.find('source')), m.findtext('comment') or '')] = m.find('translation')
    return messages


def unfinished(wanted, committed, what):
    # Every text lupdate gathered needs a finished, non-empty entry in the committed file.
    problems = [] if wanted else ['lupdate found no text of the %s' % what]
    for key in wanted:
        t = committed.get(key)
        if t is None:
            problems.append('no %s entry: %s %r %r' % (what, *key))
        elif t.get('type') in ('unfinished', 'vanished', 'obsolete') or not message_text(t).strip():
            problems.append('%s not finished (%s): %s %r %r' % (what, t.get('type') or 'empty', *key))
    return problems


def gathered(src, *arguments):
    with tempfile.TemporaryDirectory() as tmp:
        fresh = os.path.join(tmp, 'fresh.ts')
        subprocess.run([os.path.join(src, 'translations', 'update.sh'), *arguments, fresh], check=True)
        return read_ts(fresh)


def check_translations(src):
    wanted = gathered(src)
    committed = read_ts(os.path.join(src, 'translations', 'vardex_en.ts'))
    return unfinished(wanted, committed, 'English translation'), len(wanted)


def check_cli_translations(src):
    # The command-line program's own messages (Cli::tr, English) each need their Chinese.
    wanted = {k: v for k, v in gathered(src, '--cli').items() if k[0] == 'Cli'}
    committed = read_ts(os.path.join(src, 'translations', 'vardex-cli_zh.ts'))
    return unfinished(wanted, committed, "vardex-cli's Chinese"), len(wanted)


def strip_comments(code):
    # Blanks out // and /* */ comments, leaving string literals (and line numbers) alone.
    out, i, n = [], 0, len(code)
    while i < n:
        c = code[i]
        if c == '"' or c == "'":
            j = i + 1
            while j < n and code[j] != c and code[j] != '\n':
                j += 2 if code[j] == '\\' else 1
            out.append(code[i:j + 1])
            i = j + 1
        elif code.startswith('//', i):
            j = code.find('\n', i)
            i = n if j < 0 else j
        elif code.startswith('/*', i):
            j = code.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r'[^\n]', ' ', code[i:j]))
            i = j
        else:
            out.append(c)
            i += 1
    return ''.join(out)


def check_literals(src):
    problems = []
    files = []
    for folder in ('admin', 'dialogs', 'host', 'library', 'capi'):
        for name in sorted(os.listdir(os.path.join(src, folder))):
            if name.endswith(('.cpp', '.h')):
                files.append(os.path.join(folder, name))
    files.append('platform/msgbox_qt.cpp')
    for rel in files:
        with open(os.path.join(src, rel), encoding='utf-8') as f:
            code = strip_comments(f.read())
        accepted_end = -1
        for m in LITERAL.finditer(code):
            before = code[:m.start()]
            # A literal continuing an accepted one ("a" "b" inside one tr call) is accepted too.
            continued = accepted_end >= 0 and code[accepted_end:m.start()].strip() == ''
            if TRANSLATED_BY.search(before[-40:]) or continued:
                accepted_end = m.end()
                continue
            accepted_end = -1
            text = m.group(1)
            if CJK.search(text) and text not in KEEP_CHINESE:
                line = code.count('\n', 0, m.start()) + 1
                problems.append('%s:%d: Chinese text shown without Ui::tr: "%s"' % (rel, line, text))
    return problems


def main():
    src = sys.argv[1]
    problems, count = check_translations(src)
    cli_problems, cli_count = check_cli_translations(src)
    problems += cli_problems
    count += cli_count
    problems += check_literals(src)
    for p in problems:
        print(p)
    print('%d texts checked; %d problems' % (count, len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
