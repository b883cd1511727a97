#!/usr/bin/env bash
# The Windows vrtcfg.exe under Wine: importing the sample CSV gives the
# same configuration file as the native program (kept in data/), exporting
# it gives the same text, errors reach the error file and the exit status.
set -u
launcher=$1
program=$2
data=$3
fail() { echo "FAILED: $*"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
win() { "$launcher" --winpath "$1"; }
vrtcfg() { "$launcher" "$program" "$@"; }
# The same bytes apart from the header's save time (file offsets 108..111,
# which cmp numbers from 1).
same_except_save_time() {
  [ "$(stat -c %s "$1")" = "$(stat -c %s "$2")" ] || return 1
  ! cmp -l "$1" "$2" | awk '$1 < 109 || $1 > 112 { found = 1 } END { exit !found }'
}
body() { tr -d '\r' <"$1" | tail -n +2; }

cp "$data/plant.csv" "$work/plant.csv"
vrtcfg import "$(win "$work/plant.csv")" "$(win "$work/PLANT.VRT")" >"$work/out.txt" 2>&1 ||
  fail "import: $(cat "$work/out.txt")"
same_except_save_time "$work/PLANT.VRT" "$data/plant.vrt" || fail "the imported file differs from the native one"

vrtcfg export "$(win "$work/PLANT.VRT")" "$(win "$work/BACK.CSV")" >"$work/out.txt" 2>&1 ||
  fail "export: $(cat "$work/out.txt")"
[ "$(body "$work/BACK.CSV")" = "$(body "$data/plant.csv")" ] || fail "the exported text differs"
grep -q $'\r$' "$work/BACK.CSV" || fail "the exported text does not have Windows line ends"

vrtcfg import "$(win "$work/BACK.CSV")" "$(win "$work/AGAIN.VRT")" >"$work/out.txt" 2>&1 ||
  fail "import of the export: $(cat "$work/out.txt")"
same_except_save_time "$work/AGAIN.VRT" "$data/plant.vrt" || fail "the re-imported file differs"

# A save over an existing file replaces it.
vrtcfg import "$(win "$work/BACK.CSV")" "$(win "$work/AGAIN.VRT")" >/dev/null 2>&1 || fail "saving over a file"
same_except_save_time "$work/AGAIN.VRT" "$data/plant.vrt" || fail "the replaced file differs"

{ cat "$data/plant.csv"; echo "13,NOBODY,Unsigned,1,300,Disabled,0,DIT:0,1"; } >"$work/bad.csv"
vrtcfg import "$(win "$work/bad.csv")" "$(win "$work/BAD.VRT")" >"$work/out.txt" 2>&1
status=$?
[ $status = 1 ] || fail "an import with errors ended with $status"
grep -q 'Line Number  28 : DEVICE NAME  not found. Line ignored!' "$work/out.txt" || fail "error not on stderr"
[ "$(tr -d '\r' <"$work/VRTDIDW.ERR")" = "Line Number  28 : DEVICE NAME  not found. Line ignored!" ] ||
  fail "error file: $(cat "$work/VRTDIDW.ERR")"

vrtcfg check "$(win "$work/PLANT.VRT")" >"$work/out.txt" 2>&1 || fail "check: $(cat "$work/out.txt")"
grep -q '0 problems found' "$work/out.txt" || fail "check output: $(cat "$work/out.txt")"
vrtcfg dump "$(win "$work/PLANT.VRT")" >"$work/out.txt" 2>&1 || fail "dump"
grep -q 'port COM25: (byte 24, value 24)' "$work/out.txt" || fail "dump output"

vrtcfg export "$(win "$work/NONE.VRT")" "$(win "$work/X.CSV")" >"$work/out.txt" 2>&1
status=$?
[ $status = 2 ] || fail "a missing file ended with $status"
grep -q 'cannot read' "$work/out.txt" || fail "no message for a missing file"
echo "1 passed, 0 failed"
