#!/usr/bin/env python3
"""The platform members a dex uses, one per line, sorted, from `dexdump -d` output.

A member is a method or field referenced by an instruction whose class is not defined in the dex, or whose
class is defined there but does not define that member itself (inherited from a platform class). These are what
a phone must provide with exactly these signatures.
"""
import re
import sys

REF = re.compile(r"(L[^;\s]+;)\.([\w$<>]+):(\S+)")


def main(path):
    text = open(path, encoding="utf-8", errors="replace").read()
    defined_classes = set(re.findall(r"Class descriptor\s*:\s*'(L[^']+;)'", text))
    defined = set()
    current = None
    for line in text.splitlines():
        m = re.match(r"\s*Class descriptor\s*:\s*'(L[^']+;)'", line)
        if m:
            current = m.group(1)
            continue
        m = re.match(r"\s*name\s*:\s*'([^']+)'", line)
        if m and current:
            defined.add((current, m.group(1)))
    members = set()
    for line in text.splitlines():
        if "|" not in line:
            continue
        for cls, name, sig in REF.findall(line):
            if cls in defined_classes and (cls, name) in defined:
                continue
            if cls.startswith("[") or cls.startswith("Lcom/tallowbrook/") and cls not in defined_classes:
                continue
            members.add("%s.%s:%s" % (cls, name, sig))
    for m in sorted(members):
        print(m)


if __name__ == "__main__":
    main(sys.argv[1])
