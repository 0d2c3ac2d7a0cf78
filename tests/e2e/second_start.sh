#!/usr/bin/env bash
# A second start of the program on a virtual X display with a session bus of its own. The first
# copy's window is covered by another program's window, which has the input focus; then a second
# copy starts. It must end at once with exit code 0, say nothing and show no window, and the
# first copy's window must then be on top with the input focus: the second copy asked the first
# over the bus. The same once more while the first copy shows its close question, which is then
# what comes to the front. (No window manager runs on the display, so there is no minimised
# state to leave; with one, the request goes through it.)
#
#   second_start.sh PROGRAM
#
# Exit 0: passed, 1: failed, 77: skipped (Xvfb, D-Bus, xdotool, x11-utils or sqlite3 missing).
set -uo pipefail

PROGRAM=$(realpath "$1")

. "$(dirname "$(readlink -f "$0")")/../support/script_support.sh"
need_tools xvfb-run dbus-run-session gdbus xdotool xmessage xwininfo sqlite3

if [ -z "${PENDOCK_SECOND_START_DISPLAY:-}" ]; then
    export PENDOCK_SECOND_START_DISPLAY=1
    # The bus says it cannot raise its file limit, which is nothing to the test.
    exec xvfb-run -a -n 200 -s "-noreset -screen 0 800x600x24 -nolisten tcp" \
        dbus-run-session -- bash "$0" "$@" 2> >(grep -v 'Failed to set fd limit' >&2)
fi
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

W=$(mktemp -d "${TMPDIR:-/tmp}/pendock-second.XXXXXX")
mkdir -p "$W/lock-global" "$W/lock-user"
chmod 700 "$W/lock-user"
pid="" cover=""

cleanup() {
    for p in $pid $cover; do
        kill -KILL "$p" 2>/dev/null
        wait "$p" 2>/dev/null
    done
    rm -rf "$W"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    for f in first second; do
        if [ -s "$W/$f.out" ]; then
            echo "--- output of the $f copy ---"
            cat "$W/$f.out"
        fi
    done
    exit 1
}

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# The program with lock folders of its own, so that it never meets a copy running elsewhere.
# ($! of "${RUN[@]}" & is then the program's own process id.)
RUN=(env PENDOCK_LOCK_DIR_GLOBAL="$W/lock-global" PENDOCK_LOCK_DIR_USER="$W/lock-user"
    XDG_RUNTIME_DIR="$W/lock-user" "$PROGRAM")

DIR=$(dirname "$PROGRAM")
LANGID=$(sed -n 's:.*<locale>\([A-Za-z]*\).*</locale>.*:\1:p' "$DIR/locale.xml" 2>/dev/null)
CONFIRMCAP=$(sqlite3 -readonly "$DIR/locale.db" "SELECT Description FROM localize
    WHERE ID='MSG_CAP_CONFIRM' AND GroupID='Skin' AND LangID='${LANGID:-en}' LIMIT 1")
[ -n "$CONFIRMCAP" ] || fail "no caption for the close question in $DIR/locale.db"

# The id of the visible window of process $1 (titled $2 when given), in hex as xwininfo has it.
window_of() {
    local w
    for w in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
        if [ $# -lt 2 ] || [ "$(xdotool getwindowname "$w" 2>/dev/null)" = "$2" ]; then
            printf '0x%x\n' "$w"
            return 0
        fi
    done
    return 1
}
focused() { printf '0x%x' "$(xdotool getwindowfocus -f 2>/dev/null)"; }
# on_top A B: window A is above window B (xwininfo lists the root's children from the top).
on_top() {
    xwininfo -root -children 2>/dev/null | awk -v a="$1" -v b="$2" '
        $1 == a { pa = NR } $1 == b { pb = NR } END { exit !(pa && pb && pa < pb) }'
}
in_front() { [ "$(focused)" = "$1" ] && on_top "$1" "$COVER"; }
name_owned() {
    gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
        --method org.freedesktop.DBus.NameHasOwner example.quorvento.Pendock 2>/dev/null |
        grep -q true
}

# cover_up: another program's window over everything, with the input focus.
cover_up() {
    xdotool windowraise "$COVER" && xdotool windowfocus --sync "$COVER" ||
        fail "$1: cannot raise and focus the cover window"
    wait_until 100 eval '[ "$(focused)" = "$COVER" ] && on_top "$COVER" "$WIN"' ||
        fail "$1: the cover window did not come on top with the focus"
}

# second_start STEP TARGET: a second copy ends at once with exit code 0, silent and without a
# window, and TARGET is in front afterwards.
second_start() {
    local t0 second rc
    t0=$(now)
    "${RUN[@]}" >"$W/second.out" 2>&1 &
    second=$!
    while kill -0 "$second" 2>/dev/null; do
        window_of "$second" >/dev/null && fail "$1: the second copy showed a window"
        within_limit "$t0" 20 || { kill -KILL "$second"; fail "$1: the second copy ran for 20 s"; }
        sleep 0.05
    done
    wait "$second"
    rc=$?
    [ "$rc" -eq 0 ] || fail "$1: the second copy ended with exit code $rc"
    [ -s "$W/second.out" ] && fail "$1: the second copy wrote something"
    echo "$1: the second copy ended with exit code 0 after $(elapsed "$t0" "$(now)") s"
    wait_until 100 in_front "$2" ||
        fail "$1: the first copy's window is not in front 10 s later" \
            "(focus $(focused), window $2, cover $COVER)"
    kill -0 "$pid" 2>/dev/null || fail "$1: the first copy ended"
}
within_limit() { awk -v a="$1" -v b="$(now)" -v s="$2" 'BEGIN { exit !(b - a < s) }'; }

# ---- The first copy, and a window of another program over it -------------------------------------
"${RUN[@]}" >"$W/first.out" 2>&1 &
pid=$!
wait_until 300 eval 'WIN=$(window_of "$pid")' || fail "the first copy showed no window in 30 s"
wait_until 100 name_owned || fail "the first copy did not take its name on the session bus"
xmessage -geometry 800x600+0+0 "another program" >/dev/null 2>&1 &
cover=$!
# xmessage does not name its process on its window; it is the only one on this display.
cover_window() {
    local w
    w=$(xdotool search --onlyvisible --class xmessage 2>/dev/null | head -n 1)
    [ -n "$w" ] && printf '0x%x\n' "$w"
}
wait_until 100 eval 'COVER=$(cover_window)' || fail "no cover window"

# ---- 1. The wizard's window comes to the front ---------------------------------------------------
cover_up "step 1"
second_start "step 1" "$WIN"

# ---- 2. With the close question open, the question comes to the front ----------------------------
xdotool windowfocus --sync "$WIN" && xdotool key Escape || fail "step 2: cannot press Escape"
wait_until 100 eval 'DLG=$(window_of "$pid" "$CONFIRMCAP")' ||
    fail "step 2: Escape showed no close question titled \"$CONFIRMCAP\""
cover_up "step 2"
second_start "step 2" "$DLG"

echo "PASS"
