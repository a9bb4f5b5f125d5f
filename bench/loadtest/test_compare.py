#!/usr/bin/env python3
"""Checks of the load test's comparer: that it reads what the generated files hold and that it catches a lost or
changed value. Run: python3 bench/loadtest/test_compare.py"""
import base64
import copy
import io
import json
import os
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import compare  # noqa: E402

PHOTO = bytes(range(256)) * 4
B64 = base64.b64encode(PHOTO).decode()
SOURCE = (
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Berg-0;Anna;;;\r\nFN:Anna Berg-0\r\nTEL;TYPE=CELL:+47 41000000\r\n"
    "TEL;TYPE=WORK,VOICE:+47 22000000\r\nEMAIL;TYPE=INTERNET,HOME:anna.0@example.com\r\n"
    "ADR;TYPE=HOME:;;Storgata 1;Oslo;;0150;Norway\r\nORG:Northwind\\, Inc.;Sales\r\nTITLE:Manager\r\n"
    "BDAY:1950-01-10\r\nURL:https\\://example.net/~0\r\nNICKNAME:Annay\r\n"
    "NOTE;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:Met=20at=20the=\r\n=20conference.=0D=0ACall=20(=C3=86=C3=98)\r\n"
    "PHOTO;ENCODING=b;TYPE=JPEG:" + B64[:74] + "\r\n " + B64[74:] + "\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Cole-1;Mark;;;\r\nFN:Mark Cole-1\r\nTEL;TYPE=CELL:+47 41000001\r\n"
    "NOTE:Prefers calls\\, not texts\\nOffice hours only.\r\nEND:VCARD\r\n")


def listed():
    """The command line tool's list --json of SOURCE, as the program gives it."""
    return [
        {"_id": 1, "src_id": "", "full_name": "Anna Berg-0", "entities": {
            "1": [{"_id": 1, "data1": "Anna Berg-0", "data2": "Anna", "data3": "Berg-0"}],
            "2": [{"_id": 2, "data15": B64}],
            "3": [{"_id": 3, "data1": "+47 41000000", "data2": "2"}, {"_id": 4, "data1": "+47 22000000"}],
            "4": [{"_id": 5, "data1": "anna.0@example.com"}],
            "5": [{"_id": 6, "data1": "Annay"}],
            "6": [{"_id": 7, "data1": "1950-01-10", "data2": "3"}],
            "9": [{"_id": 8, "data1": "Met at the conference.\r\nCall (ÆØ)"}],
            "10": [{"_id": 9, "data1": "Northwind, Inc.", "data4": "Manager", "data5": "Sales"}],
            "12": [{"_id": 10, "data1": "x", "data4": "Storgata 1", "data7": "Oslo", "data9": "0150",
                    "data10": "Norway"}],
            "13": [{"_id": 11, "data1": "https://example.net/~0"}]}},
        {"_id": 2, "src_id": "", "full_name": "Mark Cole-1", "entities": {
            "1": [{"_id": 12, "data1": "Mark Cole-1", "data2": "Mark", "data3": "Cole-1"}],
            "3": [{"_id": 13, "data1": "+47 41000001"}],
            "9": [{"_id": 14, "data1": "Prefers calls, not texts\nOffice hours only."}]}},
    ]


