#!/usr/bin/env python3
"""Writes the generated seeds of the fuzz corpora: adb message streams and sync sessions.

The vCard, plist, mbdb and keybag seeds are copies of test files and of a backup written by backup-maker
(see README.md); these two are protocol conversations, written here so they stay readable."""
import base64
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def put(folder, name, data):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    with open(os.path.join(path, name), "wb") as f:
        f.write(data)


def msg(cmd, arg0, arg1, payload=b"", check=True):
    c = struct.unpack("<I", cmd)[0]
    s = sum(payload) & 0xFFFFFFFF if check else 0
    return struct.pack("<6I", c, arg0, arg1, len(payload), s, c ^ 0xFFFFFFFF) + payload


def shell(id_, data):
    return struct.pack("<BI", id_, len(data)) + data


def adb():
    banner = b"device::ro.product.name=sim;ro.product.model=Phone Sim;ro.product.device=sim;features=shell_v2,cmd\0"
    cnxn = msg(b"CNXN", 0x01000001, 1024 * 1024, banner)
    put("adb", "cnxn", cnxn)
    put("adb", "auth-then-cnxn", msg(b"AUTH", 1, 0, bytes(range(20))) + msg(b"AUTH", 1, 0, bytes(20)) + cnxn)
    out = shell(1, b"package:com.example\npackage:com.tallowbrook.contactssync\n") + shell(3, b"\0")
    put("adb", "shell-v2", cnxn + msg(b"OKAY", 7, 1) + msg(b"WRTE", 7, 1, out[:9]) + msg(b"WRTE", 7, 1, out[9:])
        + msg(b"CLSE", 7, 1))
    put("adb", "sync-fail", cnxn + msg(b"OKAY", 9, 1) + msg(b"OKAY", 9, 1)
        + msg(b"WRTE", 9, 1, b"FAIL" + struct.pack("<I", 14) + b"no such folder") + msg(b"CLSE", 9, 1))
    put("adb", "no-checksum", msg(b"CNXN", 0x01000001, 4096, banner, check=False)
        + msg(b"OKAY", 3, 1, check=False) + msg(b"WRTE", 3, 1, b"OKAY\0\0\0\0", check=False))


def sync():
    def b64(text):
        return base64.b64encode(text.encode("utf-8")).decode()

    rows = [
        "$ent:1/11/21/-1,%s,%s,%s,%s,%s" % (b64("Dr."), b64("Ana"), b64("María"), b64("Pérez"), b64("Jr.")),
        "$ent:3/11/22/-2,mobile,,%s" % b64("+1 555 0100"),
        "$ent:3/11/23/-3,,%s,%s" % (b64("Boat"), b64("555")),
        "$ent:4/11/24/-4,home,,%s" % b64("ana@example.org"),
        "$ent:6/11/25/-5,birthday,,1980-02-29",
        "$ent:8/11/26/-6,home,,jabber,,%s" % b64("ana@im"),
        "$ent:10/11/27/-7,work,,%s,%s,%s" % (b64("Acme"), b64("Boss"), b64("R&D")),
        "$ent:12/11/28/-8,home,,%s,%s,%s,%s,%s" % (b64("1 Main St"), b64("Town"), b64("ST"), b64("12345"),
                                                   b64("Land")),
        "$ent:2/11/29/-9,%s" % base64.b64encode(b"\x89PNG\r\n\x1a\n" + bytes(16)).decode(),
        "$ent:7/11/30/-10,%s" % b64("Friends"),
        "$ent:9/11/31/-11,%s" % b64("a note,\nwith lines"),
        "$ent:5/11/32/-12,default,,%s" % b64("Annie"),
        "$ent:13/11/33/-13,homepage,,%s" % b64("https://example.org"),
        "$ent:11/11/34/-14,parnet,,%s" % b64("Rosa"),
    ]
    session = ["$device:" + b64("Phone Sim"), "$version:3", "$count:1", "$batch:"] + rows + ["$end:", "$bye:"]
    put("synclines", "backup-session", ("\r\n".join(session) + "\r\n").encode())
    put("synclines", "batch-replies", b"$batch:1/-5/-5/-17=>1/5/5/40 3/5/5/-18=>3/5/5/41\n$batch:\n"
        b"$batch:x-1/2/3/4=>5/6/7/8;;1/99999999999999999999/1/1=>1/1/1/1\n")
    put("synclines", "errors", b"$error:" + base64.b64encode("Échec".encode()) + b"\n$error:\n$ERROR:x\n\r\n")
    put("synclines", "old-version", b"$device:\n$version:abc\n$version:1\n$count:-3\n$bye:\n")


if __name__ == "__main__":
    adb()
    sync()
    sys.exit(0)
