#!/usr/bin/python3
"""Writes the sample workbooks of this folder: sales.xls (with xlwt), inventory.xlsx and
budget.ods (XML written by hand and zipped). Output is the same on every run."""
import datetime
import os
import zipfile

import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
STAMP = (2024, 1, 1, 0, 0, 0)


def write_zip(path, parts):
    with zipfile.ZipFile(path, "w") as z:
        for name, text, compress in parts:
            info = zipfile.ZipInfo(name, STAMP)
            info.compress_type = zipfile.ZIP_DEFLATED if compress else zipfile.ZIP_STORED
            z.writestr(info, text.encode("utf-8"))


def make_xls(path):
    book = xlwt.Workbook(encoding="utf-8")
    date = xlwt.easyxf(num_format_str="yyyy-mm-dd")
    money = xlwt.easyxf(num_format_str="#,##0.00")
    sales = book.add_sheet("Sales")
    rows = [
        ("Region", "Product", "Units", "Price", "Shipped"),
        ("North", "Pencils, HB", 1200, 0.35, datetime.date(2024, 1, 15)),
        ("South", 'Paper "A4"', 75, 4.5, datetime.date(2024, 2, 1)),
        ("East", "Erasers", 310, 0.8, datetime.date(2024, 3, 9)),
    ]
    for r, row in enumerate(rows):
        for c, value in enumerate(row):
            style = date if c == 4 and r else money if c == 3 and r else xlwt.Style.default_style
            sales.write(r, c, value, style)
    summary = book.add_sheet("Q1 Summary")
    summary.write(0, 0, "Total units")
    summary.write(0, 1, 1585)
    summary.write(1, 0, "Best region")
    summary.write(1, 1, "North")
    book.save(path)


XLSX_TYPES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>
<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>
<Override PartName="/xl/worksheets/sheet2.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>
<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>
<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>
</Types>"""

XLSX_RELS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>
</Relationships>"""

XLSX_WORKBOOK = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">
<sheets><sheet name="Stock" sheetId="1" r:id="rId1"/><sheet name="Notes" sheetId="2" r:id="rId2"/></sheets>
</workbook>"""

XLSX_WORKBOOK_RELS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>
<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet2.xml"/>
<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>
<Relationship Id="rId4" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>
</Relationships>"""

XLSX_STRINGS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="5" uniqueCount="5">
<si><t>Item</t></si><si><t>In stock</t></si><si><t>Share</t></si><si><t>Stapler</t></si><si><r><t>Tape </t></r><r><rPr><b/></rPr><t>(clear)</t></r></si>
</sst>"""

XLSX_STYLES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">
<numFmts count="1"><numFmt numFmtId="164" formatCode="0.0%"/></numFmts>
<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>
<fills count="1"><fill><patternFill patternType="none"/></fill></fills>
<borders count="1"><border/></borders>
<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>
<cellXfs count="2"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/><xf numFmtId="164" fontId="0" fillId="0" borderId="0" xfId="0" applyNumberFormat="1"/></cellXfs>
</styleSheet>"""

XLSX_STOCK = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">
<dimension ref="A1:C3"/>
<sheetData>
<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="C1" t="s"><v>2</v></c></row>
<row r="2"><c r="A2" t="s"><v>3</v></c><c r="B2"><v>40</v></c><c r="C2" s="1"><f>B2/SUM(B2:B3)</f><v>0.4</v></c></row>
<row r="3"><c r="A3" t="s"><v>4</v></c><c r="B3"><v>60</v></c><c r="C3" s="1"><f>B3/SUM(B2:B3)</f><v>0.6</v></c></row>
</sheetData>
</worksheet>"""

XLSX_NOTES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">
<sheetData>
<row r="2"><c r="B2" t="inlineStr"><is><t xml:space="preserve">Count again
before Friday</t></is></c><c r="C2" t="b"><v>1</v></c></row>
</sheetData>
</worksheet>"""


def make_xlsx(path):
    write_zip(path, [
        ("[Content_Types].xml", XLSX_TYPES, True),
        ("_rels/.rels", XLSX_RELS, True),
        ("xl/workbook.xml", XLSX_WORKBOOK, True),
        ("xl/_rels/workbook.xml.rels", XLSX_WORKBOOK_RELS, True),
        ("xl/sharedStrings.xml", XLSX_STRINGS, True),
        ("xl/styles.xml", XLSX_STYLES, True),
        ("xl/worksheets/sheet1.xml", XLSX_STOCK, True),
        ("xl/worksheets/sheet2.xml", XLSX_NOTES, True),
    ])


ODS_MIMETYPE = "application/vnd.oasis.opendocument.spreadsheet"

ODS_MANIFEST = """<?xml version="1.0" encoding="UTF-8"?>
<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">
<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>
<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>
</manifest:manifest>"""


def ods_cell(value):
    if isinstance(value, str):
        return ('<table:table-cell office:value-type="string"><text:p>%s</text:p></table:table-cell>'
                % value.replace("&", "&amp;").replace("<", "&lt;"))
    return ('<table:table-cell office:value-type="float" office:value="%s"><text:p>%s</text:p></table:table-cell>'
            % (value, value))


def ods_table(name, rows):
    body = "".join("<table:table-row>%s</table:table-row>" % "".join(ods_cell(v) for v in row) for row in rows)
    return '<table:table table:name="%s">%s</table:table>' % (name, body)


def make_ods(path):
    tables = ods_table("Budget", [("Month", "Plan", "Actual"), ("January", 1000, 950), ("February", 1000, 1125)])
    tables += ods_table("Owners", [("Cost centre", "Owner"), ("CC-100", "Ada"), ("CC-200", "Grace")])
    content = ('<?xml version="1.0" encoding="UTF-8"?>\n'
               '<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
               'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
               'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2">'
               '<office:body><office:spreadsheet>%s</office:spreadsheet></office:body>'
               '</office:document-content>' % tables)
    write_zip(path, [
        ("mimetype", ODS_MIMETYPE, False),
        ("META-INF/manifest.xml", ODS_MANIFEST, True),
        ("content.xml", content, True),
    ])


if __name__ == "__main__":
    make_xls(os.path.join(HERE, "sales.xls"))
    make_xlsx(os.path.join(HERE, "inventory.xlsx"))
    make_ods(os.path.join(HERE, "budget.ods"))
