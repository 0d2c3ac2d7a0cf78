#!/usr/bin/env bash
# The real program on a virtual X display, used as a person would: the window's Next pressed
# with the keyboard, a simulated USB key plugged in, the web-shop address caught by a fake
# xdg-open first on PATH, the program's end watched.
#
#   e2e.sh PROGRAM SIMKEY ARTEFACTS SHOPHOST SCENARIO
#     key        by the keyboard alone: Enter (Next has the focus), Escape asks the close
#                question and Escape again answers No; plug the key: the address, ~3 s after
#                the plug; exit 0 ~5 s later
#     unknown    Next by its access key, a drive without USB identity first: the error dialog,
#                dismissed with the keyboard, the wizard keeps waiting; then the key as above
#
# Screenshots of the pages go to ARTEFACTS/SCENARIO/. Exit 0: passed, 1: failed, 77: skipped
# (no Xvfb, xdotool, ImageMagick or sqlite3).
set -uo pipefail

PROGRAM=$1 SIMKEY=$2 ARTEFACTS=$3 SHOPHOST=$4 SCENARIO=$5

. "$(dirname "$(readlink -f "$0")")/../support/script_support.sh"
need_tools xvfb-run xdotool import sqlite3

if [ -z "${PENDOCK_E2E_DISPLAY:-}" ]; then
    export PENDOCK_E2E_DISPLAY=1
    # Each scenario looks for a free display from its own number up, so that two scenarios
    # starting together under ctest -j2 do not race for the same one.
    case $SCENARIO in
    key) first=140 ;;
    *) first=170 ;;
    esac
    exec xvfb-run -a -n "$first" -s "-noreset -screen 0 800x600x24 -nolisten tcp" bash "$0" "$@"
fi
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

W=$(mktemp -d "${TMPDIR:-/tmp}/pendock-e2e.XXXXXX")
SHOTS="$ARTEFACTS/$SCENARIO"
rm -rf "$SHOTS"
mkdir -p "$SHOTS"
pid=""

cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    fi
    rm -rf "$W"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    if [ -f "$W/out" ]; then
        echo "--- program output ---"
        cat "$W/out"
    fi
    exit 1
}

now() { date +%s.%N; }
# elapsed FROM TO: seconds between two times, 3 decimals
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", b - a }'; }
# within VALUE LOW HIGH
within() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }
shot() {
    import -window root "$SHOTS/$1.png" 2>/dev/null || fail "screenshot $1 not taken"
}

# ---- The texts the window shows, from the database beside the program ----------------------------
DIR=$(dirname "$(readlink -f "$PROGRAM")")
LANGID=$(sed -n 's:.*<locale>\([A-Za-z]*\).*</locale>.*:\1:p' "$DIR/locale.xml")
text() { # text GROUP KEY
    sqlite3 -readonly "$DIR/locale.db" \
        "SELECT Description FROM localize WHERE ID='$2' AND GroupID='$1' AND LangID='$LANGID' LIMIT 1"
}
NEXT=$(text Restore NEXT)
ERRCAP=$(text Skin MSG_CAP_ERROR)
CONFIRMCAP=$(text Skin MSG_CAP_CONFIRM)
MNEMONIC=$(printf '%s' "$NEXT" | sed -n 's/^[^&]*&\(.\).*/\1/p' | tr '[:upper:]' '[:lower:]')
[ -n "$MNEMONIC" ] || fail "the Next button's text \"$NEXT\" has no access key"
[ -n "$ERRCAP" ] || fail "no error caption for language \"$LANGID\""

# ---- The simulated machine and the fake browser opener -------------------------------------------
"$SIMKEY" init "$W/m" || fail "simkey init"
mkdir -p "$W/bin" "$W/lock-global" "$W/lock-user"
chmod 700 "$W/lock-user"
cat >"$W/bin/xdg-open" <<EOF
#!/bin/sh
t=\$(date +%s.%N)
printf '%s\n' "\$t \$#" >>"$W/opened.calls"
printf '%s\n' "\$1" >"$W/opened.url.tmp" && mv "$W/opened.url.tmp" "$W/opened.url"
printf '%s\n' "\$t" >"$W/opened.time.tmp" && mv "$W/opened.time.tmp" "$W/opened.time"
EOF
chmod +x "$W/bin/xdg-open"

PACKAGE="QV 2024&pro#1"
EXPECTED="http://$SHOPHOST/custom-backend?q=ecommerce---usbupgrade---vendor___ACME---serial___0123456789AB---type___FLASH_DRIVE---installed___QV%202024%26pro%231"

env PATH="$W/bin:$PATH" PENDOCK_SYSFS="$W/m/sys" PENDOCK_MOUNTINFO="$W/m/mountinfo" \
    PENDOCK_LOCK_DIR_GLOBAL="$W/lock-global" PENDOCK_LOCK_DIR_USER="$W/lock-user" \
    XDG_RUNTIME_DIR="$W/lock-user" "$PROGRAM" >"$W/out" 2>&1 &
pid=$!

