#!/usr/bin/env bash
# Pendock.exe under Wine on a virtual X display, used as a person would, with a driver program
# (e2e_driver.exe) that reads the window's controls, presses its buttons, adds a removable drive
# letter through Wine's mount manager and delivers the device-change message:
#
#   1. a fresh Wine prefix of this test's own, the program and locale.db copied into a folder
#      with a locale.xml naming one language (PENDOCK_E2E_LOCALE, default en-US);
#   2. the window shows its first page with the texts of locale.db;
#   3. a second copy started meanwhile ends at once with exit code 0 and makes no window;
#   4. Next shows the key page;
#   5. a removable drive that Wine's WMI cannot identify: the error dialog with its text, OK,
#      the wizard goes on waiting;
#   6. closing asks first: No keeps the program running, Yes ends it with exit code 0.
#
#   e2e_wine.sh PROGRAM DRIVER WORKDIR
#
# Screenshots go to WORKDIR/artefacts/. Exit 0: passed, 1: failed (the first failed step is
# named), 77: skipped (no wine, Xvfb, ImageMagick or sqlite3).
set -uo pipefail
shopt -u patsub_replacement 2>/dev/null || true
export LC_ALL=C.UTF-8

[ $# -eq 3 ] || { echo "usage: e2e_wine.sh PROGRAM DRIVER WORKDIR"; exit 1; }
mkdir -p "$3" || exit 1
# Wine wants absolute paths, for the prefix above all.
PROGRAM=$(realpath "$1") DRIVER=$(realpath "$2") WORKDIR=$(realpath "$3")
LOCALE=${PENDOCK_E2E_LOCALE:-en-US}

. "$(dirname "$(readlink -f "$0")")/../support/script_support.sh"
need_tools wine wineboot wineserver xvfb-run import sqlite3

PREFIX="$WORKDIR/wineprefix"
use_wine_prefix "$PREFIX"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", b - a }'; }
# within VALUE LOW HIGH
within() { awk -v v="$1" -v lo="$2" -v hi="$3" 'BEGIN { exit !(v >= lo && v <= hi) }'; }

if [ -z "${PENDOCK_E2E_WINE_DISPLAY:-}" ]; then
    # Outside the display: a fresh prefix, made without any X display so that no start-up
    # window of Wine's shows. Every program of the prefix then runs inside one virtual desktop
    # that Wine draws itself, captions included, as a screenshot should show them.
    T0=$(now)
    rm -rf "$PREFIX"
    if ! env -u DISPLAY -u WAYLAND_DISPLAY wineboot --init >"$WORKDIR/wineboot.log" 2>&1 ||
        ! wineserver --wait || [ ! -f "$PREFIX/system.reg" ]; then
        echo "FAIL: could not make the Wine prefix $PREFIX (see $WORKDIR/wineboot.log)"
        exit 1
    fi
    env -u DISPLAY wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
        >>"$WORKDIR/wineboot.log" 2>&1 &&
        env -u DISPLAY wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default \
            /d 800x600 /f >>"$WORKDIR/wineboot.log" 2>&1 &&
        wineserver --wait || {
        echo "FAIL: could not set the virtual desktop (see $WORKDIR/wineboot.log)"
        exit 1
    }
    echo "prefix made in $(elapsed "$T0" "$(now)") s"
    export PENDOCK_E2E_WINE_DISPLAY=1
    # A display of its own, looked for from 230 up.
    exec xvfb-run -a -n 230 -s "-noreset -screen 0 800x600x24 -nolisten tcp" bash "$0" "$@"
fi

T_START=$(now)
SHOTS="$WORKDIR/artefacts"
W="$WORKDIR/run"
rm -rf "$SHOTS" "$W"
mkdir -p "$SHOTS" "$W/app" "$W/key/Quorvento/Pendock"
pid=""
drive=""

cleanup() {
    if [ -n "$drive" ]; then
        wine "$DRIVER" remove-drive "$drive" >/dev/null 2>&1 || echo "note: $drive not removed"
    fi
    # Ends the program if a step failed while it ran, and every other process of the prefix.
    wineserver -k 2>/dev/null
    if [ -n "$pid" ]; then
        wait "$pid" 2>/dev/null
    fi
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    if [ -s "$W/program.out" ]; then
        echo "--- program output ---"
        grep -v 'wine32 is missing\|multiarch needs\|dpkg --add-arch\|apt-get install wine32' \
            "$W/program.out"
    fi
    exit 1
}

# The driver: its output on stdout, its reason on failure in $W/driver.err.
drv() { wine "$DRIVER" "$@" 2>"$W/driver.err"; }
drv_error() { grep -h 'e2e_driver' "$W/driver.err" || echo "driver failed (no message)"; }

shot() {
    sleep 0.3 # let the last paint reach the screen
    import -window root "$SHOTS/$1.png" 2>/dev/null || fail "screenshot $1 not taken"
}

running() { [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; }
# wait_window STEP CLASS SECONDS WHAT: until a window of CLASS shows; fails the STEP with WHAT
# when none does in time, or at once when the program ends meanwhile.
wait_window() {
    local until rc
    until=$(awk -v t="$(now)" -v s="$3" 'BEGIN { printf "%.3f", t + s }')
    while running; do
        drv wait-window "$2" 1 >/dev/null && return 0
        within "$(now)" 0 "$until" || fail "$1: $4 within $3 s"
    done
    wait "$pid"
    rc=$?
    pid=""
    fail "$1: the program ended (exit code $rc) while waiting for a window of class $2"
}
# The Wine processes (loader, programs, server) that belong to this test's prefix.
wine_processes() {
    local p exe
    for p in /proc/[0-9]*; do
        exe=$(readlink "$p/exe" 2>/dev/null) || continue
        case $exe in *wine*) ;; *) continue ;; esac
        tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$PREFIX" && echo "${p#/proc/}"
    done
}

# ---- The texts the window shows, from the database beside the program ----------------------------
LANGID=${LOCALE%%-*}
COUNTRY=${LOCALE#*-}
DB="$(dirname "$PROGRAM")/locale.db"
[ -f "$DB" ] || fail "no locale.db beside $PROGRAM"
text() { # text GROUP KEY: the country's own row first, else the language's
    sqlite3 -readonly "$DB" \
        "SELECT Description FROM localize WHERE ID='$2' AND GroupID='$1' AND LangID='$LANGID'
         AND (CountryID='$COUNTRY' OR CountryID IS NULL) ORDER BY CountryID IS NULL LIMIT 1"
}
# The operation word in place of the first %Operation, in lower case for the first %operation.
subst_operation() {
    local s=$1 op
    op=$(text Restore OPERATION_UPGRADE)
    s=${s/\%Operation/$op}
    op=${op,,}
    s=${s/\%operation/$op}
    printf '%s' "$s"
}
CAPTION=$(text Restore CAPTION_UPGRADE)
HEAD_BRIEFING=$(text Restore MESSAGE_BRIEFING)
BRIEFING=$(subst_operation "$(text Restore BRIEFING)")
NEXT=$(text Restore NEXT)
CANCEL=$(text Restore CANCEL)
NOKEY=$(text Restore MESSAGE_NOKEY)
ERR_USBINFO=$(subst_operation "$(text Restore ERR_CANNOTREADUSBINFO)")
WANTEXIT=$(text Restore MESSAGE_WANTEXIT)
CAP_ERROR=$(text Skin MSG_CAP_ERROR)
CAP_CONFIRM=$(text Skin MSG_CAP_CONFIRM)
for v in CAPTION HEAD_BRIEFING BRIEFING NEXT CANCEL NOKEY ERR_USBINFO WANTEXIT CAP_ERROR \
    CAP_CONFIRM; do
    [ -n "${!v}" ] || fail "locale.db has no text for $v in $LOCALE"
done

# ---- Reading the windows through the driver ------------------------------------------------------
# Lines of window-texts: kind, handle, visible, enabled, id, class, text (tab-separated).
texts_of() { # texts_of CLASS: into $W/texts
    drv window-texts "$1" >"$W/texts"
}
# has_text TEXT: a visible control (or the window's caption) shows TEXT exactly
# A caption with an access key matches with or without its "&". (The text goes through the
# environment: awk -v would turn the two characters \n into a line break.)
AWK_SAME='function bare(s) { gsub(/&/, "", s); return s }
function same(a, b) { return a == b || (index(b, "&") && bare(a) == bare(b)) }'
has_text() {
    T=$1 awk -F'\t' "$AWK_SAME"' $3 == 1 && same($7, ENVIRON["T"]) { f = 1 } END { exit !f }' \
        "$W/texts"
}
caption_is() { T=$1 awk -F'\t' '$1 == "window" && $7 == ENVIRON["T"] { f = 1 } END { exit !f }' "$W/texts"; }
# handle_of TEXT: the visible control that shows TEXT
handle_of() {
    T=$1 awk -F'\t' "$AWK_SAME"' $1 == "child" && $3 == 1 && same($7, ENVIRON["T"]) {
        print $2; exit }' "$W/texts"
}
show_texts() {
    echo "--- controls seen ---"
    cut -f1,3,5,6,7 "$W/texts" 2>/dev/null
}
# wait_texts CLASS SECONDS TEXT...: until the window shows every TEXT
wait_texts() {
    local cls=$1 until t missing
    until=$(awk -v t="$(now)" -v s="$2" 'BEGIN { printf "%.3f", t + s }')
    shift 2
    while :; do
        missing=""
        if texts_of "$cls"; then
            for t in "$@"; do has_text "$t" || missing=$t; done
            [ -z "$missing" ] && return 0
        fi
        within "$(now)" 0 "$until" || break
        sleep 0.2
    done
    show_texts
    echo "missing: $missing"
    return 1
}

# ---- 1. The program in a folder of its own, with one language ------------------------------------
cp "$PROGRAM" "$W/app/Pendock.exe" || fail "cannot copy $PROGRAM"
cp "$DB" "$W/app/locale.db" || fail "cannot copy locale.db"
printf '<?xml version="1.0" encoding="UTF-8"?>\n<localization><locale>%s</locale></localization>\n' \
    "$LOCALE" >"$W/app/locale.xml"
printf 'QV-E2E-1\n' >"$W/key/Quorvento/Pendock/package.id"

wineserver --persistent >/dev/null 2>&1 || fail "cannot start the wineserver"

wine "$W/app/Pendock.exe" >"$W/program.out" 2>&1 &
pid=$!

# ---- 2. The first page ---------------------------------------------------------------------------
wait_window "step 2" TPendockForm 40 "no window of class TPendockForm"
echo "window shown $(elapsed "$T_START" "$(now)") s after the start"
wait_texts TPendockForm 10 "$HEAD_BRIEFING" "$BRIEFING" "$NEXT" ||
    fail "step 2: the first page does not show the texts of locale.db"
caption_is "$CAPTION" || { show_texts; fail "step 2: the caption is not \"$CAPTION\""; }
has_text "$CANCEL" && { show_texts; fail "step 2: the Cancel button shows on the first page"; }
NEXT_BUTTON=$(handle_of "$NEXT")
[ -n "$NEXT_BUTTON" ] || fail "step 2: no visible control shows \"$NEXT\""
shot 1-briefing

# ---- 3. A second copy ends at once, without a window ---------------------------------------------
drv max-count TPendockForm 8 >"$W/count" &
watcher=$!
wait_until 100 grep -qs watching "$W/count" || fail "step 3: the window watcher did not start"
T2=$(now)
timeout 20 wine "$W/app/Pendock.exe" >"$W/second.out" 2>&1
RC2=$?
D2=$(elapsed "$T2" "$(now)")
wait "$watcher" || fail "step 3: $(drv_error)"
MOST=$(tail -n 1 "$W/count")
[ "$RC2" -ne 124 ] || fail "step 3: the second copy still ran after 20 s"
[ "$RC2" -eq 0 ] || fail "step 3: the second copy ended with exit code $RC2"
within "$D2" 0 6 || fail "step 3: the second copy took $D2 s to end"
[ "$MOST" = 1 ] || fail "step 3: $MOST windows of class TPendockForm seen while the second copy ran"
running || fail "step 3: the first copy ended"
echo "second copy: exit code 0 after $D2 s, no window of its own"

# ---- 4. Next: the key page -----------------------------------------------------------------------
drv click-hwnd "$NEXT_BUTTON" || fail "step 4: $(drv_error)"
wait_texts TPendockForm 10 "$NOKEY" "$CANCEL" || fail "step 4: Next did not show the key page"
has_text "$NEXT" && { show_texts; fail "step 4: the Next button still shows on the key page"; }
shot 2-detectkey

# ---- 5. A drive Wine cannot identify: the error dialog, the wizard goes on waiting ---------------
LETTERS=$(drv drives) || fail "step 5: $(drv_error)"
for l in C D E F G H I J K L M N O P Q R S T U V W X Y; do
    case $LETTERS in *"$l"*) ;; *) drive="$l:"; break ;; esac
