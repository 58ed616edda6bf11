#!/usr/bin/env bash
# The Windows build's tests under Wine: the platform tests, the tabrun process tests against
# tabrun.exe, Windows path cases, and a sweep over tests/data/corpus that compares every CSV
# file tabrun.exe writes with the Linux build's, byte for byte.
# Usage: tests/windows/wine_test.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
wine=$(command -v wine64 || { [ -x /usr/lib/wine/wine64 ] && echo /usr/lib/wine/wine64; } || true)
if [ -z "$wine" ]; then
    echo "SKIPPED: the Windows tests need wine64, which is not installed (scripts/setup installs it)."
    exit 0
fi
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

# A private prefix under the build folder, booted once and kept between runs.
export WINEPREFIX="$windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i >/dev/null 2>&1 || true
fi
"$wineserver" -p 300  # one server for the whole run
trap '"$wineserver" -k 2>/dev/null || true' EXIT

tabrun_exe="$windows/cli/tabrun.exe"
work=$(mktemp -d)
trap 'rm -rf "$work"; "$wineserver" -k 2>/dev/null || true' EXIT
passed=0
failed=0
pass() { passed=$((passed + 1)); echo "PASS: $1"; }
fail() { failed=$((failed + 1)); echo "FAIL: $1"; }
# Windows path of a Linux path, through the Z: drive that maps /.
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# 1. The platform seams' tests, built for Windows.
if "$wine" "$windows/tests/platform/tabulon_platform_tests.exe" >"$work/platform.log" 2>&1; then
    pass "platform tests"
else
    cat "$work/platform.log"; fail "platform tests"
fi

# 2. The tabrun process tests, the same sources as on Linux, against tabrun.exe.
if TABRUN_BINARY="$tabrun_exe" TABRUN_RUNNER="$wine" "$linux/tests/cli/tabrun_process_tests" >"$work/process.log" 2>&1; then
    pass "process tests ($(sed -n 's/^\[  PASSED  \] //p' "$work/process.log"))"
else
    grep -E '^\[  FAILED|Failure|Expected|Which is' "$work/process.log" | head -40; fail "process tests"
fi

# 3. Windows paths.
run() { "$wine" "$tabrun_exe" "$@" >"$work/out.txt" 2>"$work/err.txt"; echo $?; }
mkdir -p "$work/in/Données Папка" "$work/out"
python3 "$here/make_book.py" "$work/in/Book.xlsx" Sheet1 Data
cp "$work/in/Book.xlsx" "$work/in/Données Папка/Tableau €.xlsx"

[ "$(run "$(winpath "$work/in/Book.xlsx")" "$(winpath "$work/out/drive")")" = 0 ] && [ -f "$work/out/drive/Data.csv" ] \
    && pass "drive letter and backslashes" || fail "drive letter and backslashes: $(cat "$work/err.txt")"

[ "$(run "$work/in/Données Папка" "$(winpath "$work/out")\\")" = 0 ] && [ "$(cat "$work/out/Tableau €/Sheet1.csv")" = $'Sheet1\r\n1\r' ] \
    && pass "non-ASCII folder and file names" || fail "non-ASCII folder and file names: $(cat "$work/err.txt")"

# Naming modes and /overwrite=0 on Windows paths: book and sheet names, running numbers,
# and an existing CSV file kept.
mkdir -p "$work/out/named"
printf 'kept' >"$work/out/named/2.csv"
[ "$(run "$(winpath "$work/in/Book.xlsx")" "$(winpath "$work/out/named")" /name=2)" = 0 ] \
    && [ "$(run "$(winpath "$work/in/Book.xlsx")" "$(winpath "$work/out/named")" /name=3 /overwrite=0)" = 0 ] \
    && [ -f "$work/out/named/Book_Data.csv" ] && [ -f "$work/out/named/1.csv" ] && [ "$(cat "$work/out/named/2.csv")" = kept ] \
    && pass "naming modes and /overwrite=0" || fail "naming modes and /overwrite=0: $(ls "$work/out/named" | tr '\n' '|') $(cat "$work/err.txt")"