# windows_of PID: the visible windows of the program, one id a line
windows_of() { xdotool search --onlyvisible --pid "$pid" 2>/dev/null; }
# wait_window NAME SECONDS: prints the id of the program's visible window titled exactly NAME
wait_window() {
    local until w
    until=$(awk -v t="$(now)" -v s="$2" 'BEGIN { printf "%.3f", t + s }')
    while within "$(now)" 0 "$until"; do
        kill -0 "$pid" 2>/dev/null || fail "the program ended early"
        for w in $(windows_of); do
            local name
            name=$(xdotool getwindowname "$w" 2>/dev/null)
            if [ "$name" = "$1" ]; then
                echo "$w"
                return 0
            fi
        done
        sleep 0.1
    done
    return 1
}
running() { [ -d "/proc/$pid" ] && [ "$(awk '{ print $3 }' "/proc/$pid/stat" 2>/dev/null)" != Z ]; }

CAPTION=$(text Restore CAPTION_UPGRADE)
WIN=$(wait_window "$CAPTION" 30) || fail "no window captioned \"$CAPTION\" within 30 s"
xdotool windowfocus --sync "$WIN" || fail "cannot focus the window"
sleep 0.5
shot 1-briefing
if [ "$SCENARIO" = key ]; then
    xdotool key Return || fail "key press" # Next has the focus and is the default
else
    xdotool key "alt+$MNEMONIC" || fail "key press"
fi
sleep 1.0 # the snapshot of the drives is taken on the press
shot 2-detectkey
[ -e "$W/opened.url" ] && fail "an address was opened before any key"

if [ "$SCENARIO" = key ]; then
    # Escape asks the close question, as the close box does; its title is its caption alone.
    xdotool key Escape
    DLG=$(wait_window "$CONFIRMCAP" 10) || fail "Escape showed no dialog titled \"$CONFIRMCAP\""
    sleep 0.3
    shot 2-close-question
    xdotool windowfocus --sync "$DLG" || fail "cannot focus the dialog"
    xdotool key Escape # No
    for _ in $(seq 50); do
        windows_of | grep -qx "$DLG" || break
        sleep 0.1
    done
    windows_of | grep -qx "$DLG" && fail "the close question did not go on Escape"
    running || fail "the program ended when the close question was answered No"
    xdotool windowfocus --sync "$WIN" || true
fi

if [ "$SCENARIO" = unknown ]; then
    # An optical drive: it gets a letter, but no disk partition stands behind it, so its
    # identification gives three empty texts.
    "$SIMKEY" add-disk "$W/m" sr0 --bus sata --type 5 --parts 0 || fail "simkey add-disk"
    "$SIMKEY" mount "$W/m" sr0 "$W/m/media/CDROM" --fstype iso9660 || fail "simkey mount"
    DLG=$(wait_window "$ERRCAP" 10) || fail "no error dialog \"$ERRCAP\" within 10 s"
    sleep 0.3
    shot 2-error-dialog
    xdotool windowfocus --sync "$DLG" || fail "cannot focus the dialog"
    xdotool key Return
    for _ in $(seq 50); do
        windows_of | grep -qx "$DLG" || break
        sleep 0.1
    done
    windows_of | grep -qx "$DLG" && fail "the error dialog did not close on Return"
    sleep 2.0
    running || fail "the program ended after the dialog"
    [ -e "$W/opened.url" ] && fail "an address was opened for the drive without identity"
    if [ -n "$(windows_of | grep -vx "$WIN")" ]; then
        fail "another window opened (the drive was tried again?)"
    fi
    shot 2-still-waiting
    xdotool windowfocus --sync "$WIN" || true
fi

"$SIMKEY" plug "$W/m" --package "$PACKAGE" || fail "simkey plug"
T_PLUG=$(now)
sleep 2.2
shot 2-key-found

until_open=$(awk -v t="$T_PLUG" 'BEGIN { printf "%.3f", t + 10 }')
while [ ! -e "$W/opened.time" ] && within "$(now)" 0 "$until_open"; do
    running || fail "the program ended before opening the shop"
    sleep 0.02
done
[ -e "$W/opened.time" ] || fail "no address handed to xdg-open within 10 s of the plug"
T_OPEN=$(cat "$W/opened.time")
URL=$(cat "$W/opened.url")
DELAY=$(elapsed "$T_PLUG" "$T_OPEN")
sleep 0.6
shot 3-waitbrowser

[ "$URL" = "$EXPECTED" ] || fail "address
  got      $URL
  expected $EXPECTED"
within "$DELAY" 2.9 4.5 || fail "address received $DELAY s after the plug (2.9-4.5 s)"

until_end=$(awk -v t="$T_OPEN" 'BEGIN { printf "%.3f", t + 12 }')
while running && within "$(now)" 0 "$until_end"; do
    sleep 0.02
done
running && fail "the program still runs 12 s after opening the shop"
T_END=$(now)
wait "$pid"
RC=$?
pid=""
LINGER=$(elapsed "$T_OPEN" "$T_END")
[ "$RC" -eq 0 ] || fail "exit code $RC"
within "$LINGER" 4.0 7.0 || fail "the program ended $LINGER s after opening the shop (4-7 s)"
CALLS=$(wc -l <"$W/opened.calls")
[ "$CALLS" -eq 1 ] || fail "xdg-open started $CALLS times"
read -r _ ARGC <"$W/opened.calls"
[ "$ARGC" -eq 1 ] || fail "xdg-open got $ARGC arguments"

echo "PASS $SCENARIO: address after $DELAY s, exit 0 after $LINGER s; screenshots in $SHOTS"