done
[ -n "$drive" ] || fail "step 5: no free drive letter ($LETTERS)"
drv add-drive "$drive" "$W/key" >/dev/null || { drive=""; fail "step 5: $(drv_error)"; }
T_PLUG=$(now)
drv device-change TPendockForm "$drive" || fail "step 5: $(drv_error)"
wait_window "step 5" TPendockDialog 20 "no dialog after the drive $drive came"
echo "error dialog $(elapsed "$T_PLUG" "$(now)") s after the drive $drive came"
wait_texts TPendockDialog 5 "$ERR_USBINFO" ||
    fail "step 5: the dialog does not show the text of ERR_CANNOTREADUSBINFO"
caption_is "$CAP_ERROR" || { show_texts; fail "step 5: the dialog's title is not \"$CAP_ERROR\""; }
shot 3-error-dialog
drv click TPendockDialog 1 || fail "step 5: $(drv_error)"
drv wait-gone TPendockDialog 5 || fail "step 5: $(drv_error)"
running || fail "step 5: the program ended after the error dialog"
# Detection is armed again, with the drive in its snapshot: another device change must not
# bring the dialog back for the same drive.
drv device-change TPendockForm "$drive" || fail "step 5: $(drv_error)"
sleep 3
drv wait-gone TPendockDialog 0 || fail "step 5: the dialog came back for the same drive"
running || fail "step 5: the program ended while waiting"
wait_texts TPendockForm 5 "$NOKEY" "$CANCEL" || fail "step 5: the wizard left the key page"
shot 4-still-waiting