python3 "$here/make_book.py" "$work/in/Reserved.xlsx" CON "nul.txt" "a*b?c" "Lpt1 " "tab	name"
[ "$(run "$work/in/Reserved.xlsx" "$work/out/reserved")" = 0 ] \
    && [ "$(cd "$work/out/reserved" && ls | sort | tr '\n' '|')" = "CON_.csv|Lpt1_ .csv|abc.csv|nul_.txt.csv|tabname.csv|" ] \
    && pass "forbidden characters and reserved device names in sheet names" \
    || fail "reserved sheet names: $(ls "$work/out/reserved" 2>&1 | tr '\n' '|') $(cat "$work/err.txt")"

mkdir -p "$work/hidden" "$work/out/hidden"
cp "$work/in/Book.xlsx" "$work/hidden/Visible.xlsx"
cp "$work/in/Book.xlsx" "$work/hidden/Secret.xlsx"
"$wine" cmd /c attrib +h "$(winpath "$work/hidden/Secret.xlsx")" >/dev/null 2>&1
if "$wine" cmd /c attrib "$(winpath "$work/hidden/Secret.xlsx")" 2>/dev/null | grep -q ' H '; then
    [ "$(run "$work/hidden" "$work/out/hidden")" = 0 ] && [ -d "$work/out/hidden/Visible" ] && [ ! -e "$work/out/hidden/Secret" ] \
        && [ "$(run "$work/hidden/Secret.xlsx" "$work/out/hidden")" = 2 ] \
        && pass "a file with the hidden attribute is left out" || fail "hidden attribute: $(cat "$work/err.txt")"
else
    echo "NOTE: this file system keeps no DOS attributes for Wine; the hidden-attribute case is not run."
fi

# 4. The corpus: every CSV file byte for byte as the Linux build writes it (reserved device
# names aside, which Windows builds name with "_").
sweep_ok=1
for format in xls xlsx xlsm xlsb ods; do
    mkdir -p "$work/linux-$format" "$work/windows-$format"
    "$linux/cli/tabrun" "$root/tests/data/corpus/$format" "$work/linux-$format" /quiet >/dev/null 2>&1
    "$wine" "$tabrun_exe" "$root/tests/data/corpus/$format" "$work/windows-$format" /quiet >/dev/null 2>&1
done
if ! python3 - "$work" <<'PY'
import os, re, sys
work = sys.argv[1]
reserved = re.compile(r"^(con|prn|aux|nul|com[1-9]|lpt[1-9]) *$", re.I)
def windows_name(name):
    stem = name.split(".", 1)[0]
    if reserved.match(stem):
        end = len(stem.rstrip(" "))
        return name[:end] + "_" + name[end:]
    return name
# Workbooks whose formulas call the clock or random numbers (NOW, TODAY, RAND) give other
# text on every run: their files must exist on both sides, their bytes are not compared.
volatile = ("phpss__explicitdate", "sheetjs__formula_stress_test")
def same(rel, a, b):
    return rel.split(os.sep, 1)[0] in volatile or open(a, "rb").read() == open(b, "rb").read()
bad = files = 0
for fmt in ("xls", "xlsx", "xlsm", "xlsb", "ods"):
    lin, win = os.path.join(work, "linux-" + fmt), os.path.join(work, "windows-" + fmt)
    for folder, _, names in os.walk(lin):
        for name in names:
            files += 1
            rel = os.path.relpath(os.path.join(folder, name), lin)
            other = os.path.join(win, os.path.dirname(rel), windows_name(name))
            if not os.path.exists(other) or not same(rel, other, os.path.join(folder, name)):
                bad += 1
                print("differs:", fmt, rel)
    count = sum(len(n) for _, _, n in os.walk(win))
    linux_count = sum(len(n) for _, _, n in os.walk(lin))
    if count != linux_count:
        bad += 1
        print("%s: %d files from tabrun.exe, %d from tabrun" % (fmt, count, linux_count))
print("corpus sweep: %d CSV files compared, %d differences" % (files, bad))
sys.exit(1 if bad or files == 0 else 0)
PY
then sweep_ok=0; fi
[ $sweep_ok = 1 ] && pass "corpus sweep" || fail "corpus sweep"

echo "windows: $passed passed, $failed failed"
[ $failed = 0 ]
