#!/usr/bin/env python3
"""Writes the small workbook packages (.xlsx) that the package reader's tests read, into
tests/fixtures/xlsx/. The packages are made here, part by part, with the standard library only:

  check.xlsx          shared formulas (down a column and across a row), an array formula, defined
                      names (workbook and sheet level), shared strings with rich-text runs, inline
                      strings, booleans, errors, cells without addresses; the cached values are
                      what the formulas compute
  date1904.xlsx       the 1904 date system and iterative calculation settings
  faults.xlsx         a data table, a formula the parser rejects, an unknown shared string, a
                      shared formula that was never defined, an empty formula, an empty value,
                      and a second sheet written with a namespace prefix
  missing-sheet.xlsx  a workbook whose second sheet's part is not in the package
  malformed.xlsx      a worksheet part that is not well-formed XML
  tables.xlsx         a table with a totals row, formulas and a name that refer to its parts, and
                      the time the package was saved
  external.xlsx       formulas and a name that read two other workbooks: one with the cached
                      values of two sheets (one of them never read), one whose reading failed
  formats.xlsx        cells in number formats of the package's own and built-in ones (a date, a
                      percentage, thousands, a text format), a formula cell shown as a date, and
                      a cell in the General format

Run from anywhere: python3 scripts/make-xlsx-fixture.py
"""
import os
import zipfile

MAIN_NS = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
REL_NS = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
PKG_REL_NS = "http://schemas.openxmlformats.org/package/2006/relationships"
TYPE = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
HEAD = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\n'


def content_types(sheet_count, shared_strings):
    parts = "".join(
        f'<Override PartName="/xl/worksheets/sheet{i}.xml" ContentType="application/'
        f'vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
        for i in range(1, sheet_count + 1))
    if shared_strings:
        parts += ('<Override PartName="/xl/sharedStrings.xml" ContentType="application/'
                  'vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>')
    return (HEAD + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" ContentType="application/'
            'vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="xml" ContentType="application/xml"/>'
            '<Override PartName="/xl/workbook.xml" ContentType="application/'
            'vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>' + parts +
            '</Types>')


ROOT_RELS = (HEAD + f'<Relationships xmlns="{PKG_REL_NS}">'
             f'<Relationship Id="rId1" Type="{TYPE}officeDocument" Target="xl/workbook.xml"/>'
             '</Relationships>')


def workbook_rels(sheet_count, shared_strings, styles=False, external_links=0):
    rels = "".join(f'<Relationship Id="rId{i}" Type="{TYPE}worksheet" '
                   f'Target="worksheets/sheet{i}.xml"/>' for i in range(1, sheet_count + 1))
    rels += "".join(f'<Relationship Id="rIdX{i}" Type="{TYPE}externalLink" '
                    f'Target="externalLinks/externalLink{i}.xml"/>'
                    for i in range(1, external_links + 1))
    if shared_strings:
        rels += f'<Relationship Id="rId99" Type="{TYPE}sharedStrings" Target="sharedStrings.xml"/>'
    if styles:
        rels += f'<Relationship Id="rId98" Type="{TYPE}styles" Target="styles.xml"/>'
    return HEAD + f'<Relationships xmlns="{PKG_REL_NS}">{rels}</Relationships>'


def workbook(sheet_names, names="", properties="", calc="", external_links=0):
    sheets = "".join(f'<sheet name="{name}" sheetId="{i}" r:id="rId{i}"/>'
                     for i, name in enumerate(sheet_names, start=1))
    defined = f"<definedNames>{names}</definedNames>" if names else ""
    externals = "".join(f'<externalReference r:id="rIdX{i}"/>'
                        for i in range(1, external_links + 1))
    if externals:
        externals = f"<externalReferences>{externals}</externalReferences>"
    return (HEAD + f'<workbook xmlns="{MAIN_NS}" xmlns:r="{REL_NS}">{properties}'
            f"<sheets>{sheets}</sheets>{externals}{defined}{calc}</workbook>")


def worksheet(rows):
    return HEAD + f'<worksheet xmlns="{MAIN_NS}"><sheetData>{rows}</sheetData></worksheet>'


def shared_strings(items):
    return (HEAD + f'<sst xmlns="{MAIN_NS}" count="{len(items)}" uniqueCount="{len(items)}">' +
            "".join(f"<si>{item}</si>" for item in items) + "</sst>")