# ---- 6. Closing asks first -----------------------------------------------------------------------
drv close TPendockForm || fail "step 6: $(drv_error)"
wait_window "step 6" TPendockDialog 10 "no question on closing"
wait_texts TPendockDialog 5 "$WANTEXIT" || fail "step 6: the question is not MESSAGE_WANTEXIT"
caption_is "$CAP_CONFIRM" ||
    { show_texts; fail "step 6: the question's title is not \"$CAP_CONFIRM\""; }
shot 5-close-question
drv click TPendockDialog 7 || fail "step 6: $(drv_error)"
drv wait-gone TPendockDialog 5 || fail "step 6: $(drv_error)"
sleep 1
running || fail "step 6: the program ended although the answer was No"
wait_texts TPendockForm 5 "$NOKEY" || fail "step 6: the wizard left the key page after No"
shot 6-after-no

drv close TPendockForm || fail "step 6: $(drv_error)"
wait_window "step 6" TPendockDialog 10 "no question on the second close"
drv click TPendockDialog 6 || fail "step 6: $(drv_error)"
T_YES=$(now)
until_end=$(awk -v t="$T_YES" 'BEGIN { printf "%.3f", t + 10 }')
while running && within "$(now)" 0 "$until_end"; do sleep 0.1; done
running && fail "step 6: the program still runs 10 s after Yes"
wait "$pid"
RC=$?
pid=""
[ "$RC" -eq 0 ] || fail "step 6: exit code $RC"
echo "ended with exit code 0 $(elapsed "$T_YES" "$(now)") s after Yes"

# ---- Clean up: the drive letter, the prefix's processes ------------------------------------------
drv remove-drive "$drive" >/dev/null || fail "clean-up: $(drv_error)"
drive=""
wineserver -k 2>/dev/null
wineserver --wait 2>/dev/null
left=$(wine_processes)
[ -z "$left" ] || fail "clean-up: processes of the prefix left: $left"

echo "PASS: $(elapsed "$T_START" "$(now)") s on the display; screenshots in $SHOTS"
