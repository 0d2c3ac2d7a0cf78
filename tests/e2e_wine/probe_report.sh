#!/usr/bin/env bash
# The support probe's report against the wizard's address, for the same drive under the same WMI
# stand-in, from the files e2e_wine.sh leaves in WORKDIR: address.txt (the address the http
# handler received), key-drive.txt (the key's letter), probe.txt (pendock-probe's output).
#
#   probe_report.sh WORKDIR
#
# The probe must have identified the key's letter with the vendor, product and serial texts the
# address carries. Exit 0: they agree, 1: they do not (what differs is named).
set -uo pipefail
W=$1
for f in address.txt key-drive.txt probe.txt; do
    [ -s "$W/$f" ] || { echo "FAIL: no $W/$f (did e2e_wine_standin run?)"; exit 1; }
done
address=$(cat "$W/address.txt")
letter=$(cat "$W/key-drive.txt")
value() { # value NAME: the segment NAME___VALUE of the address's query
    awk -v n="$1" 'BEGIN { RS = "---" } index($0, n "___") == 1 { sub(/^[^_]*___/, ""); sub(/\n$/, ""); print; exit }' <<<"${address#*\?q=}"
}
vendor=$(value vendor) product=$(value type) serial=$(value serial)
# The probe's lines for the key, from "L: ..." up to the next drive's line (the Windows program
# ends its lines with CR LF).
block=$(tr -d '\r' <"$W/probe.txt" |
    awk -v l="$letter:" '$1 == l { on = 1; print; next } /^[C-Z]: / { on = 0 } on')
echo "--- pendock-probe for $letter: ---"
echo "$block"
if grep -q '0x800401F0' <<<"$block"; then
    echo "FAIL: pendock-probe could not use COM (0x800401F0, CO_E_NOTINITIALIZED): its COM start-up"
    exit 1
fi
want="  result  vendor \"$vendor\", product \"$product\", serial \"$serial\""
grep -qxF "$want" <<<"$block" || { echo "FAIL: the probe's result is not: $want"; exit 1; }
[ "$(grep -c '^  answer  1 object(s)' <<<"$block")" -eq 3 ] ||
    { echo "FAIL: the probe's three queries did not each find one object"; exit 1; }
echo "PASS: the probe identifies $letter: as the wizard's address does ($address)"
