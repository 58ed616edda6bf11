#!/usr/bin/env bash
# tabrun on workbooks written by report generators (xlsxwriter and openpyxl through python3):
# their formulas come out as the spreadsheet application shows them after calculating, and
# what cannot be calculated is named on standard error. Exit 77 (skipped) without the modules.
set -euo pipefail
tabrun=$1
python=/usr/bin/python3
"$python" -c 'import xlsxwriter, openpyxl' 2>/dev/null || exit 77
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$python" - <<'PY'
import xlsxwriter, openpyxl
# xlsxwriter stores 0 as every result and asks for a full calculation on load.
wb = xlsxwriter.Workbook('xw.xlsx')
ws = wb.add_worksheet('Report')
date = wb.add_format({'num_format': 'yyyy-mm-dd'})
ws.write_row(0, 0, [1, 2, 3])
ws.write_formula('A2', '=SUM(A1:C1)')
ws.write_formula('B2', '=A1&"x"')
ws.write_formula('C2', '=AVERAGE(A1:C1)*2')
ws.write_array_formula('A3:C3', '{=A1:C1*10}')
ws.write_formula('A4', '=VLOOKUP(2,Data!A1:B3,2,FALSE)')
ws.write_formula('B4', '=DATE(2024,1,31)+1', date)
ws.write_formula('C4', '=TEXT(1234.5,"#,##0.00")')
ws.write_formula('A5', '=Total*2')
ws.write_formula('B5', '=COUNTIF(Data!B1:B3,"b*")')
ws.write_formula('C5', '=IF(A2>5,"big","small")')
wb.define_name('Total', '=Report!$A$2')
data = wb.add_worksheet('Data')
for r, (k, v) in enumerate([(1, 'apple'), (2, 'banana'), (3, 'berry')]):
    data.write(r, 0, k)
    data.write(r, 1, v)
wb.close()

# openpyxl stores no results at all.
wb = openpyxl.Workbook()
ws = wb.active
ws.title = 'Sheet'
ws['A1'], ws['B1'], ws['C1'] = 1, 2, 3
ws['A2'] = '=SUM(A1:C1)'
ws['B2'] = '=IF(A1>0,"pos","neg")'
ws['C2'] = '=NOSUCHFUNCTION(1)'
ws['A3'] = '=A3+1'
ws['B3'] = '=ROUND(2.675,2)'
ws['C3'] = '=1/0'
wb.save('op.xlsx')
PY

fail() { echo "recalc_test: $*" >&2; exit 1; }
expect() {  # file, expected text (records joined by \n; CR LF added)
    local want
    want=$(printf '%s\n' "$2" | sed 's/$/\r/')
    [ "$(cat "$1")" == "$want" ] || fail "$1 is $(cat -A "$1"), expected $(printf '%s' "$want" | cat -A)"
}

"$tabrun" xw.xlsx out 2> xw.err || fail "xw.xlsx did not convert: $(cat xw.err)"
expect out/Report.csv "1,2,3
6,1x,4
10,20,30
banana,2024-02-01,\"1,234.50\"
12,2,big"
[ ! -s xw.err ] || fail "unexpected notes for xw.xlsx: $(cat xw.err)"

"$tabrun" op.xlsx out2 2> op.err || fail "op.xlsx did not convert: $(cat op.err)"
expect out2/Sheet.csv "1,2,3
6,pos,#NAME?
0,2.68,#DIV/0!"
grep -q '"op.xlsx", sheet "Sheet": 1 formula could not be calculated and had no stored result.' op.err ||
    fail "the note is missing: $(cat op.err)"
[ "$(wc -l < op.err)" -eq 1 ] || fail "expected one note: $(cat op.err)"
echo "recalc_test: ok"
