#!/usr/bin/env python3
"""Compares what the program made of a vCard file with the file itself, contact by contact.

    compare.py SOURCE.vcf KIND TARGET      KIND: list-json | vcf | csv | phone-store | iphone-store
    compare.py SOURCE.vcf keyword WORD     how many cards a keyword search must find

Contacts are matched by display name (the generated files hold no two contacts of the same name). For each
contact the facts below are compared, as far as the target can hold them:
  name      given and family name, and the display name
  phones    the numbers, as a multiset
  emails    the addresses, as a multiset
  addresses street, city, region, postcode, country of each, as a multiset
  note      the text (line breaks as LF)
  photo     the MD5 of the picture's bytes
  org       company, department, title
  birthday  the date (yyyy-mm-dd)
  urls      the web addresses, as a multiset
  nickname  the text
A CSV file keeps one phone, e-mail, address and web address per label: there the values must come from the source
and a contact with values of a kind must keep at least one.
Prints one JSON line {"kind", "source", "target", "missing", "extra", "differ": {fact: count}, "ok"} and up to
five examples of each difference on stderr; exit status 0 when everything compared matched, 1 otherwise.

The vCard reader here is written for this comparison and shares nothing with the program's.
"""
import base64
import csv
import hashlib
import json
import os
import pickle
import quopri
import re
import sys
from collections import Counter

FACTS = ["name", "phones", "emails", "addresses", "note", "photo", "org", "birthday", "urls", "nickname"]


def empty_facts():
    return {"given": "", "family": "", "display": "", "phones": [], "emails": [], "addresses": [], "note": "",
            "photo": "", "org": ("", "", ""), "birthday": "", "urls": [], "nickname": ""}


def md5(data):
    return hashlib.md5(data).hexdigest() if data else ""


def text(s):
    return (s or "").replace("\r\n", "\n").replace("\r", "\n")


# --- vCard ------------------------------------------------------------------------------------------------------

def unescape(value):
    out, i = [], 0
    while i < len(value):
        c = value[i]
        if c == "\\" and i + 1 < len(value) and value[i + 1] in "nN,;:\\":
            out.append("\n" if value[i + 1] in "nN" else value[i + 1])
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def split_components(value):
    """Splits on unescaped ";" and undoes the escapes of each part."""
    parts, cur, i = [], [], 0
    while i < len(value):
        c = value[i]
        if c == "\\" and i + 1 < len(value):
            cur.append(value[i:i + 2])
            i += 2
            continue
        if c == ";":
            parts.append(unescape("".join(cur)))
            cur = []
        else:
            cur.append(c)
        i += 1
    parts.append(unescape("".join(cur)))
    return parts


def logical_lines(data):
    """The unfolded lines of a vCard file: a line break followed by a blank continues the line; a
    quoted-printable value ending in "=" continues on the next line."""
    raw = data.split(b"\n")
    lines = []
    for line in raw:
        line = line.rstrip(b"\r")
        if lines and line[:1] in (b" ", b"\t"):
            lines[-1] += line[1:]
        elif lines and lines[-1].endswith(b"=") and b"QUOTED-PRINTABLE" in lines[-1].split(b":", 1)[0].upper():
            lines[-1] = lines[-1][:-1] + line
        else:
            lines.append(line)
    return lines


def parse_property(line):
    head, _, value = line.partition(b":")
    parts = head.decode("utf-8").split(";")
    name = parts[0].upper().split(".")[-1]
    params = {}
    for p in parts[1:]:
        k, _, v = p.partition("=")
        params.setdefault(k.upper(), []).append(v)
    if "QUOTED-PRINTABLE" in [v.upper() for v in params.get("ENCODING", [])]:
        return name, params, quopri.decodestring(value).decode(params.get("CHARSET", ["utf-8"])[0]), True
    if [v.upper() for v in params.get("ENCODING", [])] in (["B"], ["BASE64"]):
        return name, params, base64.b64decode(value), False
    return name, params, value.decode("utf-8"), False


