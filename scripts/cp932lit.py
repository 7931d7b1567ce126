#!/usr/bin/env python3
"""Prints a UTF-8 text as a C++ string literal of its code page 932 bytes.

The program's texts are code page 932 bytes; the sources are UTF-8. Run this to
produce the escaped literal and keep the readable text in a comment beside it:

    scripts/cp932lit.py 'のＨＰが'
"""
import sys

HEX = set("0123456789abcdefABCDEF")


def literal(text: str) -> str:
    out = []
    escaped = False
    for b in text.encode("cp932"):
        c = chr(b)
        if b < 0x80 and c not in '"\\' and b >= 0x20:
            if escaped and c in HEX:
                out.append('" "')
            out.append(c)
            escaped = False
        else:
            out.append("\\x%02x" % b)
            escaped = True
    return '"' + "".join(out) + '"'


if __name__ == "__main__":
    for arg in sys.argv[1:]:
        print(literal(arg))
