#!/usr/bin/env python3
"""Round trips of this program's vCard export through the peer readers (KContacts and libebook).

For every vCard file given: contact-mover-cli imports it into a fresh database, lists what it holds (the truth
of this comparison: what the program has to carry), exports the database as vCard, and both peer programs
(kcontacts-fields, ebook-fields) read that export. Every field the program held counts as carried by a peer when
the peer reads the same value with the same kind. Kinds are compared by meaning: the peer's type words are read
by the vCard rules (work + fax is a work fax, cell a mobile) into the program's type codes.

    bench/peers/roundtrip.py --cli build/src/cli/contact-mover-cli --kcontacts K --ebook E FILE.vcf...

-v lists every field a peer did not carry. bench/peers/roundtrip.sh builds the peers and runs this on the corpus.
"""

import argparse
import collections
import json
import os
import subprocess
import sys
import tempfile

PHONE_NAMES = {0: "other", 1: "home", 2: "mobile", 3: "work", 4: "work fax", 5: "home fax", 6: "pager",
               7: "other", 8: "callback", 9: "car", 10: "company main", 11: "ISDN", 12: "main", 13: "other fax",
               14: "radio", 15: "telex", 16: "TTY", 17: "work mobile", 18: "work pager", 19: "assistant",
               20: "MMS"}


def words_of(text):
    out = set()
    for w in text.lower().split(","):
        w = w.strip().strip('"')
        if w.startswith("x-evolution-"):
            w = w[12:]
        elif w.startswith("x-"):
            w = w[2:]
        if w:
            out.add(w)
    return out


def phone_code(w):
    work, home = "work" in w, "home" in w
    for words, code in ((("assistant",), 19), (("callback",), 8), (("radio",), 14), (("telex", "tlx"), 15),
                        (("tty", "ttytdd", "tdd", "textphone"), 16), (("mms",), 20), (("isdn",), 11),
                        (("car",), 9), (("company",), 10)):
        if any(x in w for x in words):
            return code
    if "pager" in w:
        return 18 if work else 6
    if "fax" in w:
        return 4 if work else 5 if home else 13
    if w & {"cell", "mobile", "iphone", "pcs"}:
        return 17 if work else 2
    if "main" in w:
        return 12
    return 1 if home else 3 if work else 0


def email_code(w):
    return 1 if "home" in w else 2 if "work" in w else 4 if w & {"cell", "mobile"} else 0


def address_code(w):
    return 1 if "home" in w else 2 if "work" in w else 0


WEBSITE = {"homepage": 1, "blog": 2, "profile": 3, "home": 4, "work": 5, "ftp": 6}


def website_code(w):
    for word, code in WEBSITE.items():
        if word in w:
            return code
    return 0


IM_SERVICES = {"aim": 1, "msn": 2, "msnim": 2, "yahoo": 3, "ymsgr": 3, "skype": 4, "qq": 5, "googletalk": 6,
               "google-talk": 6, "gtalk": 6, "icq": 7, "jabber": 8, "xmpp": 8, "gadugadu": 10, "gg": 10}


def same_day(ours, theirs):
    """A date without a year ("--MM-dd") is written with Apple's year 1604; the peer keeps the day."""
    if ours.startswith("--"):
        return theirs.endswith(ours[1:]) or theirs == ours
    return theirs == ours[:10]


def expected_fields(contact):
    """(kind, code, value) of every field the program holds, as the peers should read them."""
    rows = {int(k): v for k, v in contact["entities"].items()}
    out = [("fn", None, contact["full_name"])]
    first = lambda t: rows.get(t, [{}])[0]
    name = first(1)
    for kind, col in (("given", "data2"), ("family", "data3")):
        if name.get(col):
            out.append((kind, None, name[col]))
    for r in rows.get(3, []):
        out.append(("phone", int(r.get("data2", 0) or 0), r.get("data1", "")))
    for r in rows.get(4, []):
        out.append(("email", int(r.get("data2", 0) or 0), r.get("data1", "")))
    for r in rows.get(12, []):
        parts = [r.get(c, "") for c in ("data5", "data6", "data4", "data7", "data8", "data9", "data10")]
        out.append(("address", int(r.get("data2", 0) or 0), ";".join(parts)))
    for r in rows.get(13, []):
        out.append(("url", int(r.get("data2", 0) or 0), r.get("data1", "")))
    for r in rows.get(8, []):
        out.append(("im", int(r.get("data5", 0) or 0), r.get("data1", "")))
    for r in rows.get(6, []):
        code = int(r.get("data2", 0) or 0)
        kind = "birthday" if code == 3 and not r.get("data3") else \
            "anniversary" if code == 1 and not r.get("data3") else "other date"
        out.append((kind, None, r.get("data1", "")))
    if 9 in rows:
        out.append(("note", None, first(9).get("data1", "")))
    org = first(10)
    for kind, col in (("org", "data1"), ("department", "data5"), ("title", "data4")):
        if org.get(col):
            out.append((kind, None, org[col]))
    if 5 in rows and first(5).get("data1"):
        out.append(("nickname", None, first(5)["data1"]))
    for r in rows.get(7, []):
        out.append(("group", None, r.get("data2", "")))
    for r in rows.get(11, []):
        out.append(("relation", None, r.get("data1", "")))
    return [f for f in out if f[2]]


