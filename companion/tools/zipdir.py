#!/usr/bin/env python3
"""Zip files with a fixed entry order and fixed times, so that the same input gives the same bytes.

zipdir.py DIR OUT.jar                     every file under DIR, deflated
zipdir.py --merge IN.apk classes.dex OUT  the entries of IN (stored ones stay stored) plus classes.dex
"""
import os
import sys
import zipfile

FIXED = (2008, 1, 1, 0, 0, 0)


def add(z, name, data, stored):
    info = zipfile.ZipInfo(name, FIXED)
    info.external_attr = 0o644 << 16
    info.create_system = 0
    info.compress_type = zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED
    z.writestr(info, data, compresslevel=9 if not stored else None)


def main(argv):
    if argv[1] == "--merge":
        src, dex, out = argv[2:5]
        entries = {}
        with zipfile.ZipFile(src) as z:
            for i in z.infolist():
                # resources.arsc must stay uncompressed (Android 11+ maps it); so must what aapt stored.
                entries[i.filename] = (z.read(i), i.compress_type == zipfile.ZIP_STORED)
        with open(dex, "rb") as f:
            entries["classes.dex"] = (f.read(), False)
    else:
        root, out = argv[1:3]
        entries = {}
        for d, _, files in os.walk(root):
            for f in files:
                p = os.path.join(d, f)
                entries[os.path.relpath(p, root).replace(os.sep, "/")] = (open(p, "rb").read(), False)
    # AndroidManifest.xml first, as aapt writes it; the rest by name.
    names = sorted(entries, key=lambda n: (n != "AndroidManifest.xml", n))
    with zipfile.ZipFile(out, "w") as z:
        for n in names:
            add(z, n, *entries[n])


if __name__ == "__main__":
    main(sys.argv)
