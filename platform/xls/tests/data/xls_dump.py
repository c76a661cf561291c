#!/usr/bin/python3
# Reads a workbook with outside readers and prints what they see, one fact a line, so that the
# C++ tests compare it with what they wrote.
#
#   xls_dump.py xls FILE    xlrd (and olefile for the container):
#       OLE <listdir>
#       SHEETS <name>\t<name>...
#       SIZE <nrows>\t<ncols>
#       FONT <row>\t<col>\t<name>\t<height in twips>\t<bold 0/1>   for the first two rows' first cell
#       WIDTH <col>\t<width>                                       for every column with a width
#       ROW <cell>\t<cell>...                                      every row; a cell is
#           ""  empty        s:<text>   text          n:<repr>   number
#           d:<yyyy-mm-dd hh:mm:ss>  date (to the second)     b:<0|1>    boolean      e:<code>   error
#           D:<repr>  a date xlrd will not convert (before March 1900)
#   xls_dump.py csv FILE    a CSV file (ssconvert's output): ROW lines of s:<text> cells, U+2212 as '-'
#   xls_dump.py ole FILE NAME=PATH...   each stream compared with the bytes of a file:
#       STREAM <name>\t<size>\t<same 0/1>, then LIST <listdir>
# Texts escape backslash, tab, CR and LF as \\ \t \r \n.
import csv
import sys


def esc(s):
    return s.replace("\\", "\\\\").replace("\t", "\\t").replace("\r", "\\r").replace("\n", "\\n")


def dump_xls(path):
    import olefile
    import xlrd

    ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
    print("OLE " + repr(ole.listdir()))
    ole.close()

    book = xlrd.open_workbook(path, formatting_info=True)
    print("SHEETS " + "\t".join(esc(n) for n in book.sheet_names()))
    sh = book.sheet_by_index(0)
    print("SIZE %d\t%d" % (sh.nrows, sh.ncols))
    for r in range(min(2, sh.nrows)):
        if sh.ncols == 0:
            break
        xf = book.xf_list[sh.cell_xf_index(r, 0)]
        f = book.font_list[xf.font_index]
        print("FONT %d\t0\t%s\t%d\t%d" % (r, esc(f.name), f.height, 1 if f.bold else 0))
    for c in sorted(sh.colinfo_map):
        print("WIDTH %d\t%d" % (c, sh.colinfo_map[c].width))
    for r in range(sh.nrows):
        cells = []
        for c in range(sh.ncols):
            cell = sh.cell(r, c)
            t = cell.ctype
            if t in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                cells.append("")
            elif t == xlrd.XL_CELL_TEXT:
                cells.append("s:" + esc(cell.value))
            elif t == xlrd.XL_CELL_NUMBER:
                cells.append("n:" + repr(cell.value))
            elif t == xlrd.XL_CELL_DATE:
                try:
                    d = xlrd.xldate.xldate_as_tuple(cell.value, book.datemode)
                    cells.append("d:%04d-%02d-%02d %02d:%02d:%02d" % d)
                except xlrd.xldate.XLDateError:
                    cells.append("D:" + repr(cell.value))
            elif t == xlrd.XL_CELL_BOOLEAN:
                cells.append("b:%d" % cell.value)
            elif t == xlrd.XL_CELL_ERROR:
                cells.append("e:%d" % cell.value)
            else:
                cells.append("?:%r" % cell.value)
        print("ROW " + "\t".join(cells))


def dump_csv(path):
    with open(path, newline="", encoding="utf-8") as f:
        for row in csv.reader(f):
            # gnumeric writes negative numbers with the minus sign U+2212.
            row = [v.replace("\u2212", "-") for v in row]
            print("ROW " + "\t".join(("s:" + esc(v)) if v != "" else "" for v in row))


def check_ole(path, pairs):
    import olefile

    ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
    for pair in pairs:
        name, expected_path = pair.split("=", 1)
        data = ole.openstream(name).read()
        with open(expected_path, "rb") as f:
            expected = f.read()
        print("STREAM %s\t%d\t%d" % (name, len(data), 1 if data == expected else 0))
    print("LIST " + repr(sorted(ole.listdir())))
    ole.close()


if __name__ == "__main__":
    mode, path = sys.argv[1], sys.argv[2]
    if mode == "xls":
        dump_xls(path)
    elif mode == "csv":
        dump_csv(path)
    elif mode == "ole":
        check_ole(path, sys.argv[3:])
    else:
        sys.exit("unknown mode " + mode)
