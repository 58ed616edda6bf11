#!/usr/bin/env bash
# Converts a tree of four folders once folder by folder and once fanned out with GNU parallel
# and with xargs -P, as the README shows, and checks that all three wrote the same files with
# the same bytes and that a failing folder shows in the exit status.
# Usage: fanout_test.sh <tabrun> <examples folder>
set -euo pipefail
command -v parallel >/dev/null || { echo "GNU parallel is not installed (Debian package parallel)"; exit 77; }
tabrun="$1"
examples="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for part in north south east west; do
    mkdir -p "$work/tree/$part"
    for f in "$examples"/*.xls "$examples"/*.xlsx "$examples"/*.ods; do
        cp "$f" "$work/tree/$part/${part}-$(basename "$f")"
    done
done

mkdir "$work/serial"
for dir in "$work"/tree/*; do
    name="$(basename "$dir")"
    mkdir "$work/serial/$name"
    "$tabrun" "$dir" "$work/serial/$name" /quiet
done

mkdir "$work/parallel"
cd "$work"
parallel --will-cite -j4 mkdir -p parallel/{/} '&&' "$tabrun" {} parallel/{/} /quiet ::: tree/*

mkdir "$work/xargs"
printf '%s\0' "$work"/tree/* |
    xargs -0 -P4 -I{} sh -c 'mkdir -p "$2/$(basename "$1")" && "$3" "$1" "$2/$(basename "$1")" /quiet' \
        sh {} "$work/xargs" "$tabrun"

count="$(find "$work/serial" -name '*.csv' | wc -l)"
[ "$count" -eq 24 ] || { echo "expected 24 CSV files from the serial run, got $count" >&2; exit 1; }
diff -r "$work/serial" "$work/parallel"
diff -r "$work/serial" "$work/xargs"

# A damaged workbook in one folder: parallel reports the failed job in its own exit status.
printf 'not a workbook' > "$work/tree/east/broken.xlsx"
if parallel --will-cite -j4 mkdir -p again/{/} '&&' "$tabrun" {} again/{/} /quiet ::: tree/* 2>/dev/null; then
    echo "parallel did not see the failing folder" >&2
    exit 1
fi
echo "fan-out: $count CSV files, identical from serial, GNU parallel and xargs -P runs"
