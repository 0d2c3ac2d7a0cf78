#!/usr/bin/env bash
# pendock-probe.exe under Wine's own WMI, in the build's shared prefix: COM is started, every
# drive letter gets its report, and as Wine's WMI finds no partition behind any logical disk,
# each drive's one query is answered with no object (never an error) and the drive ends
# unidentified.
#
#   probe_wine.sh WINE_RUN PROBE VERSION
#
# Exit 0: passed, 1: failed (with the probe's report), 77: skipped (no wine).
set -uo pipefail
export LC_ALL=C.UTF-8

[ $# -eq 3 ] || { echo "usage: probe_wine.sh WINE_RUN PROBE VERSION"; exit 1; }
WINE_RUN=$1 PROBE=$2 VERSION=$3

. "$(dirname "$(readlink -f "$0")")/../../support/script_support.sh"
need_tools wine

OUT=$(mktemp "${TMPDIR:-/tmp}/pendock-probe.XXXXXX")
trap 'rm -f "$OUT"' EXIT
"$WINE_RUN" "$PROBE" >"$OUT" 2>&1
RC=$?
# Wine's own notes (a system without its 32-bit half, a drive it may not read the label of) are
# not the probe's.
sed -i -e '/^wine: /d' \
    -e '/wine32 is missing\|multiarch needs\|dpkg --add-arch\|apt-get install wine32/d' "$OUT"
tr -d '\r' <"$OUT" >"$OUT.lf" && mv "$OUT.lf" "$OUT"

fail() {
    echo "FAIL: $*"
    echo "--- report ---"
    cat "$OUT"
    exit 1
}

[ "$RC" -eq 0 ] || fail "exit code $RC"
[ "$(head -n 1 "$OUT")" = "pendock-probe $VERSION" ] || fail "the first line is not the version"
grep -qxF 'C: C:' "$OUT" || fail "no report for the drive C:"
grep -q '800401F0' "$OUT" && fail "COM was not started (CO_E_NOTINITIALIZED)"

# Per drive: "L: ROOT" (the root folder, "C:" for C:), then per query its "answer" line, then
# the "result" line.
problem=$(awk '
    function fail(what) { print what; bad = 1; exit }
    NR == 1 { next }
    /^[C-Z]: / { if (drive != "" && !ended) fail(drive ": no result line")
                 drive = substr($1, 1, 1); ended = 0; queries = 0; asked = 0; next }
    drive == "" { fail("a line outside any drive: " $0) }
    /^  query   SELECT \* FROM  Win32_LogicalDiskToPartition WHERE / {
                 if (asked) fail(drive ": a query without an answer"); asked = 1; queries++; next }
    /^  query   / { fail(drive ": a query after the first, which Wine cannot answer: " $0) }
    /^  answer  0 object\(s\), Antecedent = -$/ {
                 if (!asked) fail(drive ": an answer without a query"); asked = 0; next }
    /^  result  not identified$/ {
                 if (asked || queries != 1) fail(drive ": the result before the answer"); ended = 1; next }
    { fail(drive ": not a clean answer of no object: " $0) }
    END { if (bad) exit 1
          if (drive == "") { print "no drive reported"; exit 1 }
          if (!ended) { print drive ": no result line"; exit 1 } }
' "$OUT") || fail "$problem"
echo "PASS: $(grep -c '^[C-Z]: ' "$OUT") drive(s), each answered with no object"
cat "$OUT"
