#!/usr/bin/env bash
# Runs accessibility.py on an X display and a D-Bus session of its own (the session bus starts
# the accessibility bus on demand):
#   accessibility.sh PROGRAM
# Exit 0: passed, 1: failed, 77: skipped (Xvfb, D-Bus, xdotool or the AT-SPI bindings missing).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
for tool in xvfb-run dbus-run-session xdotool /usr/libexec/at-spi-bus-launcher; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIPPED: $tool is not installed (tools/install-deps installs it)"
        exit 77
    fi
done
if ! /usr/bin/python3 -c 'import pyatspi' 2>/dev/null; then
    echo "SKIPPED: python3-pyatspi is not installed (tools/install-deps installs it)"
    exit 77
fi
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
exec xvfb-run -a -n 200 -s "-screen 0 800x600x24 -nolisten tcp" \
    dbus-run-session -- /usr/bin/python3 "$here/accessibility.py" "$1" 2>&1 |
    grep -v -e 'Failed to set fd limit' -e 'Activating service' -e 'Successfully activated' \
        -e 'SpiRegistry daemon'
