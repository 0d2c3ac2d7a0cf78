#!/usr/bin/env bash
# Runs accessibility.py on an X display and a D-Bus session of its own (the session bus starts
# the accessibility bus on demand):
#   accessibility.sh PROGRAM
# Exit 0: passed, 1: failed, 77: skipped (Xvfb, D-Bus, xdotool or the AT-SPI bindings missing).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$(dirname "$(readlink -f "$0")")/../support/script_support.sh"
need_tools Xvfb dbus-run-session xdotool /usr/libexec/at-spi-bus-launcher
if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
    echo "SKIPPED: python3-pyatspi is not installed (tools/install-deps installs it)"
    exit 77
fi
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

# The X server picks a free display itself and says which: no race with other servers. It
# never resets: the accessibility bus launcher and the test connect and leave before the
# program does, and a server regenerating under a connecting client has lost that client.
out=$(mktemp)
exec 3< <(Xvfb -displayfd 1 -noreset -screen 0 800x600x24 -nolisten tcp 2>/dev/null & echo "pid $!")
read -r _ xvfb <&3
read -r -t 10 number <&3 || { echo "FAIL: Xvfb did not start"; kill "$xvfb" 2>/dev/null; exit 1; }
trap 'kill "$xvfb" 2>/dev/null; rm -f "$out"' EXIT
# Only a display that answers a client is ready for the program.
display_answers() { DISPLAY=:$number xdotool getdisplaygeometry >/dev/null 2>&1; }
if ! wait_until 50 display_answers; then
    echo "FAIL: Xvfb said display :$number but does not answer there" \
         "($(kill -0 "$xvfb" 2>/dev/null && echo running || echo gone))"
    exit 1
fi
DISPLAY=:$number dbus-run-session -- /usr/bin/python3 "$here/accessibility.py" "$1" >"$out" 2>&1
rc=$?
if [ $rc -ne 0 ] && ! kill -0 "$xvfb" 2>/dev/null; then
    echo "note: the X server on :$number was gone when the test ended"
fi
# D-Bus and the registry say what they start; the rest is the test's own.
grep -v -e 'Failed to set fd limit' -e 'Activating service' -e 'Successfully activated' \
    -e 'SpiRegistry daemon' "$out"
exit $rc
