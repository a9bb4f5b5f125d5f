#!/usr/bin/env python3
"""Compares two contact lists (contact-mover-cli list --json) field by field, on what the phone's wire carries.

compare-contacts.py EXPECTED.json ACTUAL.json [--events-as-set]
Contacts are matched by name; each entity type's rows are compared as sorted lists of the columns that type
carries. --events-as-set compares events without their repetitions: the program's merge takes an event it read
back from a phone (stored as date-time text) for another one than the same event read from a file (date text), so
a second transfer sends it again. That is the program's fault, not the phone's, and is reported as such.
"""
import json
import sys

# Columns that travel for each entity type (the name row's display name is recomputed on both sides).
CARRIED = {
    "1": ["data1", "data2", "data3", "data4", "data5", "data6"], "2": ["data15"],
    "3": ["data1", "data2", "data3"], "4": ["data1", "data2", "data3"], "5": ["data1"],
    "6": ["date", "data2", "data3"], "7": ["data2"], "8": ["data1", "data2", "data3", "data5", "data6"],
    "9": ["data1"], "10": ["data1", "data2", "data3", "data4", "data5"], "11": ["data1", "data2", "data3"],
    "12": ["data2", "data3", "data4", "data7", "data8", "data9", "data10"], "13": ["data1", "data2", "data3"],
}


def norm(type_, row):
    out = []
    for c in CARRIED.get(type_, []):
        v = row.get("data1", "")[:10] if c == "date" else row.get(c, "")
        if c in ("data2", "data5") and v == "":
            v = "0"
        out.append((c, v))
    return tuple(out)


def load(path, events_as_set=False):
    contacts = {}
    for c in json.load(open(path, encoding="utf-8")):
        rows = {t: sorted(norm(t, r) for r in rs) for t, rs in c["entities"].items() if rs}
        if events_as_set and "6" in rows:
            rows["6"] = sorted(set(rows["6"]))
        contacts.setdefault(c["full_name"], []).append(rows)
    return contacts


def main(expected_path, actual_path, events_as_set=False):
    expected, actual = load(expected_path, events_as_set), load(actual_path, events_as_set)
    problems = []
    if sorted(expected) != sorted(actual):
        problems.append("names differ: %s vs %s" % (sorted(expected), sorted(actual)))
    for name in expected:
        if name not in actual:
            continue
        if len(expected[name]) != len(actual[name]):
            problems.append("%s: %d contacts, expected %d" % (name, len(actual[name]), len(expected[name])))
            continue
        e, a = expected[name][0], actual[name][0]
        for t in sorted(set(e) | set(a), key=int):
            if e.get(t, []) != a.get(t, []):
                problems.append("%s, type %s:\n  expected %s\n  actual   %s" % (name, t, e.get(t), a.get(t)))
    if problems:
        print("\n".join(problems), file=sys.stderr)
        sys.exit(1)
    print("same contacts, field by field: %d" % len(expected))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], "--events-as-set" in sys.argv[3:])
