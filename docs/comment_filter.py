#!/usr/bin/env python3
"""Doxygen input filter: reads the plain // comments of a header as its
documentation, so the headers keep their plain comments.

The rules, applied to a copy that Doxygen reads (line numbers are kept):
- The comment block at the top of the file documents the file, and also the
  class it starts with ("CArchive: a buffered ..."), when that class is
  defined at file level and has no comment of its own. Lines indented
  further than the text around them are a code sample.
- A comment block directly above a declaration (no blank line between)
  documents that declaration, and the overloads of the same name declared
  on the lines right under it. Above a run of constants (constexpr or #define
  lines, up to the next blank line or comment) it documents each of them.
- A comment after a declaration on the same line (and its continuation lines
  aligned under it) documents that declaration, every variable of it.
- A comment followed by a blank line is a note about the section, not the
  documentation of anything; comments inside function bodies are left alone.
- A defaulted special member (= default) without a comment is documented as
  the compiler-generated operation it is.
- A licence line (SPDX) at the top is left out of the documentation.
- Comment text is plain: characters that Doxygen would read as commands or
  markup (\\ @ < > & # % $ *) are escaped.
"""
import re
import sys

SPECIAL = re.compile(r'([\\@<>&#%$*])')
SCOPE_START = re.compile(r'^(?:template\s*<.*>\s*)?(?:class|struct|union|enum|namespace|extern)\b')
DEFAULTED = re.compile(r'\)\s*(?:const\s*)?(?:noexcept\s*)?(?:override\s*)?=\s*default\s*;')
USING_MEMBER = re.compile(r'^\s*using\s+\w+::\w+\s*;')
NOT_A_DECLARATION = re.compile(r'^\s*(?:[{}]|#\s*(?:include|if|ifdef|ifndef|else|elif|endif)\b|namespace\b|'
                               r'(?:public|protected|private)\s*:|.*\{\s*$)')
CONSTANT = re.compile(r'^\s*(?:(?:static|inline)\s+)*constexpr\s[^(]*=|^\s*#\s*define\s+\w+\s')


def escape_lines(texts):
    """Escapes the markup characters of comment lines. Text in double quotes
    is left alone: Doxygen shows quoted text as it is, across lines too."""
    out, quoted = [], False
    for text in texts:
        pieces = text.split('"')
        for k in range(len(pieces)):
            if k > 0:
                quoted = not quoted
            if not quoted:
                pieces[k] = SPECIAL.sub(r'\\\1', pieces[k])
        out.append('"'.join(pieces))
    return out


def escape(text):
    return escape_lines([text])[0]


def doc_lines(texts):
    """Comment lines as /// lines. Lines indented further than the text
    around them (code samples) become a code block, shown as written."""
    prose = [k for k, t in enumerate(texts) if not t.startswith('  ')]
    escaped = dict(zip(prose, escape_lines([texts[k] for k in prose])))
    return ['///' + (escaped[k] if k in escaped else '    ' + t) for k, t in enumerate(texts)]


def joined(texts):
    """Comment lines as one escaped line."""
    return escape(' '.join(t.strip() for t in texts))


def split_code_comment(line):
    """Splits a line into code and a trailing // comment (None if there is none),
    skipping string and character literals."""
    i, n, quote = 0, len(line), None
    while i < n:
        c = line[i]
        if quote:
            if c == '\\':
                i += 2
                continue
            if c == quote:
                quote = None
        elif c in '"\'':
            quote = c
        elif line.startswith('//', i):
            return line[:i], line[i:]
        elif line.startswith('/*', i):
            end = line.find('*/', i + 2)
            if end < 0:
                return line, None
            i = end + 2
            continue
        i += 1
    return line, None


def declared_name(line):
    """The name of the function a line declares, or None."""
    code = split_code_comment(line)[0].strip()
    if not code or code.startswith(('//', '#', 'return', '}')):
        return None
    m = re.search(r'(operator\s*[^\s(]+|~?\w+)\s*\(', code)
    return m.group(1) if m else None


def share_among_declarators(code, text):
    """For a line that declares several variables ("short x = 0, y = 0;"),
    gives each declarator but the last the trailing comment's text."""
    stripped = code.strip()
    if '(' in stripped or not stripped.endswith(';') or stripped.startswith(('enum', 'using', 'template', '#')):
        return code
    depth, pieces, start = 0, [], 0
    for k, c in enumerate(code):
        if c in '{[<':
            depth += 1
        elif c in '}]>':
            depth -= 1
        elif c == ',' and depth == 0:
            pieces.append(code[start:k] + ' /**< ' + text + ' */')
            start = k
    return ''.join(pieces) + code[start:]


def strip_literals(code):
    return re.sub(r'"(?:\\.|[^"\\])*"|\'(?:\\.|[^\'\\])*\'', '""', code)


