#!/usr/bin/env python3
"""Writes the recalculation workload: 100,000 rows of formulas without stored results (as
openpyxl and other report generators write them) over a 10,000-row lookup table.
Usage: make_workbook.py OUT.xlsx [ROWS]"""
import sys
import zipfile
from xml.sax.saxutils import escape

out = sys.argv[1]
rows = int(sys.argv[2]) if len(sys.argv) > 2 else 100_000
table = 10_000

def cell(ref, value=None, formula=None, style=None):
    s = f' s="{style}"' if style else ''
    if formula is not None:
        return f'<c r="{ref}"{s}><f>{escape(formula)}</f></c>'
    if isinstance(value, str):
        return f'<c r="{ref}" t="inlineStr"{s}><is><t>{escape(value)}</t></is></c>'
    return f'<c r="{ref}"{s}><v>{value}</v></c>'

def sheet(body):
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>'
            '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
            + body + '</sheetData></worksheet>')

data = []
for i in range(1, rows + 1):
    r = str(i)
    key = (i * 7919) % table + 1
    data.append(f'<row r="{r}">' + ''.join([
        cell('A' + r, i), cell('B' + r, i % 97), cell('C' + r, key), cell('D' + r, 45000 + i % 3650, style=1),
        cell('E' + r, formula=f'SUM(A{r}:C{r})'),
        cell('F' + r, formula=f'VLOOKUP(C{r},Lookup!$A$1:$B${table},2,FALSE)'),
        cell('G' + r, formula=f'IF(B{r}>48,"high","low")'),
        cell('H' + r, formula=f'TEXT(D{r},"yyyy-mm-dd")'),
        cell('I' + r, formula=f'D{r}+30', style=1),
        cell('J' + r, formula=f'COUNTIF($B$1:$B${rows},B{r})'),
    ]) + '</row>')
lookup = ''.join(f'<row r="{k}">{cell("A" + str(k), k)}{cell("B" + str(k), "item " + str(k))}</row>'
                 for k in range(1, table + 1))

with zipfile.ZipFile(out, 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('[Content_Types].xml',
               '<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
               '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
               '<Default Extension="xml" ContentType="application/xml"/>'
               '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
               '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
               '<Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
               '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>'
               '</Types>')
    z.writestr('_rels/.rels',
               '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>'
               '</Relationships>')
    z.writestr('xl/workbook.xml',
               '<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
               'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>'
               '<sheet name="Report" sheetId="1" r:id="rId1"/><sheet name="Lookup" sheetId="2" r:id="rId2"/></sheets></workbook>')
    z.writestr('xl/_rels/workbook.xml.rels',
               '<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>'
               '<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet2.xml"/>'
               '<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>'
               '</Relationships>')
    z.writestr('xl/styles.xml',
               '<?xml version="1.0" encoding="UTF-8"?><styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
               '<numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy-mm-dd"/></numFmts>'
               '<cellXfs count="2"><xf numFmtId="0"/><xf numFmtId="164" applyNumberFormat="1"/></cellXfs></styleSheet>')
    z.writestr('xl/worksheets/sheet1.xml', sheet(''.join(data)))
    z.writestr('xl/worksheets/sheet2.xml', sheet(lookup))
