#!/usr/bin/python3
"""Writes the BIFF8 test workbooks in fixtures/ with python3-xlwt (Debian package).

Run again after changing it; the tests read the committed files and never run this script.
"""
import datetime
import os

import xlwt

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fixtures")


def style(fmt):
    s = xlwt.XFStyle()
    s.num_format_str = fmt
    return s


def mixed():
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Mixed")
    rows = [
        ["text", "number", "shown"],
        ["integer", 42, None],
        ["negative", -7, None],
        ["fraction", 1 / 3, None],
        ["large", 123456789012, None],
        ["tiny", 0.000012345678, None],
        ["comma, quote \" and\nbreak", 2.5, None],
        ["Grüße ✓ 日本", True, None],
        ["false", False, None],
    ]
    for r, row in enumerate(rows):
        for c, v in enumerate(row):
            if v is not None:
                ws.write(r, c, v)
    ws.write(9, 0, "date")
    ws.write(9, 1, datetime.date(2024, 2, 29), style("yyyy-mm-dd"))
    ws.write(10, 0, "time")
    ws.write(10, 1, datetime.time(13, 45, 30), style("h:mm:ss"))
    ws.write(11, 0, "percent")
    ws.write(11, 1, 0.1234, style("0.00%"))
    ws.write(12, 0, "thousands")
    ws.write(12, 1, 1234567.891, style("#,##0.00"))
    ws.write(13, 0, "text format")
    ws.write(13, 1, "abc", style('"<"@">"'))
    ws.write(14, 0, "builtin date")
    ws.write(14, 1, datetime.datetime(1999, 12, 31, 23, 59), style("M/D/YY"))

    off = wb.add_sheet("Offset")
    off.write(2, 2, "starts at C3")
    off.write(3, 3, 1)
    bordered = xlwt.easyxf("borders: left thin")
    off.write(6, 4, None, bordered)  # a formatted empty cell widens the used range

    hidden = wb.add_sheet("Hidden")
    hidden.write(0, 0, "hidden sheet")
    hidden.visibility = 1
    wb.add_sheet("Empty")
    wb.save(os.path.join(HERE, "mixed.xls"))


def long_strings():
    # Enough long strings that the shared-string table spans several CONTINUE records and
    # strings break across them, in 8-bit and UTF-16 forms.
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Strings")
    for i in range(60):
        if i % 3 == 0:
            text = ("ascii-%02d-" % i) + "x" * (300 + 37 * i)
        elif i % 3 == 1:
            text = ("unicode-%02d-" % i) + "ж" * (200 + 41 * i)
        else:
            text = ("mixed-%02d-" % i) + "é" * (250 + 13 * i) + "€"
        ws.write(i, 0, text)
        ws.write(i, 1, len(text))
    wb.save(os.path.join(HERE, "long_strings.xls"))


def dates1904():
    wb = xlwt.Workbook()
    wb.dates_1904 = True
    ws = wb.add_sheet("Dates")
    ws.write(0, 0, datetime.date(2021, 1, 1), style("yyyy-mm-dd"))
    ws.write(1, 0, 0, style("yyyy-mm-dd"))
    ws.write(2, 0, datetime.datetime(2000, 6, 15, 12, 0), style("m/d/yyyy h:mm"))
    wb.save(os.path.join(HERE, "dates1904.xls"))


def wide():
    # Many rows of mixed cells, to check streaming and the used range on a larger sheet.
    wb = xlwt.Workbook()
    ws = wb.add_sheet("Wide")
    for r in range(3000):
        ws.write(r, 0, r)
        ws.write(r, 1, r * 1.5)
        ws.write(r, 2, "row %d" % (r % 50))
        if r % 7 == 0:
            ws.write(r, 3, r % 2 == 0)
    wb.save(os.path.join(HERE, "wide.xls"))


if __name__ == "__main__":
    os.makedirs(HERE, exist_ok=True)
    mixed()
    long_strings()
    dates1904()
    wide()
