#!/usr/bin/env python3
"""python3 embedded_conformance.py NAME_p.c

In a 32-bit build widl folds the pointers of an embedded structure into the
pointer layout of the structure around it, each at its offset there, but
points them at the same array description as the embedded structure's own
layout. When that array is sized by a field of the embedded structure
([size_is(field)]: a "field pointer" correlation), the field's offset is
counted from the start of the structure whose layout is being walked. In the
outer structure's layout it then names another field: the property array of
an OPCBROWSEELEMENT was sized by its szItemID pointer, and the stub read far
past the array.

Every such reference gets a copy of the array description whose correlation
offsets move by as much as the pointer moved, appended to the type format
string. A 64-bit build describes these structures as complex ones, walked
one by one, and has no such reference: the file is left as it is.
"""
import re
import sys

HEADER = re.compile(r"^/\* (\d+)(?: \(.*\))? \*/$")
SHORT = re.compile(r"NdrFcShort\((0x[0-9a-fA-F]+)\)")
RELATIVE = re.compile(r"NdrFcShort\(0x[0-9a-fA-F]+\),(\s*)/\* Offset= -?\d+ \((\d+)\) \*/")
FIELD_CORRELATION = re.compile(r"/\* Corr desc: +field pointer")
CORRELATION_OFFSET = re.compile(r"NdrFcShort\((0x[0-9a-fA-F]+)\),(\s*)/\* offset = -?\d+ \*/")
MEMORY_OFFSET = re.compile(r"/\* Memory offset = (\d+) \*/")
LAYOUT_POINTER = re.compile(r"^\s*0x1[1-4], 0x[0-9a-fA-F]+,\s*/\* FC_(RP|UP|OP|FP)\b")


def size_of(line):
    """Bytes a line of the format string adds."""
    code = line.split("/*", 1)[0]
    size = 2 * code.count("NdrFcShort(") + 4 * code.count("NdrFcLong(")
    code = re.sub(r"NdrFc(Short|Long)\([^)]*\)", "", code)
    return size + len(re.findall(r"\b0x[0-9a-fA-F]+\b", code))


def short(value):
    return "NdrFcShort(0x%x)" % (value & 0xFFFF)


def main(path):
    lines = open(path).read().split("\n")
    start = next(i for i, l in enumerate(lines) if l.startswith("static const MIDL_TYPE_FORMAT_STRING __MIDL_TypeFormatString ="))
    body = start + 4  # past "=", "{", "0,", "{"
    end = next(i for i in range(body, len(lines)) if lines[i].strip() == "}")
    terminator = end - 1
    if lines[terminator].strip() != "0x0":
        sys.exit("%s: the type format string does not end as expected" % path)

    # The offset of every line, checked against widl's own headers.
    position = {}
    offset = 0
    for i in range(body, end):
        header = HEADER.match(lines[i].strip())
        if header and int(header.group(1)) != offset:
            sys.exit("%s: line %d is headed %s, counted %d" % (path, i + 1, header.group(1), offset))
        position[i] = offset
        offset += size_of(lines[i])
    size = offset

    # The descriptions (header line to the next header) sized by a field.
    blocks = {}
    headers = [i for i in range(body, end) if HEADER.match(lines[i].strip())]
    for n, first in enumerate(headers):
        last = headers[n + 1] if n + 1 < len(headers) else terminator
        if any(FIELD_CORRELATION.search(lines[i]) for i in range(first, last)):
            blocks[position[first]] = (first, last)

    # The pointer layouts' entries that point at one: memory offset, pointer, target.
    references = []
    for i in range(body + 3, end):
        relative = RELATIVE.search(lines[i])
        memory = MEMORY_OFFSET.search(lines[i - 3])
        if relative and memory and LAYOUT_POINTER.match(lines[i - 1]) and int(relative.group(2)) in blocks:
            references.append((i, int(memory.group(1)), int(relative.group(2))))

    copies = {}
    appended = []
    moved = 0
    for line, memory, target in references:
        home = min(m for _, m, t in references if t == target)
        shift = memory - home
        if shift == 0:
            continue
        if (target, shift) not in copies:
            at = size - 1 + sum(size_of(l) for l in appended)  # where the terminator is now
            first, last = blocks[target]
            copy = []
            correlated = False
            for k in range(first, last):
                text = lines[k]
                offset_here = at + (position[k] - target)
                if k == first:
                    text = re.sub(r"^(\s*)/\* \d+", lambda m: "%s/* %d" % (m.group(1), at), text)
                if FIELD_CORRELATION.search(lines[k]):
                    correlated = True
                elif correlated and CORRELATION_OFFSET.search(text):
                    old = int(CORRELATION_OFFSET.search(text).group(1), 16)
                    text = CORRELATION_OFFSET.sub(
                        lambda m: "%s,%s/* offset = %d */" % (short(old + shift), m.group(2), old + shift), text)
                    correlated = False
                relative = RELATIVE.search(text)
                if relative:
                    goal = int(relative.group(2))
                    where = offset_here + size_of(text.split("NdrFcShort(")[0])
                    text = RELATIVE.sub(lambda m: "%s,%s/* Offset= %d (%d) */" % (
                        short(goal - where), m.group(1), goal - where, goal), text)
                copy.append(text)
            copies[(target, shift)] = at
            appended.extend(copy)
        goal = copies[(target, shift)]
        where = position[line] + size_of(lines[line].split("NdrFcShort(")[0])
        lines[line] = RELATIVE.sub(
            lambda m: "%s,%s/* Offset= %d (%d) */" % (short(goal - where), m.group(1), goal - where, goal), lines[line])
        moved += 1

    if appended:
        lines[terminator:terminator] = appended
        grown = size + sum(size_of(l) for l in appended)
        lines = [re.sub(r"^#define TYPE_FORMAT_STRING_SIZE \d+$", "#define TYPE_FORMAT_STRING_SIZE %d" % grown, l)
                 for l in lines]
    open(path, "w").write("\n".join(lines))
    print("%s: %d pointers of embedded structures given their own array descriptions" % (path, moved))


if __name__ == "__main__":
    main(sys.argv[1])
