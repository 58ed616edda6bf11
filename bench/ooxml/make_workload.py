#!/usr/bin/env python3
"""Writes a deterministic .xlsx for profiling the OOXML reader: ROWS x 10 mixed cells
(numbers, formatted numbers, dates, shared strings with commas, quotes, line breaks and
non-ASCII text, booleans, formulas with cached values).
Usage: make_workload.py OUT.xlsx [ROWS] [STRINGS]"""
import random
import sys
import zipfile


def col(c):
    return "ABCDEFGHIJ"[c]


def main():
    out = sys.argv[1]
    rows = int(sys.argv[2]) if len(sys.argv) > 2 else 200000
    nstrings = int(sys.argv[3]) if len(sys.argv) > 3 else 5000
    rnd = random.Random(42)
    words = ["alpha", "beta, gamma", 'say "hi"', "line\nbreak", "naïve café", "日本語", "Zürich", "plain"]
    strings = [f"{rnd.choice(words)} {i} {rnd.choice(words)}" for i in range(nstrings)]

    def esc(s):
        return s.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")

    sst = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
           f'<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="{rows * 2}" uniqueCount="{nstrings}">']
    for s in strings:
        sst.append(f'<si><t xml:space="preserve">{esc(s)}</t></si>')
    sst.append("</sst>")

    parts = ['<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
             '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
             'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
             f'<dimension ref="A1:J{rows}"/><sheetViews><sheetView workbookViewId="0"/></sheetViews>'
             '<sheetFormatPr defaultRowHeight="15"/><sheetData>']
    for r in range(1, rows + 1):
        a = rnd.randint(-100000, 100000)
        b = rnd.uniform(-1e6, 1e6)
        d = 36526 + rnd.randint(0, 9000) + rnd.randint(0, 86399) / 86400
        s1 = rnd.randrange(nstrings)
        s2 = rnd.randrange(nstrings)
        g = rnd.random() * 1000
        p = rnd.random()
        big = rnd.randint(10**9, 10**12)
        parts.append(
            f'<row r="{r}" spans="1:10">'
            f'<c r="A{r}"><v>{a}</v></c>'
            f'<c r="B{r}" s="1"><v>{b!r}</v></c>'
            f'<c r="C{r}" s="2"><v>{d!r}</v></c>'
            f'<c r="D{r}" t="s"><v>{s1}</v></c>'
            f'<c r="E{r}" t="b"><v>{r % 2}</v></c>'
            f'<c r="F{r}"><f>A{r}*2</f><v>{a * 2}</v></c>'
            f'<c r="G{r}"><v>{g!r}</v></c>'
            f'<c r="H{r}" t="s"><v>{s2}</v></c>'
            f'<c r="I{r}" s="3"><v>{p!r}</v></c>'
            f'<c r="J{r}"><v>{big}</v></c>'
            '</row>')
    parts.append('</sheetData><pageMargins left="0.7" right="0.7" top="0.75" bottom="0.75" header="0.3" footer="0.3"/></worksheet>')

    ct = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
          '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
          '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
          '<Default Extension="xml" ContentType="application/xml"/>'
          '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
          '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
          '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>'
          '<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>'
          '</Types>')
    rels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
            '</Relationships>')
    wb = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
          '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
          'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
          '<sheets><sheet name="Data" sheetId="1" r:id="rId1"/></sheets></workbook>')
    wbrels = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
              '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
              '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>'
              '<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>'
              '<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>'
              '</Relationships>')
    styles = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
              '<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
              '<numFmts count="1"><numFmt numFmtId="164" formatCode="#,##0.00"/></numFmts>'
              '<cellXfs count="4"><xf numFmtId="0"/><xf numFmtId="164" applyNumberFormat="1"/>'
              '<xf numFmtId="14" applyNumberFormat="1"/><xf numFmtId="10" applyNumberFormat="1"/></cellXfs>'
              '</styleSheet>')
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr("[Content_Types].xml", ct)
        z.writestr("_rels/.rels", rels)
        z.writestr("xl/workbook.xml", wb)
        z.writestr("xl/_rels/workbook.xml.rels", wbrels)
        z.writestr("xl/styles.xml", styles)
        z.writestr("xl/sharedStrings.xml", "".join(sst))
        z.writestr("xl/worksheets/sheet1.xml", "".join(parts))


if __name__ == "__main__":
    main()
