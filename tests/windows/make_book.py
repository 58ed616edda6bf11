#!/usr/bin/env python3
"""Writes a minimal .xlsx workbook whose sheets have the given names, each holding its own
name in A1 and its position in A2: make_book.py OUT.xlsx NAME..."""
import sys
import zipfile
from xml.sax.saxutils import escape, quoteattr

out, names = sys.argv[1], sys.argv[2:]
ns = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
rel_ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("[Content_Types].xml",
               '<?xml version="1.0" encoding="UTF-8"?>'
               '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
               '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
               '<Default Extension="xml" ContentType="application/xml"/>'
               '<Override PartName="/xl/workbook.xml" '
               'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
               + "".join('<Override PartName="/xl/worksheets/sheet%d.xml" '
                         'ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
                         % (i + 1) for i in range(len(names)))
               + "</Types>")
    z.writestr("_rels/.rels",
               '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               '<Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/></Relationships>' % rel_ns)
    z.writestr("xl/workbook.xml",
               '<workbook %s xmlns:r="%s"><sheets>' % (ns, rel_ns)
               + "".join('<sheet name=%s sheetId="%d" r:id="rId%d"/>' % (quoteattr(n), i + 1, i + 1)
                         for i, n in enumerate(names))
               + "</sheets></workbook>")
    z.writestr("xl/_rels/workbook.xml.rels",
               '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               + "".join('<Relationship Id="rId%d" Type="%s/worksheet" Target="worksheets/sheet%d.xml"/>'
                         % (i + 1, rel_ns, i + 1) for i in range(len(names)))
               + "</Relationships>")
    for i, n in enumerate(names):
        z.writestr("xl/worksheets/sheet%d.xml" % (i + 1),
                   '<worksheet %s><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>%s</t></is></c></row>'
                   '<row r="2"><c r="A2"><v>%d</v></c></row></sheetData></worksheet>' % (ns, escape(n), i + 1))