def read_vcards(path):
    cards, facts = [], None
    with open(path, "rb") as f:
        data = f.read()
    for line in logical_lines(data):
        if not line:
            continue
        upper = line.upper()
        if upper == b"BEGIN:VCARD":
            facts = empty_facts()
            continue
        if upper == b"END:VCARD":
            cards.append(facts)
            facts = None
            continue
        if facts is None:
            continue
        name, params, value, qp = parse_property(line)
        single = (lambda v: v) if qp else unescape
        if name == "FN":
            facts["display"] = single(value)
        elif name == "N":
            comps = split_components(value) + [""] * 5
            facts["family"], facts["given"] = comps[0], comps[1]
        elif name == "TEL":
            facts["phones"].append(single(value))
        elif name == "EMAIL":
            facts["emails"].append(single(value))
        elif name == "ADR":
            comps = split_components(value) + [""] * 7
            facts["addresses"].append(tuple(comps[2:7]))
        elif name == "NOTE":
            facts["note"] = text(single(value))
        elif name == "PHOTO":
            facts["photo"] = md5(value) if isinstance(value, bytes) else ""
        elif name == "ORG":
            comps = split_components(value) + ["", ""]
            facts["org"] = (comps[0], comps[1], facts["org"][2])
        elif name == "TITLE":
            facts["org"] = (facts["org"][0], facts["org"][1], single(value))
        elif name == "BDAY":
            facts["birthday"] = iso_date(single(value))
        elif name == "URL":
            facts["urls"].append(single(value))
        elif name == "NICKNAME":
            facts["nickname"] = single(value)
    return cards


def source_cards(path):
    """The cards of the source file, kept beside it as SOURCE.facts.pickle once read: a load test compares the same
    source many times, and a million cards take minutes to parse. The cache is used only while it is newer than
    the file and made from a file of the same size."""
    cache = path + ".facts.pickle"
    try:
        st = os.stat(path)
        if os.stat(cache).st_mtime >= st.st_mtime:
            with open(cache, "rb") as f:
                size, cards = pickle.load(f)
            if size == st.st_size:
                return cards
    except (OSError, pickle.PickleError, EOFError, ValueError):
        pass
    cards = read_vcards(path)
    try:
        with open(cache + ".part", "wb") as f:
            pickle.dump((os.stat(path).st_size, cards), f, protocol=pickle.HIGHEST_PROTOCOL)
        os.replace(cache + ".part", cache)
    except OSError:
        pass
    return cards


def iso_date(value):
    m = re.match(r"^(\d{4})-?(\d{2})-?(\d{2})", value or "")
    return "%s-%s-%s" % m.groups() if m else (value or "")


# --- the program's own forms --------------------------------------------------------------------------------------

def from_list_json(path):
    with open(path, encoding="utf-8") as f:
        contacts = json.load(f)
    out = []
    for c in contacts:
        e = c.get("entities", {})
        facts = empty_facts()
        facts["display"] = c.get("full_name", "")
        for row in e.get("1", [])[:1]:
            facts["given"], facts["family"] = row.get("data2", ""), row.get("data3", "")
        facts["phones"] = [r.get("data1", "") for r in e.get("3", [])]
        facts["emails"] = [r.get("data1", "") for r in e.get("4", [])]
        facts["addresses"] = [tuple(r.get("data%d" % n, "") for n in (4, 7, 8, 9, 10)) for r in e.get("12", [])]
        facts["note"] = text(next((r.get("data1", "") for r in e.get("9", [])), ""))
        facts["photo"] = md5(base64.b64decode(next((r.get("data15", "") for r in e.get("2", [])), "")))
        for r in e.get("10", [])[:1]:
            facts["org"] = (r.get("data1", ""), r.get("data5", ""), r.get("data4", ""))
        facts["birthday"] = next((iso_date(r.get("data1", "")) for r in e.get("6", []) if r.get("data2") == "3"), "")
        facts["urls"] = [r.get("data1", "") for r in e.get("13", [])]
        facts["nickname"] = next((r.get("data1", "") for r in e.get("5", [])), "")
        out.append(facts)
    return out