def main(path):
    with open(path, encoding='utf-8', errors='surrogateescape') as f:
        lines = f.read().split('\n')

    out = list(lines)
    # The licence line above the header comment is no documentation: the
    # filter reads the file as if it were blank (Doxygen still sees it as a
    # plain comment).
    if lines and lines[0].startswith('// SPDX-License-Identifier:'):
        lines = [''] + lines[1:]
    kinds = []        # 'scope' or 'body' for every open brace
    statement = ''    # code since the last ; { or }
    header = []       # indices of the top-of-file comment lines
    header_done = False
    header_used = False
    header_name = None
    prefixes = {}     # line index: documentation to put in front of it
    trailer = []      # documentation appended to the file
    header_texts = []
    in_macro = False  # the previous line continues a #define
    i = 0
    n = len(lines)

    def at_scope():
        return all(k == 'scope' for k in kinds)

    def comment_text(line):
        return line.strip()[2:]

    while i < n:
        line = lines[i]
        stripped = line.strip()
        if stripped.startswith('//') and not stripped.startswith(('///', '//!', '//@')) and at_scope():
            # A block of whole-line comments.
            j = i
            while j < n and lines[j].strip().startswith('//'):
                j += 1
            block = list(range(i, j))
            if not header_done and not kinds and statement.strip() == '' and all(
                    not lines[k].strip() for k in range(0, i)):
                header = block
                header_done = True
                header_texts = [comment_text(lines[k]) for k in block]
                for k, text in zip(block, doc_lines(header_texts)):
                    out[k] = text
                out[block[-1]] += ' \\file'
                first = re.match(r'\s*(\w+)', comment_text(lines[block[0]]))
                header_name = first.group(1) if first else None
                i = j
                continue
            header_done = True
            follows_code = j < n and lines[j].strip() != '' and not lines[j].strip().startswith('#pragma')
            if follows_code and USING_MEMBER.match(lines[j]) and j + 1 < n and lines[j + 1].strip() \
                    and not lines[j + 1].strip().startswith('//'):
                # A comment above "using Base::Name;" and the declaration under
                # it is about that declaration.
                text = joined(comment_text(lines[k]) for k in block)
                prefixes[j + 1] = '/** ' + text + ' */ '
                i = j
                continue
            if follows_code:
                for k, text in zip(block, escape_lines([comment_text(lines[k]) for k in block])):
                    indent = lines[k][:len(lines[k]) - len(lines[k].lstrip())]
                    out[k] = indent + '///' + text
                # Overloads declared right under the first: each gets the comment.
                name = declared_name(lines[j])
                e = j
                while name and e + 1 < n and declared_name(lines[e + 1]) == name:
                    e += 1
                    if split_code_comment(lines[e])[1] is None:
                        out[e] = lines[e] + ' ///< ' + joined(comment_text(lines[k]) for k in block)
                # A run of constants under one comment: each gets the comment.
                if CONSTANT.match(lines[j]):
                    e = j
                    while e + 1 < n and CONSTANT.match(lines[e + 1]):
                        e += 1
                    text = joined(comment_text(lines[k]) for k in block)
                    for k in range(j + 1, e + 1):
                        if split_code_comment(lines[k])[1] is None:
                            out[k] = lines[k] + ' ///< ' + text
            i = j
            continue
        if stripped:
            header_done = True
        code, comment = split_code_comment(line)
        if comment is not None and at_scope() and code.strip() and not comment.startswith(('///', '//!')) \
                and not comment[2:].strip().startswith('NOLINT') and not NOT_A_DECLARATION.match(code):
            column = len(code)
            out[i] = share_among_declarators(code, escape(comment[2:]).strip()) + '///<' + escape(comment[2:])
            # Continuation lines aligned under the trailing comment.
            k = i + 1
            while k < n and lines[k].strip().startswith('//') and lines[k].index('//') == column:
                out[k] = lines[k][:column] + '///<' + escape(lines[k][column + 2:])
                k += 1
            # Braces on this line still count below.
        elif comment is None and at_scope() and DEFAULTED.search(code) and not (
                i > 0 and lines[i - 1].strip().startswith('//')):
            out[i] = line + ' ///< The compiler-generated operation.'
        if stripped.startswith('#') or in_macro:
            # Preprocessor lines, with their continuation lines, hold no
            # braces of the program.
            in_macro = line.rstrip().endswith('\\')
            i += 1
            continue
        # Track braces to know whether the next comment is inside a body.
        clean = strip_literals(code)
        for c in clean:
            if c == '{':
                head_text = re.sub(r'^(?:\s*(?:public|protected|private)\s*:(?!:))+', '', statement).strip()
                kinds.append('scope' if SCOPE_START.match(head_text) else 'body')
                head = re.match(r'^(?:template\s*<.*>\s*)?(?:class|struct)\s+(?:AFX_EXT_CLASS\s+)?(\w+)',
                                head_text)
                if head and kinds == ['scope'] and head.group(1) == header_name and not header_used:
                    above = lines[i - 1].strip() if i > 0 else ''
                    start = i
                    # The class head may span lines; look above its first line.
                    while start > 0 and lines[start - 1].strip() and not lines[start - 1].strip().startswith('//') \
                            and not lines[start - 1].rstrip().endswith((';', '{', '}')):
                        start -= 1
                    above = lines[start - 1].strip() if start > 0 else ''
                    if not above.startswith('//'):
                        # Documented at the end of the file, so that line
                        # numbers stay as they are.
                        trailer = ['/// \\class ' + header_name] + doc_lines(header_texts)
                        header_used = True
                statement = ''
            elif c == '}':
                if kinds:
                    kinds.pop()
                statement = ''
            elif c == ';':
                statement = ''
            else:
                statement += c
        statement += ' '
        i += 1

    if trailer:
        out.append('')
        out.extend(trailer)
    for k, prefix in prefixes.items():
        indent = out[k][:len(out[k]) - len(out[k].lstrip())]
        out[k] = indent + prefix + out[k].lstrip()
    sys.stdout.write('\n'.join(out))


if __name__ == '__main__':
    main(sys.argv[1])
