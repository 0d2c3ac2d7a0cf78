#!/usr/bin/env bash
# The Windows installer as a user meets it, in a Wine prefix of this test's own:
#
#   1. the installer carries the version record and the icon, and asks for no elevation;
#   2. an older release installed silently, its locale.xml edited by the user, then this one
#      silently over it: the program, locale.db and the uninstaller are this release's, the
#      user's locale.xml is kept, the Start-menu shortcut and the "Apps & features" entry
#      under HKCU are there, with this version;
#   3. the installed Pendock.exe opens its window, a second copy ends at once without one, and
#      an installation meanwhile is refused (exit code 2) and changes nothing;
#   4. the silent uninstall, as the entry names it, leaves no file and no registry key of it.
#
#   nsis.sh SETUP OLD_SETUP SHIPPED_EXE LOCALE_DB VERSION DRIVER WORKDIR
#
# Exit 0: passed, 1: failed (the failed step is named), 77: skipped (no wine, Xvfb or icoutils).
set -uo pipefail
export LC_ALL=C.UTF-8

USAGE="nsis.sh SETUP OLD_SETUP SHIPPED_EXE LOCALE_DB VERSION DRIVER WORKDIR"
[ $# -eq 7 ] || { echo "usage: $USAGE"; exit 1; }
mkdir -p "$7" || exit 1
SETUP=$(realpath "$1") OLD_SETUP=$(realpath "$2") EXE=$(realpath "$3") DB=$(realpath "$4")
VERSION=$5 DRIVER=$(realpath "$6") WORKDIR=$(realpath "$7")

. "$(dirname "$(readlink -f "$0")")/../support/script_support.sh"
need_tools wine wineboot wineserver xvfb-run wrestool

PREFIX="$WORKDIR/wineprefix"
use_wine_prefix "$PREFIX"

fail() {
    echo "FAIL: $*"
    exit 1
}

# ---- 1. The installer file -----------------------------------------------------------------------
# The version record's strings are UTF-16; NUL bytes dropped, they read as text.
VERSIONINFO=$(wrestool -x --raw -t 16 "$SETUP" | tr -d '\0')
for field in "FileVersion$VERSION" "ProductNamePendock" "CompanyNameQuorvento"; do
    [[ $VERSIONINFO == *"$field"* ]] || fail "step 1: the installer's version record lacks ${field}"
done
wrestool -l -t 14 "$SETUP" | grep -q . || fail "step 1: the installer has no icon"
wrestool -x --raw -t 24 "$SETUP" | grep -q 'level="asInvoker"' ||
    fail "step 1: the installer's manifest does not run it as the invoking user"

if [ -z "${PENDOCK_PACKAGE_DISPLAY:-}" ]; then
    # A fresh prefix, made without a display so that no window of Wine's shows.
    rm -rf "$PREFIX"
    env -u DISPLAY -u WAYLAND_DISPLAY wineboot --init >"$WORKDIR/wineboot.log" 2>&1 &&
        wineserver --wait && [ -f "$PREFIX/system.reg" ] ||
        fail "could not make the Wine prefix $PREFIX (see $WORKDIR/wineboot.log)"
    export PENDOCK_PACKAGE_DISPLAY=1
    exec xvfb-run -a -n 260 -s "-noreset -screen 0 800x600x24 -nolisten tcp" bash "$0" "$@"
fi

pid=""
cleanup() {
    wineserver -k 2>/dev/null
    [ -n "$pid" ] && wait "$pid" 2>/dev/null
}
trap cleanup EXIT

drv() { wine "$DRIVER" "$@" 2>"$WORKDIR/driver.err"; }
drv_error() { grep -h 'e2e_driver' "$WORKDIR/driver.err" || echo "driver failed (no message)"; }
running() { [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; }

USERDIR="$PREFIX/drive_c/users/$(id -un)"
INSTDIR="$USERDIR/AppData/Local/Programs/Pendock"
WIN_INSTDIR="C:\\users\\$(id -un)\\AppData\\Local\\Programs\\Pendock"
SHORTCUT="$USERDIR/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/Pendock.lnk"
KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Pendock'

# What the prefix holds: every file and folder, and the keys of the user's registry. Read with
# the prefix's server ended, so that the registry is on disk.
state() {
    wineserver -w
    (cd "$PREFIX/drive_c" && find . | sort)
    sed -n 's/^\(\[[^]]*\]\).*/\1/p' "$PREFIX/user.reg" | sort
}
reg_value() { # reg_value NAME: the data of a value of the entry
    wine reg query "$KEY" /v "$1" 2>/dev/null | tr -d '\r' |
        awk -v n="$1" '$1 == n { sub(/^[ \t]*[^ \t]+[ \t]+[^ \t]+[ \t]+/, ""); print }'
}
state >"$WORKDIR/before"

# ---- 2. An older release, then this one over it --------------------------------------------------
wine "$OLD_SETUP" /S || fail "step 2: the older release's installer ended with exit code $?"
[ "$(reg_value DisplayVersion)" = 1.0.0.1 ] || fail "step 2: the older release is not registered"
printf '<?xml version="1.0" encoding="UTF-8"?>\n%s\n' \
    '<localization><locale>en-US</locale></localization>' >"$INSTDIR/locale.xml"
cp "$INSTDIR/locale.xml" "$WORKDIR/user-locale.xml"
wine "$SETUP" /S || fail "step 2: the installer ended with exit code $?"

cmp -s "$INSTDIR/Pendock.exe" "$EXE" || fail "step 2: Pendock.exe is not the shipped one"
cmp -s "$INSTDIR/locale.db" "$DB" || fail "step 2: locale.db is not this release's"
cmp -s "$INSTDIR/locale.xml" "$WORKDIR/user-locale.xml" ||
    fail "step 2: the user's locale.xml was replaced"
[ -f "$INSTDIR/uninstall.exe" ] || fail "step 2: no uninstall.exe"
[ -f "$SHORTCUT" ] || fail "step 2: no Start-menu shortcut"
grep -qa 'Pendock\.exe' "$SHORTCUT" || fail "step 2: the shortcut does not lead to Pendock.exe"

check_value() { # check_value NAME EXPECTED
    local got
    got=$(reg_value "$1")
    [ "$got" = "$2" ] || fail "step 2: $1 of the entry is \"$got\", not \"$2\""
}
check_value DisplayName Pendock
check_value DisplayVersion "$VERSION"
check_value Publisher Quorvento
check_value DisplayIcon "$WIN_INSTDIR\\Pendock.exe,0"
check_value InstallLocation "$WIN_INSTDIR"
check_value UninstallString "\"$WIN_INSTDIR\\uninstall.exe\""
check_value QuietUninstallString "\"$WIN_INSTDIR\\uninstall.exe\" /S"
# The size in KiB, as the files take it
SIZE=$(($(reg_value EstimatedSize)))
FILES_KIB=$(($(du -bc "$INSTDIR"/* | tail -n 1 | cut -f1) / 1024))
[ "$SIZE" -ge "$FILES_KIB" ] && [ "$SIZE" -le $((FILES_KIB + 16)) ] ||
    fail "step 2: EstimatedSize is $SIZE KiB, the files take $FILES_KIB KiB"
echo "installed over 1.0.0.1: $VERSION in $WIN_INSTDIR, $SIZE KiB"

# ---- 3. The installed program --------------------------------------------------------------------
wine "$WIN_INSTDIR\\Pendock.exe" >"$WORKDIR/program.out" 2>&1 &
pid=$!
drv wait-window TPendockForm 40 >/dev/null || fail "step 3: $(drv_error)"

drv max-count TPendockForm 6 >"$WORKDIR/count" &
watcher=$!
wait_until 100 grep -qs watching "$WORKDIR/count"
timeout 20 wine "$WIN_INSTDIR\\Pendock.exe" >/dev/null 2>&1
RC2=$?
wait "$watcher" || fail "step 3: $(drv_error)"
[ "$RC2" -eq 0 ] || fail "step 3: the second copy ended with exit code $RC2"
[ "$(tail -n 1 "$WORKDIR/count")" = 1 ] ||
    fail "step 3: $(tail -n 1 "$WORKDIR/count") windows of Pendock while a second copy ran"
running || fail "step 3: the first copy ended"

cp "$INSTDIR/locale.db" "$WORKDIR/db-before"
wine "$SETUP" /S
RC3=$?
[ "$RC3" -eq 2 ] || fail "step 3: installing while Pendock runs ended with exit code $RC3, not 2"
cmp -s "$INSTDIR/locale.db" "$WORKDIR/db-before" ||
    fail "step 3: the refused installation changed locale.db"

drv close TPendockForm || fail "step 3: $(drv_error)"
drv wait-window TPendockDialog 10 >/dev/null || fail "step 3: no question on closing: $(drv_error)"
drv click TPendockDialog 6 || fail "step 3: $(drv_error)"
for _ in $(seq 100); do running || break; sleep 0.1; done
running && fail "step 3: Pendock still runs 10 s after closing"
wait "$pid"
RC=$?
pid=""
[ "$RC" -eq 0 ] || fail "step 3: Pendock ended with exit code $RC"
echo "the installed Pendock.exe showed its window, refused a second copy and ended"

# ---- 4. The silent uninstall, as "Apps & features" starts it -------------------------------------
QUIET=$(reg_value QuietUninstallString)
UNINSTALLER=${QUIET%\" /S}
UNINSTALLER=${UNINSTALLER#\"}
wine "$UNINSTALLER" /S || fail "step 4: the uninstaller ended with exit code $?"
# It goes on in a copy of itself in the temporary folder, which it leaves to be deleted at the
# next start of the system: wait for it to end, then restart.
wineserver -w
wineboot --restart >>"$WORKDIR/wineboot.log" 2>&1 || fail "step 4: wineboot --restart"
state >"$WORKDIR/after"
diff -u "$WORKDIR/before" "$WORKDIR/after" || fail "step 4: left behind after the uninstall (above)"
echo "PASS: installed over an older release, ran, refused a second copy, uninstalled, no trace"