class Compare(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.source = os.path.join(self.dir.name, "source.vcf")
        with open(self.source, "w", encoding="utf-8", newline="") as f:
            f.write(SOURCE)

    def tearDown(self):
        self.dir.cleanup()

    def run_compare(self, kind, content, name="target"):
        path = os.path.join(self.dir.name, name)
        with open(path, "w", encoding="utf-8", newline="") as f:
            f.write(content if isinstance(content, str) else json.dumps(content))
        out = io.StringIO()
        err = io.StringIO()
        stdout, stderr = sys.stdout, sys.stderr
        sys.stdout, sys.stderr = out, err
        try:
            rc = compare.compare(self.source, kind, path)
        finally:
            sys.stdout, sys.stderr = stdout, stderr
        return rc, json.loads(out.getvalue())

    def test_reads_folding_quoted_printable_escapes_and_photos(self):
        cards = compare.read_vcards(self.source)
        self.assertEqual(len(cards), 2)
        anna = cards[0]
        self.assertEqual(anna["note"], "Met at the conference.\nCall (ÆØ)")
        self.assertEqual(anna["org"], ("Northwind, Inc.", "Sales", "Manager"))
        self.assertEqual(anna["urls"], ["https://example.net/~0"])
        self.assertEqual(anna["photo"], compare.md5(PHOTO))
        self.assertEqual(anna["addresses"], [("Storgata 1", "Oslo", "", "0150", "Norway")])
        self.assertEqual(cards[1]["note"], "Prefers calls, not texts\nOffice hours only.")

    def test_the_program_s_list_matches(self):
        rc, summary = self.run_compare("list-json", listed())
        self.assertEqual((rc, summary["ok"], summary["differ"]), (0, True, {}))

    def test_each_lost_or_changed_value_is_caught(self):
        def lose_phone(c):
            c[0]["entities"]["3"].pop()

        def change_photo(c):
            c[0]["entities"]["2"][0]["data15"] = base64.b64encode(PHOTO[:-1] + b"x").decode()

        def cut_note(c):
            c[1]["entities"]["9"][0]["data1"] = "Prefers calls"

        def swap_names(c):
            row = c[0]["entities"]["1"][0]
            row["data2"], row["data3"] = row["data3"], row["data2"]

        def street_moved(c):
            c[0]["entities"]["12"][0]["data7"] = "Bergen"

        for change, fact in [(lose_phone, "phones"), (change_photo, "photo"), (cut_note, "note"),
                             (swap_names, "name"), (street_moved, "addresses")]:
            contacts = copy.deepcopy(listed())
            change(contacts)
            rc, summary = self.run_compare("list-json", contacts)
            self.assertEqual(rc, 1, change.__name__)
            self.assertEqual(summary["differ"], {fact: 1}, change.__name__)

    def test_missing_and_doubled_contacts_are_caught(self):
        rc, summary = self.run_compare("list-json", listed()[:1])
        self.assertEqual((rc, summary["missing"]), (1, 1))
        rc, summary = self.run_compare("list-json", listed() + listed()[1:])
        self.assertEqual((rc, summary["twice"]), (1, 1))

    def test_csv_keeps_one_value_per_label_but_no_foreign_one(self):
        header = "First Name,Last Name,Nickname,Company,Department,Job Title,Tel:Mobile,Email:Home,Date:Birthday," \
                 "Addr:Home:Country,Addr:Home:City,Addr:Home:Street,Addr:Home:Postcode,Url:Other,Notes\n"
        anna = "Anna,Berg-0,Annay,\"Northwind, Inc.\",Sales,Manager,+47 22000000,anna.0@example.com,1950-01-10," \
               "Norway,Oslo,Storgata 1,0150,https://example.net/~0,\"Met at the conference.\r\nCall (ÆØ)\"\n"
        mark = "Mark,Cole-1,,,,,+47 41000001,,,,,,,,\"Prefers calls, not texts\nOffice hours only.\"\n"
        rc, summary = self.run_compare("csv", header + anna + mark, "a.csv")
        self.assertEqual((rc, summary["differ"]), (0, {}))
        rc, summary = self.run_compare("csv", header + anna.replace("+47 22000000", "+47 99999999") + mark, "b.csv")
        self.assertEqual(summary["differ"], {"phones": 1})
        rc, summary = self.run_compare("csv", header + anna + mark.replace("+47 41000001", ""), "c.csv")
        self.assertEqual(summary["differ"], {"phones": 1})
        # A label column beside a custom-labelled phone is not a phone number of its own.
        labelled = header.replace("Tel:Mobile,", "Tel:Mobile,Tel:Other,Tel:Other:Label,")
        rc, summary = self.run_compare("csv", labelled + anna.replace("+47 22000000,", "+47 22000000,,,")
                                       + mark.replace("+47 41000001,", "+47 41000001,,,"), "d.csv")
        self.assertEqual((rc, summary["differ"]), (0, {}))
        rc, summary = self.run_compare("csv", labelled + anna.replace("+47 22000000,", "+47 22000000,,Cabin,")
                                       + mark.replace("+47 41000001,", "+47 41000001,,,"), "e.csv")
        self.assertEqual((rc, summary["differ"]), (0, {}))

    def test_keyword_count_is_ascii_case_insensitive_and_refuses_address_only_words(self):
        run = lambda word: subprocess.run([sys.executable, os.path.join(HERE, "compare.py"), self.source, "keyword",
                                           word], capture_output=True, text=True)
        self.assertEqual(run("BERG").stdout.strip(), "1")
        self.assertEqual(run("47 410").stdout.strip(), "2")
        self.assertEqual(run("æø").stdout.strip(), "0")  # LIKE folds ASCII letters only
        self.assertEqual(run("storgata").returncode, 2)

    def test_cached_source_is_used_only_for_the_same_file(self):
        first = compare.source_cards(self.source)
        self.assertTrue(os.path.exists(self.source + ".facts.pickle"))
        self.assertEqual(compare.source_cards(self.source), first)
        # A changed source (one card fewer) is read again, not taken from the cache.
        with open(self.source, "w", encoding="utf-8", newline="") as f:
            f.write(SOURCE[:SOURCE.index("BEGIN:VCARD", 10)])
        os.utime(self.source, (os.path.getmtime(self.source + ".facts.pickle") + 10,) * 2)
        self.assertEqual(len(compare.source_cards(self.source)), 1)
        # A cache no older than the file but made from another size is not trusted either.
        with open(self.source, "w", encoding="utf-8", newline="") as f:
            f.write(SOURCE)
        os.utime(self.source, (os.path.getmtime(self.source + ".facts.pickle") - 10,) * 2)
        self.assertEqual(len(compare.source_cards(self.source)), 2)


if __name__ == "__main__":
    unittest.main()