def from_csv(path):
    """The program's CSV export: a header row of its own column names ("First Name", "Tel:Mobile",
    "Addr:Home:Street", "Date:Birthday", ...) and one row per contact. One column per kind and label holds one
    value: the format keeps one phone, e-mail, address and web address per label, not all of them."""
    with open(path, encoding="utf-8-sig", newline="") as f:
        rows = list(csv.reader(f))
    header, out = rows[0], []

    def pick(row, name):
        i = header.index(name) if name in header else -1
        return row[i] if 0 <= i < len(row) else ""

    def series(row, prefix, suffix=""):
        # "Tel:Other:Label" names the label of the "Tel:Other" value beside it: it is no value of its own.
        return [row[i] for i, h in enumerate(header)
                if h.startswith(prefix) and h.endswith(suffix) and not h.endswith(":Label") and i < len(row)
                and row[i]]

    for row in rows[1:]:
        facts = empty_facts()
        facts["given"], facts["family"] = pick(row, "First Name"), pick(row, "Last Name")
        facts["display"] = " ".join(x for x in (pick(row, "Prefix"), facts["given"], pick(row, "Middle Name"),
                                                facts["family"], pick(row, "Suffix")) if x)
        facts["phones"] = series(row, "Tel:")
        facts["emails"] = series(row, "Email:")
        facts["urls"] = series(row, "Url:")
        labels = sorted({h.split(":")[1] for h in header if h.startswith("Addr:")})
        for label in labels:
            parts = tuple(pick(row, "Addr:%s:%s" % (label, p)) for p in ("Street", "City", "State", "Postcode",
                                                                        "Country"))
            if any(parts):
                facts["addresses"].append(parts)
        facts["note"] = text(pick(row, "Notes"))
        facts["org"] = (pick(row, "Company"), pick(row, "Department"), pick(row, "Job Title"))
        facts["birthday"] = iso_date(pick(row, "Date:Birthday"))
        facts["nickname"] = pick(row, "Nickname")
        out.append(facts)
    return out


def from_phone_store(path):
    with open(path, encoding="utf-8") as f:
        store = json.load(f)
    out = []
    for c in store.get("contacts", []):
        facts = empty_facts()
        facts["display"] = c.get("name", "")
        for row in c.get("rows", []):
            t, f = row.get("type"), row.get("fields", [])
            if t == 1:
                facts["given"], facts["family"] = f[1], f[3]
            elif t == 2:
                facts["photo"] = md5(base64.b64decode(f[0]))
            elif t == 3:
                facts["phones"].append(f[2])
            elif t == 4:
                facts["emails"].append(f[2])
            elif t == 5:
                facts["nickname"] = f[2]
            elif t == 6 and f[0] == "birthday":
                facts["birthday"] = iso_date(f[2])
            elif t == 9:
                facts["note"] = text(f[0])
            elif t == 10:
                facts["org"] = (f[2], f[3], f[4])
            elif t == 12:
                facts["addresses"].append((f[5], f[4], f[3], f[6], f[2]))
            elif t == 13:
                facts["urls"].append(f[2])
        out.append(facts)
    return out


def from_iphone_store(path):
    with open(path, encoding="utf-8") as f:
        store = json.load(f)
    out = []
    for c in store.get("contacts", []):
        fields = c.get("fields", {})
        facts = empty_facts()
        facts["display"] = c.get("name", "")
        facts["given"], facts["family"] = fields.get("first name", ""), fields.get("last name", "")
        facts["nickname"] = fields.get("nickname", "")
        facts["note"] = text(fields.get("notes", ""))
        facts["org"] = (fields.get("company name", ""), fields.get("department", ""), fields.get("job title", ""))
        if "birthday" in fields:
            facts["birthday"] = iso_date(fields["birthday"].get("$date", ""))
        if "image" in fields:
            facts["photo"] = md5(base64.b64decode(fields["image"].get("$data", "")))
        for row in c.get("rows", []):
            t, f = row.get("type"), row.get("fields", {})
            if t == 3:
                facts["phones"].append(f.get("value", ""))
            elif t == 4:
                facts["emails"].append(f.get("value", ""))
            elif t == 12:
                facts["addresses"].append(tuple(f.get(k, "") for k in ("street", "city", "state", "postal code",
                                                                           "country")))
            elif t == 13:
                facts["urls"].append(f.get("value", ""))
        out.append(facts)
    return out


