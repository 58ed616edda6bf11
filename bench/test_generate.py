#!/usr/bin/python3
"""Checks the workload generator on shrunken workloads: python3 bench/test_generate.py"""

import importlib.machinery
import importlib.util
import os
import re
import subprocess
import tempfile
import unittest
import zipfile
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
M = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
T = "{urn:oasis:names:tc:opendocument:xmlns:table:1.0}"
O = "{urn:oasis:names:tc:opendocument:xmlns:office:1.0}"
X = "{urn:oasis:names:tc:opendocument:xmlns:text:1.0}"
ST = "{urn:oasis:names:tc:opendocument:xmlns:style:1.0}"
SCALE = 500
BOOKS = 8


def load(name):
    loader = importlib.machinery.SourceFileLoader(name, os.path.join(HERE, name))
    spec = importlib.util.spec_from_loader(name, loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


def generate(out):
    subprocess.run([os.path.join(HERE, "generate"), "--out", out, "--scale", str(SCALE),
                    "--small-books", str(BOOKS)], check=True, stderr=subprocess.DEVNULL)


def col_index(ref):
    letters = re.match(r"[A-Z]+", ref).group()
    n = 0
    for ch in letters:
        n = n * 26 + ord(ch) - 64
    return n - 1, int(ref[len(letters):]) - 1


def xlsx_grid(path):
    """Every sheet as {name: [[text of each cell]]}, through the shared strings; also checks
    the references that a reader trusts (dimension, string indexes, style indexes)."""
    with zipfile.ZipFile(path) as z:
        sst = ET.fromstring(z.read("xl/sharedStrings.xml"))
        strings = ["".join(t.text or "" for t in si.iter(M + "t")) for si in sst]
        assert int(sst.get("uniqueCount")) == len(strings)
        styles = ET.fromstring(z.read("xl/styles.xml"))
        xf_count = len(styles.find(M + "cellXfs"))
        custom = {int(f.get("numFmtId")) for f in styles.iter(M + "numFmt")}
        for xf in styles.find(M + "cellXfs"):
            fmt = int(xf.get("numFmtId"))
            assert fmt < 164 or fmt in custom, fmt
        book = ET.fromstring(z.read("xl/workbook.xml"))
        names = [s.get("name") for s in book.iter(M + "sheet")]
        grids, string_refs = {}, 0
        for i, name in enumerate(names, 1):
            sheet = ET.fromstring(z.read(f"xl/worksheets/sheet{i}.xml"))
            grid, last_row, last_col, prev = [], 0, 0, 0
            for row in sheet.iter(M + "row"):
                r = int(row.get("r"))
                assert r == prev + 1, "rows are consecutive and in order"
                prev = r
                cells = []
                for c in row:
                    col, rr = col_index(c.get("r"))
                    assert rr == r - 1 and col == len(cells)
                    assert int(c.get("s", "0")) < xf_count
                    v = c.find(M + "v").text
                    if c.get("t") == "s":
                        string_refs += 1
                        v = strings[int(v)]
                    elif c.get("t") == "b":
                        v = "TRUE" if v == "1" else "FALSE"
                    cells.append(v)
                    last_col = max(last_col, col)
                last_row = r
                grid.append(cells)
            dim = sheet.find(M + "dimension").get("ref")
            assert dim == f"A1:{chr(65 + last_col)}{last_row}", (dim, last_row, last_col)
            grids[name] = grid
        assert int(sst.get("count")) == string_refs
        return grids


def ods_grid(path):
    with zipfile.ZipFile(path) as z:
        first = z.infolist()[0]
        assert first.filename == "mimetype" and first.compress_type == zipfile.ZIP_STORED
        root = ET.fromstring(z.read("content.xml"))
    defined = {s.get(ST + "name") for s in root.iter(ST + "style")}
    grids = {}
    for table in root.iter(T + "table"):
        grid = []
        for row in table.iter(T + "table-row"):
            cells = []
            for c in row.iter(T + "table-cell"):
                assert c.get(T + "style-name") in (None, *defined)
                kind = c.get(O + "value-type")
                if kind == "string":
                    cells.append("\n".join("".join(p.itertext()) for p in c.iter(X + "p")))
                elif kind == "boolean":
                    cells.append(c.get(O + "boolean-value").upper())
                elif kind == "date":
                    cells.append(c.get(O + "date-value"))
                else:
                    cells.append(c.get(O + "value"))
            grid.append(cells)
        grids[table.get(T + "name")] = grid
    return grids


class Generator(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.out = os.path.join(cls.tmp.name, "a")
        generate(cls.out)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def files(self, root):
        return sorted(os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs)

    def test_same_bytes_on_every_run(self):
        again = os.path.join(self.tmp.name, "b")
        generate(again)
        names = self.files(self.out)
        self.assertEqual(names, self.files(again))
        self.assertIn("books-200-split/part4/book008.xlsx", names)
        for name in names:
            with open(os.path.join(self.out, name), "rb") as a, open(os.path.join(again, name), "rb") as b:
                self.assertTrue(a.read() == b.read(), name)

    def test_xlsx_parts_are_consistent(self):
        for name in ["mixed-200k.xlsx", "sheets-50.xlsx", "rows-1m.xlsx", "books-200/book003.xlsx"]:
            with self.subTest(name):
                grids = xlsx_grid(os.path.join(self.out, name))
                self.assertTrue(all(len(g) >= 2 for g in grids.values()))
        self.assertEqual(len(xlsx_grid(os.path.join(self.out, "sheets-50.xlsx"))), 50)

    def test_text_needing_quotes_and_non_ascii_is_present(self):
        notes = [row[5] for row in xlsx_grid(os.path.join(self.out, "mixed-200k.xlsx"))["Data"][1:]]
        for needle in [",", '"', "\n", "€", "東京"]:
            self.assertTrue(any(needle in n for n in notes), needle)

    def test_ods_holds_the_same_cells_as_xlsx(self):
        gen = load("generate")
        for base in ["mixed-200k", "sheets-50"]:
            xlsx = xlsx_grid(os.path.join(self.out, base + ".xlsx"))
            ods = ods_grid(os.path.join(self.out, base + ".ods"))
            self.assertEqual(list(xlsx), list(ods))
            for sheet, grid in xlsx.items():
                other = ods[sheet]
                self.assertEqual(len(grid), len(other))
                for r, (a, b) in enumerate(zip(grid, other)):
                    # Dates are serials in one and ISO dates in the other; compare the rest.
                    for c in range(gen.NCOLS):
                        if r and c in (3, 9):
                            continue
                        self.assertEqual(a[c], b[c], (base, sheet, r, c))

    def test_xls_is_a_compound_file_with_every_sheet(self):
        for name, sheets in [("mixed-60k.xls", 1), ("sheets-50.xls", 50)]:
            with open(os.path.join(self.out, name), "rb") as f:
                data = f.read()
            self.assertEqual(data[:8], bytes.fromhex("d0cf11e0a1b11ae1"))
            # One BOUNDSHEET record (0x0085) per worksheet in the workbook stream.
            self.assertGreaterEqual(data.count(b"\x85\x00"), sheets, name)


if __name__ == "__main__":
    unittest.main()
