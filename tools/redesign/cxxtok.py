"""Just enough C++ lexing to rename identifiers without touching what a person or a file sees.

A source is cut into pieces of four kinds: code identifiers, literals (string, raw string,
character, number), comments and everything else. Renames apply to identifiers; inside comments
they apply to words outside double-quoted texts, and only for names marked safe for prose.
"""
import re

IDENT = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")
NUMBER = re.compile(r"\.?[0-9](?:[0-9A-Za-z_.]|'(?=[0-9A-Za-z])|[eEpP][+-])*")
RAW_PREFIX = re.compile(r"(?:u8|u|U|L)?R\"([^()\\ ]{0,16})\(")
STR_PREFIX = re.compile(r"(?:u8|u|U|L)?([\"'])")


def pieces(text):
    """Yields (kind, text) with kind in ident, literal, comment, other; they join to `text`."""
    i, n = 0, len(text)
    other_start = 0

    def flush(upto):
        if upto > other_start:
            return [("other", text[other_start:upto])]
        return []

    while i < n:
        c = text[i]
        if c == "/" and text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            # a comment line ending in a backslash continues; rare enough to ignore
            yield from flush(i)
            yield ("comment", text[i:end])
            i = other_start = end
            continue
        if c == "/" and text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            yield from flush(i)
            yield ("comment", text[i:end])
            i = other_start = end
            continue
        if c.isalpha() or c == "_":
            m = RAW_PREFIX.match(text, i)
            if m:
                close = ")" + m.group(1) + '"'
                end = text.find(close, m.end())
                end = n if end < 0 else end + len(close)
                yield from flush(i)
                yield ("literal", text[i:end])
                i = other_start = end
                continue
            m = STR_PREFIX.match(text, i)
            if m and m.start(1) > i:
                yield from flush(i)
                end = _quoted_end(text, m.start(1))
                yield ("literal", text[i:end])
                i = other_start = end
                continue
            m = IDENT.match(text, i)
            yield from flush(i)
            yield ("ident", m.group(0))
            i = other_start = m.end()
            continue
        if c.isdigit() or (c == "." and i + 1 < n and text[i + 1].isdigit()):
            m = NUMBER.match(text, i)
            yield from flush(i)
            yield ("literal", m.group(0))
            i = other_start = m.end()
            continue
        if c in "\"'":
            end = _quoted_end(text, i)
            yield from flush(i)
            yield ("literal", text[i:end])
            i = other_start = end
            continue
        i += 1
    yield from flush(n)


def _quoted_end(text, start):
    quote = text[start]
    i = start + 1
    while i < len(text):
        c = text[i]
        if c == "\\":
            i += 2
            continue
        if c == quote or c == "\n":
            return i + 1
        i += 1
    return len(text)


PROSE_QUOTE = re.compile(r'"[^"\n]*"')
WORD = re.compile(r"[A-Za-z_][A-Za-z0-9_]*")


def rename_prose(text, names):
    """Renames whole words outside double-quoted spans."""
    out, last = [], 0
    for q in PROSE_QUOTE.finditer(text):
        out.append(WORD.sub(lambda m: names.get(m.group(0), m.group(0)), text[last:q.start()]))
        out.append(q.group(0))
        last = q.end()
    out.append(WORD.sub(lambda m: names.get(m.group(0), m.group(0)), text[last:]))
    return "".join(out)


def rename_source(text, code_names, prose_names):
    out = []
    for kind, piece in pieces(text):
        if kind == "ident":
            out.append(code_names.get(piece, piece))
        elif kind == "comment":
            out.append(rename_prose(piece, prose_names))
        else:
            out.append(piece)
    result = "".join(out)
    return result


def identifiers(text):
    for kind, piece in pieces(text):
        if kind == "ident":
            yield piece
