#!/usr/bin/env python3
"""Writes examples/quote.xlsx: a small formatted application workbook (number formats, a date, a
percentage, column widths, unlocked input cells on a protected sheet, a bold header row with a fill
and a border, a merged title), with the stored results of its formulas. Standard library only, so that the example can be made again anywhere:

    python3 scripts/make-quote-example.py [OUTPUT.xlsx]
"""
import os
import sys
import zipfile
from xml.sax.saxutils import escape

# Styles by index of cellXfs: 0 General locked, 1 text unlocked, 2 date unlocked, 3 money locked,
# 4 count unlocked, 5 percent unlocked, 6 date locked, 7 bold heading locked, 8 the table's header
# (bold, filled, a line below), 9 the title (large, coloured), 10 the total (money, bold, a line
# above and a double line below).
(GENERAL, TEXT_INPUT, DATE_INPUT, MONEY, COUNT_INPUT, PERCENT_INPUT, DATE, HEADING, HEADER, TITLE,
 TOTAL) = range(11)

# (cell, value or formula, style, stored result of a formula)
CELLS = [
    ("A1", "Customer", HEADING, None),
    ("B1", "Acme Ltd", TEXT_INPUT, None),
    ("A2", "Order date", HEADING, None),
    ("B2", 46366, DATE_INPUT, None),  # 2026-12-10
    ("A3", "Items ordered", TITLE, None),
    ("B3", None, TITLE, None),
    ("C3", None, TITLE, None),
    ("D3", None, TITLE, None),
    ("A4", "Item", HEADER, None),
    ("B4", "Unit price", HEADER, None),
    ("C4", "Quantity", HEADER, None),
    ("D4", "Amount", HEADER, None),
    ("A5", "Widget", GENERAL, None),
    ("B5", 12.5, MONEY, None),
    ("C5", 4, COUNT_INPUT, None),
    ("D5", "=B5*C5", MONEY, 50),
    ("A6", "Gadget", GENERAL, None),
    ("B6", 30, MONEY, None),
    ("C6", 1, COUNT_INPUT, None),
    ("D6", "=B6*C6", MONEY, 30),
    ("A8", "Discount", HEADING, None),
    ("B8", 0.1, PERCENT_INPUT, None),
    ("A9", "Total", HEADING, None),
    ("D9", "=SUM(D5:D6)*(1-B8)", TOTAL, 72),
    ("A10", "Payment due", HEADING, None),
    ("D10", "=B2+30", DATE, 46396),
]
WIDTHS = {1: 14, 2: 12, 3: 10, 4: 14}
MERGES = ["A3:D3"]


def cell_xml(ref, value, style, result):
    if value is None:
        return '<c r="%s" s="%d"/>' % (ref, style)
    if isinstance(value, str) and value.startswith("="):
        return '<c r="%s" s="%d"><f>%s</f><v>%s</v></c>' % (ref, style, escape(value[1:]), result)
    if isinstance(value, str):
        return '<c r="%s" s="%d" t="inlineStr"><is><t>%s</t></is></c>' % (ref, style,
                                                                          escape(value))
    return '<c r="%s" s="%d"><v>%s</v></c>' % (ref, style, value)


def sheet_xml():
    rows = {}
    for ref, value, style, result in CELLS:
        row = int("".join(ch for ch in ref if ch.isdigit()))
        rows.setdefault(row, []).append(cell_xml(ref, value, style, result))
    body = "".join('<row r="%d">%s</row>' % (row, "".join(cells))
                   for row, cells in sorted(rows.items()))
    cols = "".join('<col min="%d" max="%d" width="%g" customWidth="1"/>' % (c, c, w)
                   for c, w in sorted(WIDTHS.items()))
    return ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
            '<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
            '<cols>%s</cols><sheetData>%s</sheetData>'
            '<sheetProtection sheet="1" objects="1" scenarios="1"/>'
            '<mergeCells count="%d">%s</mergeCells></worksheet>' % (
                cols, body, len(MERGES),
                "".join('<mergeCell ref="%s"/>' % ref for ref in MERGES)))


def xf(number_format, locked, font=0, fill=0, border=0):
    protection = '' if locked else '<protection locked="0"/>'
    return ('<xf numFmtId="%d" fontId="%d" fillId="%d" borderId="%d" xfId="0" '
            'applyNumberFormat="1"%s>%s</xf>' % (number_format, font, fill, border,
                                                 '' if locked else ' applyProtection="1"',
                                                 protection))


# Fonts: 0 the default, 1 bold, 2 bold, large and blue. Fills: 0 none, 1 the gray pattern every
# package has, 2 solid light blue. Borders: 0 none, 1 thin below, 2 thin above and double below.
STYLES = ('<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
          '<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">'
          '<numFmts count="2"><numFmt numFmtId="164" formatCode="yyyy-mm-dd"/>'
          '<numFmt numFmtId="165" formatCode="#,##0.00"/></numFmts>'
          '<fonts count="3"><font><sz val="11"/><name val="Calibri"/></font>'
          '<font><b/><sz val="11"/><name val="Calibri"/></font>'
          '<font><b/><sz val="14"/><color rgb="FF1F4E79"/><name val="Calibri"/></font></fonts>'
          '<fills count="3"><fill><patternFill patternType="none"/></fill>'
          '<fill><patternFill patternType="gray125"/></fill>'
          '<fill><patternFill patternType="solid"><fgColor rgb="FFDDEBF7"/><bgColor indexed="64"/>'
          '</patternFill></fill></fills>'
          '<borders count="3"><border><left/><right/><top/><bottom/><diagonal/></border>'
          '<border><left/><right/><top/><bottom style="thin"><color indexed="64"/></bottom>'
          '<diagonal/></border>'
          '<border><left/><right/><top style="thin"><color indexed="64"/></top>'
          '<bottom style="double"><color indexed="64"/></bottom><diagonal/></border></borders>'
          '<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/>'
          '</cellStyleXfs><cellXfs count="11">' +
          xf(0, True) + xf(0, False) + xf(164, False) + xf(165, True) + xf(1, False) +
          xf(9, False) + xf(164, True) + xf(0, True, font=1) +
          xf(0, True, font=1, fill=2, border=1) + xf(0, True, font=2) +
          xf(165, True, font=1, border=2) +
          '</cellXfs><cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/>'
          '</cellStyles></styleSheet>')

PARTS = {
    "[Content_Types].xml":
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" '
        'ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/xl/workbook.xml" ContentType="application/'
        'vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
        '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/'
        'vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
        '<Override PartName="/xl/styles.xml" ContentType="application/'
        'vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/></Types>',
    "_rels/.rels":
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
        'relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>',
    "xl/workbook.xml":
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
        'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
        '<sheets><sheet name="Quote" sheetId="1" r:id="rId1"/></sheets></workbook>',
    "xl/_rels/workbook.xml.rels":
        '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'
        '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        '<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
        'relationships/worksheet" Target="worksheets/sheet1.xml"/>'
        '<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/'
        'relationships/styles" Target="styles.xml"/></Relationships>',
    "xl/styles.xml": STYLES,
    "xl/worksheets/sheet1.xml": sheet_xml(),
}


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "..", "examples",
                                                                "quote.xlsx")
    # Fixed dates inside the archive: the same workbook makes the same bytes.
    with zipfile.ZipFile(output, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, text in PARTS.items():
            info = zipfile.ZipInfo(name, date_time=(2026, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            archive.writestr(info, text.encode("utf-8"))


if __name__ == "__main__":
    main()