def write_package(path, sheet_names, sheets, names="", properties="", calc="", strings=None,
                  skip_parts=(), extra_parts=None, styles=None, external_links=()):
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as package:
        def add(name, text):
            if name in skip_parts:
                return
            info = zipfile.ZipInfo(name, date_time=(2020, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            package.writestr(info, text.encode("utf-8"))

        add("[Content_Types].xml", content_types(len(sheets), strings is not None))
        add("_rels/.rels", ROOT_RELS)
        add("xl/workbook.xml",
            workbook(sheet_names, names, properties, calc, len(external_links)))
        add("xl/_rels/workbook.xml.rels",
            workbook_rels(len(sheets), strings is not None, styles is not None,
                          len(external_links)))
        for i, text in enumerate(external_links, start=1):
            add(f"xl/externalLinks/externalLink{i}.xml", text)
        if styles is not None:
            add("xl/styles.xml", styles)
        for i, rows in enumerate(sheets, start=1):
            add(f"xl/worksheets/sheet{i}.xml", rows if rows.startswith("<?xml") else worksheet(rows))
        if strings is not None:
            add("xl/sharedStrings.xml", shared_strings(strings))
        for name, text in (extra_parts or {}).items():
            add(name, text)


def main():
    out = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "fixtures",
                       "xlsx")
    os.makedirs(out, exist_ok=True)

    # Input: A1..A3 = 2, 3, 4; B1:B3 = A*2 shared down; C1 = A1+B1; D1:D2 = {A1:A2*10};
    # E1 shared string (two runs), I4 one with _xHHHH_ escapes, E2 inline, E3 TRUE, E4 #DIV/0!,
    # F4 a text result spelled with an escape;
    # F2:G2 = A$1+$A2 shared across (G2 reads B1); H1 = Rate*A3; row 5 without addresses;
    # B6:B7 = "A1"&A1 shared down: the text constant stays, the reference moves.
    check_rows = (
        '<row r="1">'
        '<c r="A1"><v>2</v></c>'
        '<c r="B1"><f t="shared" ref="B1:B3" si="0">A1*2</f><v>4</v></c>'
        '<c r="C1"><f>A1+B1</f><v>6</v></c>'
        '<c r="D1"><f t="array" ref="D1:D2">A1:A2*10</f><v>20</v></c>'
        '<c r="E1" t="s"><v>0</v></c>'
        '<c r="H1"><f>Rate*A3</f><v>8</v></c>'
        '</row>'
        '<row r="2">'
        '<c r="A2"><v>3</v></c>'
        '<c r="B2"><f t="shared" si="0"/><v>6</v></c>'
        '<c r="D2"><v>30</v></c>'
        '<c r="E2" t="inlineStr"><is><t>inline &amp; text</t></is></c>'
        '<c r="F2"><f t="shared" ref="F2:G2" si="1">A$1+$A2</f><v>5</v></c>'
        '<c r="G2"><f t="shared" si="1"/><v>7</v></c>'
        '</row>'
        '<row r="3">'
        '<c r="A3"><v>4</v></c>'
        '<c r="B3"><f t="shared" si="0"/><v>8</v></c>'
        '<c r="E3" t="b"><v>1</v></c>'
        '</row>'
        '<row r="4"><c r="E4" t="e"><v>#DIV/0!</v></c>'
        '<c r="F4" t="str"><f>E1&amp;"!"</f><v>Hello_x0021_</v></c><c r="I4" t="s"><v>1</v></c></row>'
        '<row>'
        '<c t="inlineStr"><is><r><t>x</t></r><r><t xml:space="preserve"> y</t></r></is></c>'
        '<c><v>1.5E+3</v></c>'
        '</row>'
        '<row r="6">'
        '<c r="B6" t="str"><f t="shared" ref="B6:B7" si="2">"A1"&amp;A1</f><v>A12</v></c>'
        '</row>'
        '<row r="7"><c r="B7" t="str"><f t="shared" si="2"/><v>A13</v></c></row>'
    )
    write_package(
        os.path.join(out, "check.xlsx"), ["Input"], [check_rows],
        names=('<definedName name="_xlnm._FilterDatabase" localSheetId="0" hidden="1">'
               'Input!$A$1:$A$3</definedName>'
               '<definedName name="Local" localSheetId="0">Input!$A$2</definedName>'
               '<definedName name="Rate">Input!$A$1</definedName>'),
        strings=['<r><t>Hel</t></r><r><rPr><b/></rPr><t>lo</t></r>', '<t>a_x000D_b_x005F_x0041_</t>'])

    write_package(
        os.path.join(out, "date1904.xlsx"), ["Dates"],
        ['<row r="1"><c r="A1"><v>1</v></c></row>'],
        properties='<workbookPr date1904="1"/>',
        calc='<calcPr calcId="191029" iterate="1" iterateCount="50" iterateDelta="0.0001"/>')

    faults_rows = (
        '<row r="1"><c r="A1"><v>1</v></c>'
        '<c r="B1"><f t="dataTable" ref="B1:B2" dt2D="0" dtr="0" r1="A1"/><v>5</v></c></row>'
        '<row r="2"><c r="B2"><v>6</v></c>'
        '<c r="C2"><f>1+*2</f><v>9</v></c>'
        '<c r="D2" t="s"><v>7</v></c>'
        '<c r="E2"><f t="shared" si="4"/><v>3</v></c>'
        '<c r="F2"><f>A1*3</f><v>3</v></c>'
        '<c r="G2" t="b"><f ca="1"/><v>1</v></c>'
        '<c r="H2"><v></v></c></row>'
    )
    prefixed = (HEAD + f'<x:worksheet xmlns:x="{MAIN_NS}"><x:sheetData>'
                '<x:row r="3"><x:c r="B3"><x:f>Faults!A1+1</x:f><x:v>2</x:v></x:c></x:row>'
                '</x:sheetData></x:worksheet>')
    write_package(os.path.join(out, "faults.xlsx"), ["Faults", "Prefixed"],
                  [faults_rows, prefixed], strings=["only"])

    write_package(os.path.join(out, "missing-sheet.xlsx"), ["One", "Two"],
                  ['<row r="1"><c r="A1"><v>1</v></c></row>', ""],
                  skip_parts=("xl/worksheets/sheet2.xml",))

    # Stock!A1:B4: a table with headers (Item, Qty), two rows and a totals row; formulas beside
    # it name its parts, and a name names its column. The package says when it was saved, the day
    # D2's TODAY() stored.
    table = (HEAD + f'<table xmlns="{MAIN_NS}" id="1" name="Stock" displayName="Stock" '
             'ref="A1:B4" totalsRowCount="1"><tableColumns count="2">'
             '<tableColumn id="1" name="Item"/><tableColumn id="2" name="Qty"/></tableColumns>'
             '</table>')
    sheet_rels = (HEAD + f'<Relationships xmlns="{PKG_REL_NS}">'
                  f'<Relationship Id="rId1" Type="{TYPE}table" Target="../tables/table1.xml"/>'
                  '</Relationships>')
    core = (HEAD + '<cp:coreProperties xmlns:cp="http://schemas.openxmlformats.org/package/2006/'
            'metadata/core-properties" xmlns:dcterms="http://purl.org/dc/terms/">'
            '<dcterms:modified>2026-07-23T10:34:23Z</dcterms:modified></cp:coreProperties>')
    tables_rows = (
        '<row r="1"><c r="A1" t="inlineStr"><is><t>Item</t></is></c>'
        '<c r="B1" t="inlineStr"><is><t>Qty</t></is></c></row>'
        '<row r="2"><c r="A2" t="inlineStr"><is><t>nuts</t></is></c><c r="B2"><v>2</v></c>'
        '<c r="C2"><f>Stock[[#This Row],[Qty]]*10</f><v>20</v></c>'
        '<c r="D2"><f>TODAY()</f><v>46226</v></c></row>'
        '<row r="3"><c r="A3" t="inlineStr"><is><t>bolts</t></is></c><c r="B3"><v>3</v></c>'
        '<c r="C3"><f>SUM(Stock[Qty])</f><v>5</v></c></row>'
        '<row r="4"><c r="B4"><f>SUBTOTAL(109,Stock[Qty])</f><v>5</v></c>'
        '<c r="C4"><f>Stock[[#Totals],[Qty]]+ROWS(Stock[#All])</f><v>9</v></c></row>'
    )
    write_package(os.path.join(out, "tables.xlsx"), ["Stock"], [tables_rows],
                  names='<definedName name="Counts">Stock[Qty]</definedName>',
                  extra_parts={"xl/worksheets/_rels/sheet1.xml.rels": sheet_rels,
                               "xl/tables/table1.xml": table, "docProps/core.xml": core})

    # Links!A1:A6 read the first other workbook: its sheet Prices holds cached values, its sheet
    # "Old sheet" none; the name Far reads the second, whose last reading failed.
    def external_book(sheet_names, sheet_data):
        names = "".join(f'<sheetName val="{name}"/>' for name in sheet_names)
        return (HEAD + f'<externalLink xmlns="{MAIN_NS}"><externalBook xmlns:r="{REL_NS}" '
                f'r:id="rId1"><sheetNames>{names}</sheetNames><sheetDataSet>{sheet_data}'
                '</sheetDataSet></externalBook></externalLink>')

    prices = external_book(
        ["Prices", "Old sheet"],
        '<sheetData sheetId="0"><row r="2"><cell r="B2"><v>2.5</v></cell></row>'
        '<row r="3"><cell r="B3"><v>4</v></cell><cell r="C3" t="str"><v>say "hi"</v></cell>'
        '</row><row r="4"><cell r="B4" t="e"><v>#N/A</v></cell></row></sheetData>'
        '<sheetData sheetId="1"/>')
    failed = external_book(["Sheet1"], '<sheetData sheetId="0" refreshError="1"/>')
    external_rows = (
        '<row r="1"><c r="A1"><f>[1]Prices!B2*2</f><v>5</v></c></row>'
        '<row r="2"><c r="A2"><f>SUM([1]Prices!$B$2:$B$3)</f><v>6.5</v></c></row>'
        '<row r="3"><c r="A3" t="e"><f>\'[1]Old sheet\'!A1</f><v>#REF!</v></c></row>'
        '<row r="4"><c r="A4" t="str"><f>[1]Prices!C3&amp;"!"</f><v>say "hi"!</v></c></row>'
        '<row r="5"><c r="A5" t="e"><f>Far</f><v>#REF!</v></c></row>'
        '<row r="6"><c r="A6"><f>[1]Prices!B9</f><v>0</v></c></row>'
    )
    write_package(os.path.join(out, "external.xlsx"), ["Links"], [external_rows],
                  names='<definedName name="Far">[2]Sheet1!$A$1</definedName>',
                  external_links=(prices, failed))

    write_package(os.path.join(out, "malformed.xlsx"), ["Broken"],
                  [worksheet('<row r="1"><c r="A1"><v>1</v></row>')])

    # Cell formats 1..5: yyyy-mm-dd (the package's own, 164), 0.00% (10), #,##0.00 (4), m/d/yyyy
    # (14), @ (49). A1 a date, A2 a share, A3 an amount, A4 = A1+1 shown as a date, A5 = 1/3 in
    # General, A6 a text in the text format.
    styles = (HEAD + f'<styleSheet xmlns="{MAIN_NS}">'
              '<numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy-mm-dd"/></numFmts>'
              '<cellXfs count="6"><xf numFmtId="0"/><xf numFmtId="164"/><xf numFmtId="10"/>'
              '<xf numFmtId="4"/><xf numFmtId="14"/><xf numFmtId="49"/></cellXfs></styleSheet>')
    formats_rows = (
        '<row r="1"><c r="A1" s="1"><v>46366</v></c></row>'
        '<row r="2"><c r="A2" s="2"><v>0.256</v></c></row>'
        '<row r="3"><c r="A3" s="3"><v>1234.5</v></c></row>'
        '<row r="4"><c r="A4" s="4"><f>A1+1</f><v>46367</v></c></row>'
        '<row r="5"><c r="A5"><f>1/3</f><v>0.33333333333333331</v></c></row>'
        '<row r="6"><c r="A6" s="5" t="inlineStr"><is><t>abc</t></is></c></row>'
    )
    write_package(os.path.join(out, "formats.xlsx"), ["Invoice"], [formats_rows], styles=styles)


if __name__ == "__main__":
    main()