# --- comparison ---------------------------------------------------------------------------------------------------

def fact_value(facts, fact):
    if fact == "name":
        return (facts["given"], facts["family"], facts["display"])
    if fact in ("phones", "emails", "urls", "addresses"):
        return Counter(facts[fact])
    return facts[fact]


def same(source, target, fact, kind):
    a, b = fact_value(source, fact), fact_value(target, fact)
    if kind == "csv" and isinstance(a, Counter):
        # One value per label: what the file holds must come from the source, and a contact with values of a
        # kind keeps at least one.
        return set(b) <= set(a) and bool(a) == bool(b)
    return a == b


CARRIED = {
    "list-json": FACTS,
    "vcf": FACTS,
    "csv": [f for f in FACTS if f != "photo"],  # CSV holds no pictures
    "phone-store": FACTS,
    "iphone-store": FACTS,
}


def compare(source_path, kind, target_path):
    source = source_cards(source_path)
    target = {"list-json": from_list_json, "vcf": read_vcards, "csv": from_csv, "phone-store": from_phone_store,
              "iphone-store": from_iphone_store}[kind](target_path)
    by_name = {}
    for t in target:
        by_name.setdefault(t["display"], []).append(t)
    missing, differ, examples = [], Counter(), {}
    matched = set()
    for s in source:
        found = by_name.get(s["display"])
        if not found:
            missing.append(s["display"])
            continue
        matched.add(s["display"])
        t = found[0]
        for fact in CARRIED[kind]:
            if not same(s, t, fact, kind):
                differ[fact] += 1
                examples.setdefault(fact, []).append((s["display"], fact_value(s, fact), fact_value(t, fact)))
    extra = [n for n in by_name if n not in matched]
    twice = sum(len(v) - 1 for v in by_name.values())
    for fact, cases in examples.items():
        for name, a, b in cases[:5]:
            print("%s: %s: source %r, %s %r" % (fact, name, a, kind, b), file=sys.stderr)
    for name in missing[:5]:
        print("missing: %s" % name, file=sys.stderr)
    for name in extra[:5]:
        print("extra: %s" % name, file=sys.stderr)
    ok = not missing and not extra and not twice and not differ and len(source) == len(target)
    print(json.dumps({"kind": kind, "source": len(source), "target": len(target), "missing": len(missing),
                      "extra": len(extra), "twice": twice, "differ": dict(differ),
                      "compared": CARRIED[kind], "ok": ok}))
    return 0 if ok else 1


def ascii_lower(s):
    return "".join(c.lower() if c < "\x80" else c for c in s)


def keyword_count(source_path, word):
    """Cards with the keyword in a name, phone, e-mail, web address, nickname, note, company or birthday, compared
    ASCII-case-insensitively. A keyword found in an address only is refused: how the program joins an address into
    one searchable text is its own business."""
    word = ascii_lower(word)
    hits = 0
    for c in source_cards(source_path):
        texts = [c["display"], c["nickname"], c["note"], c["org"][0], c["birthday"]] + c["phones"] + c["emails"] \
            + c["urls"]
        found = any(word in ascii_lower(t) for t in texts)
        if not found and any(word in ascii_lower(" ".join(a)) for a in c["addresses"]):
            print("keyword %r occurs in an address of %s only; choose another" % (word, c["display"]),
                  file=sys.stderr)
            return 2
        hits += found
    print(hits)
    return 0


def main(argv):
    if len(argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    if argv[2] == "keyword":
        return keyword_count(argv[1], argv[3])
    return compare(argv[1], argv[2], argv[3])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