def peer_fields(lines):
    """contact number → list of (kind, code, value) as the peer read them."""
    contacts = collections.defaultdict(list)
    for line in lines.splitlines():
        parts = line.split("\t")
        if len(parts) != 4:
            continue
        n, kind, types, value = int(parts[0]), parts[1], parts[2], parts[3].replace("\\n", "\n")
        w = words_of(types)
        code = None
        if kind == "phone":
            code = phone_code(w)
        elif kind == "email":
            code = email_code(w)
        elif kind == "address":
            code = address_code(w)
        elif kind == "url":
            code = website_code(w)
            value = value.replace("\\:", ":")
        elif kind in ("im", "im-x"):
            kind, code = "im", IM_SERVICES.get(types.lower(), -1)
        contacts[n].append((kind, code, value))
    return contacts


def norm(text):
    """Line ends and tabs as the peer dumpers print them: vCard 3.0 has one line break (\\n), and the dumpers
    turn tabs into spaces."""
    return text.replace("\r\n", "\n").replace("\r", "\n").replace("\t", " ").strip()


def carried(field, theirs):
    kind, code, value = field
    value = norm(value)
    for k, c, v in theirs:
        v = norm(v)
        if k != kind:
            continue
        if kind in ("birthday", "anniversary"):
            if same_day(value, v):
                return True
        elif kind == "im":
            if v == value and (c == code or code == 0):
                return True
        elif v == value and (code is None or c == code):
            return True
    return False


def matching(contacts, n, name):
    """The peer's contact of the export's card n; by its name when the peer lost or added a card."""
    if any(k == "fn" and v == name for k, _, v in contacts.get(n, [])):
        return contacts[n]
    for fields in contacts.values():
        if any(k == "fn" and v == name for k, _, v in fields):
            return fields
    return contacts.get(n, [])


def run(cmd, env=None):
    return subprocess.run(cmd, env=env, capture_output=True, check=False)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--cli", required=True)
    ap.add_argument("--kcontacts", required=True)
    ap.add_argument("--ebook", required=True)
    ap.add_argument("-v", action="store_true")
    ap.add_argument("files", nargs="+")
    args = ap.parse_args()
    peers = {"KContacts": args.kcontacts, "libebook": args.ebook}
    totals = collections.Counter()
    kept = {p: collections.Counter() for p in peers}
    with tempfile.TemporaryDirectory() as home:
        env = dict(os.environ, HOME=home, QT_QPA_PLATFORM="offscreen")
        for i, path in enumerate(args.files):
            db = f"rt{i}"
            if run([args.cli, "import", path, "--format", "vcf", "--db", db], env).returncode != 0:
                print(f"{os.path.basename(path)}: not imported", file=sys.stderr)
                continue
            listed = json.loads(run([args.cli, "list", "--db", db, "--json"], env).stdout or b"[]")
            out = os.path.join(home, f"{db}.vcf")
            run([args.cli, "export", "--db", db, "--format", "vcf", out], env)
            read = {p: peer_fields(run([exe, out], env).stdout.decode("utf-8", "replace"))
                    for p, exe in peers.items()}
            for n, contact in enumerate(listed):
                for field in expected_fields(contact):
                    totals[field[0]] += 1
                    for p in peers:
                        if carried(field, matching(read[p], n, contact["full_name"])):
                            kept[p][field[0]] += 1
                        elif args.v:
                            label = PHONE_NAMES.get(field[1], field[1]) if field[0] == "phone" else field[1]
                            print(f"{p}: {os.path.basename(path)}: {contact['full_name']}: {field[0]} "
                                  f"[{label}] {field[2]!r} not carried", file=sys.stderr)
    order = ["fn", "given", "family", "phone", "email", "address", "url", "im", "birthday", "anniversary",
             "other date", "note", "org", "department", "title", "nickname", "group", "relation"]
    print(f"| field        | fields | {' | '.join(f'{p} %' for p in peers)} |")
    print(f"|--------------|-------:|{'|'.join('-' * (len(p) + 4) + ':' for p in peers)}|")
    for kind in order + sorted(set(totals) - set(order)):
        if totals[kind]:
            print(f"| {kind:<12} | {totals[kind]:>6} | "
                  + " | ".join(f"{100.0 * kept[p][kind] / totals[kind]:>{len(p) + 2}.1f}" for p in peers) + " |")
    all_fields = sum(totals.values())
    print(f"| {'all':<12} | {all_fields:>6} | "
          + " | ".join(f"{100.0 * sum(kept[p].values()) / max(all_fields, 1):>{len(p) + 2}.1f}" for p in peers)
          + " |")
    # Related names and labelled dates have no field in either library: the share of the rest.
    placeless = ("relation", "other date")
    rest = all_fields - sum(totals[k] for k in placeless)
    print(f"| {'all but relation, other date':<12} | {rest:>6} | "
          + " | ".join(f"{100.0 * (sum(kept[p].values()) - sum(kept[p][k] for k in placeless)) / max(rest, 1):>{len(p) + 2}.1f}"
                       for p in peers) + " |")


if __name__ == "__main__":
    main()
