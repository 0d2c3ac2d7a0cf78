#!/usr/bin/env bash
# The Windows installer as a user meets it, in a Wine prefix of this test's own, for a German
# and a French user (Wine takes the display language from the locale, made here with localedef):
#
#   1. the installer carries the version record and the icon, and asks for no elevation;
#   2. silently, for the German user: an older release installs locale.xml with de-DE; the user
#      edits it; this release installed silently over it keeps it; the program, the probe,
#      locale.db and the uninstaller are this release's, the Start-menu shortcut and the "Apps &
#      features" entry under HKCU are there, with this version, the install date and the help
#      link; the older installer then refuses to replace this newer version (exit code 3);
#      "/LANG=fr-FR" writes fr-FR;
#   3. the installed Pendock.exe opens its window, a second copy ends at once without one, and
#      an installation and an uninstallation meanwhile are refused (exit code 2) and change
#      nothing;
#   4. the silent uninstall, as the entry names it, leaves no file and no registry key of it,
#      without the restart that only an administrator's deletions wait for;
#   5. the French user's silent installation writes fr-FR; then interactively, driven through
#      its windows' controls: the French user's installation offers Français and writes fr-FR; the German user's update over it, started with
#      "/LANG=de-DE", offers Deutsch and writes de-DE; the uninstaller, started as the entry
#      names it, speaks German and leaves no trace. The pages are photographed into
#      WORKDIR/shots.
#
#   nsis.sh SETUP OLD_SETUP SHIPPED_EXE SHIPPED_PROBE LOCALE_DB VERSION DRIVER WORKDIR
#
# Exit 0: passed, 1: failed (the failed step is named), 77: skipped (no wine, Xvfb, icoutils,
# ImageMagick or localedef).
set -uo pipefail
export LC_ALL=C.UTF-8

USAGE="nsis.sh SETUP OLD_SETUP SHIPPED_EXE SHIPPED_PROBE LOCALE_DB VERSION DRIVER WORKDIR"
[ $# -eq 8 ] || { echo "usage: $USAGE"; exit 1; }
mkdir -p "$8" || exit 1
SETUP=$(realpath "$1") OLD_SETUP=$(realpath "$2") EXE=$(realpath "$3") PROBE=$(realpath "$4")
DB=$(realpath "$5") VERSION=$6 DRIVER=$(realpath "$7") WORKDIR=$(realpath "$8")

. "$(dirname "$(readlink -f "$0")")/../support/script_support.sh"
need_tools wine wineboot wineserver xvfb-run wrestool import localedef

PREFIX="$WORKDIR/wineprefix"
use_wine_prefix "$PREFIX"

fail() {
    echo "FAIL: $*"
    exit 1
}

# The users' locales, made once into the work folder.
export LOCPATH="$WORKDIR/locales"
mkdir -p "$LOCPATH"
for locale in de_DE fr_FR; do
    [ -d "$LOCPATH/$locale.UTF-8" ] || localedef -i "$locale" -f UTF-8 "$LOCPATH/$locale.UTF-8" ||
        fail "could not make the locale $locale.UTF-8"
done
german() { LC_ALL=de_DE.UTF-8 "$@"; }
french() { LC_ALL=fr_FR.UTF-8 "$@"; }

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
    # A fresh prefix, made without a display so that no window of Wine's shows. HKCU\Console
    # exists, as on any Windows (the console's settings; Wine makes it when a console window
    # first shows, here the uninstaller's batch file).
    rm -rf "$PREFIX"
    env -u DISPLAY -u WAYLAND_DISPLAY wineboot --init >"$WORKDIR/wineboot.log" 2>&1 &&
        wine reg add 'HKCU\Console' /f >>"$WORKDIR/wineboot.log" 2>&1 &&
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

# ---- 2. Silently, for the German user: an older release, then this one over it ------------------
code() { sed -n 's:.*<locale>\(.*\)</locale>.*:\1:p' "$INSTDIR/locale.xml" 2>/dev/null; }
german wine "$OLD_SETUP" /S || fail "step 2: the older release's installer ended with exit code $?"
[ "$(reg_value DisplayVersion)" = 1.0.0.1 ] || fail "step 2: the older release is not registered"
[ "$(code)" = de-DE ] || fail "step 2: the German user's locale.xml names \"$(code)\", not de-DE"
printf '<?xml version="1.0" encoding="UTF-8"?>\n%s\n' \
    '<localization><locale>en-US</locale></localization>' >"$INSTDIR/locale.xml"
cp "$INSTDIR/locale.xml" "$WORKDIR/user-locale.xml"
DAY_BEFORE=$(date +%Y%m%d)
german wine "$SETUP" /S || fail "step 2: the installer ended with exit code $?"
DAY_AFTER=$(date +%Y%m%d)

cmp -s "$INSTDIR/Pendock.exe" "$EXE" || fail "step 2: Pendock.exe is not the shipped one"
cmp -s "$INSTDIR/pendock-probe.exe" "$PROBE" || fail "step 2: pendock-probe.exe is not the shipped one"
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
check_value UninstallString "\"$WIN_INSTDIR\\uninstall.exe\" _?=$WIN_INSTDIR"
check_value QuietUninstallString "\"$WIN_INSTDIR\\uninstall.exe\" /S _?=$WIN_INSTDIR"
check_value HelpLink https://quorvento.example/pendock
# German: the uninstaller's language too
check_value Language 1031
INSTALLED_ON=$(reg_value InstallDate)
[ "$INSTALLED_ON" = "$DAY_BEFORE" ] || [ "$INSTALLED_ON" = "$DAY_AFTER" ] ||
    fail "step 2: InstallDate is \"$INSTALLED_ON\", not today, $DAY_AFTER"
# The size in KiB, as the files take it
SIZE=$(($(reg_value EstimatedSize)))
FILES_KIB=$(($(du -bc "$INSTDIR"/* | tail -n 1 | cut -f1) / 1024))
[ "$SIZE" -ge "$FILES_KIB" ] && [ "$SIZE" -le $((FILES_KIB + 16)) ] ||
    fail "step 2: EstimatedSize is $SIZE KiB, the files take $FILES_KIB KiB"

cp "$INSTDIR/locale.db" "$WORKDIR/db-before"
german wine "$OLD_SETUP" /S
RC=$?
[ "$RC" -eq 3 ] || fail "step 2: the older installer over this version ended with $RC, not 3"
[ "$(reg_value DisplayVersion)" = "$VERSION" ] && cmp -s "$INSTDIR/locale.db" "$WORKDIR/db-before" ||
    fail "step 2: the older installer replaced this version"

german wine "$SETUP" /S /LANG=fr-FR || fail "step 2: the installer with /LANG ended with exit code $?"
[ "$(code)" = fr-FR ] || fail "step 2: /LANG=fr-FR gave locale.xml \"$(code)\""
echo "silently: de-DE for the German user, an edit kept over 1.0.0.1, 3 from the older" \
    "installer, fr-FR by /LANG; $VERSION in $WIN_INSTDIR, $SIZE KiB"

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

wine "$SETUP" /S
RC3=$?
[ "$RC3" -eq 2 ] || fail "step 3: installing while Pendock runs ended with exit code $RC3, not 2"
cmp -s "$INSTDIR/locale.db" "$WORKDIR/db-before" ||
    fail "step 3: the refused installation changed locale.db"
# The uninstaller, as the entry starts it silently
QUIET=$(reg_value QuietUninstallString)
UNINSTALLER=${QUIET%%\" *}
UNINSTALLER=${UNINSTALLER#\"}
wine "$UNINSTALLER" /S "_?=$WIN_INSTDIR"
RC3=$?
[ "$RC3" -eq 2 ] || fail "step 3: uninstalling while Pendock runs ended with exit code $RC3, not 2"
[ -f "$INSTDIR/Pendock.exe" ] && [ -f "$INSTDIR/uninstall.exe" ] && [ -n "$(reg_value DisplayName)" ] ||
    fail "step 3: the refused uninstallation removed something"

drv close TPendockForm || fail "step 3: $(drv_error)"
drv wait-window TPendockDialog 10 >/dev/null || fail "step 3: no question on closing: $(drv_error)"
drv click TPendockDialog 6 || fail "step 3: $(drv_error)"
wait_until 100 eval '! running' || fail "step 3: Pendock still runs 10 s after closing"
wait "$pid"
RC=$?
pid=""
[ "$RC" -eq 0 ] || fail "step 3: Pendock ended with exit code $RC"
echo "the installed Pendock.exe showed its window, refused a second copy, an installation and" \
    "an uninstallation, and ended"

# ---- 4. The silent uninstall, as "Apps & features" starts it -------------------------------------
# What is left to end after the uninstaller is the batch file that deletes its file: wait for
# everything to end, without a restart of the system.
wine "$UNINSTALLER" /S "_?=$WIN_INSTDIR" || fail "step 4: the uninstaller ended with exit code $?"
state >"$WORKDIR/after"
diff -u "$WORKDIR/before" "$WORKDIR/after" || fail "step 4: left behind after the uninstall (above)"
echo "uninstalled silently, no trace"

# ---- 5. Interactively, page by page --------------------------------------------------------------
# NSIS's windows are dialogs (#32770): the language dialog, then the installer's window, whose
# pages are told apart by their controls: 1201 the title of the first and last pages, 1203 the
# last page's box that starts Pendock. Button 1 goes on (OK, Install, Finish), as Enter would.
SHOTS="$WORKDIR/shots"
rm -rf "$SHOTS"
mkdir -p "$SHOTS"
control_shown() { # control_shown ID
    drv window-texts '#32770' | awk -F'\t' -v id="$1" '$5 == id && $3 == 1 { found = 1 } END { exit !found }'
}
page() { # page NAME ID: waits for the page that shows control ID, photographs it
    wait_until 300 control_shown "$2" || fail "step 5: the page $1 did not show"
    import -window root "$SHOTS/$1.png" 2>/dev/null || fail "step 5: no picture of the page $1"
}
install_interactively() { # install_interactively NAME LANGUAGE [ARG]: as a person would
    local name=$1 language=$2 setup_pid rc
    shift 2
    wine "$SETUP" "$@" >"$WORKDIR/$name.out" 2>&1 &
    setup_pid=$!
    page "$name-1-language" 1002
    drv window-texts '#32770' | grep -qP "\t1002\tComboBox\t$language\$" ||
        fail "step 5: the language dialog offers $(drv window-texts '#32770' | grep ComboBox)"
    drv click '#32770' 1 || fail "step 5: $(drv_error)"
    page "$name-2-welcome" 1201
    drv click '#32770' 1 || fail "step 5: $(drv_error)"
    page "$name-3-finish" 1203
    # Pendock is not started: the box unticked, then Finish.
    drv click '#32770' 1203 && drv click '#32770' 1 || fail "step 5: $(drv_error)"
    wait "$setup_pid"
    rc=$?
    [ "$rc" -eq 0 ] || fail "step 5: the interactive installation $name ended with exit code $rc"
}
# The French user silently first, in the display language.
french wine "$SETUP" /S || fail "step 5: the French user's silent installation ended with $?"
[ "$(code)" = fr-FR ] || fail "step 5: the French user's silent installation wrote $(code)"
wine "$UNINSTALLER" /S "_?=$WIN_INSTDIR" || fail "step 5: the uninstaller ended with exit code $?"
wineserver -w
french install_interactively fr Français
[ "$(code)" = fr-FR ] || fail "step 5: the French user's interactive installation wrote $(code)"
german install_interactively de Deutsch /LANG=de-DE
[ "$(code)" = de-DE ] || fail "step 5: the update with Deutsch chosen wrote $(code)"
[ "$(reg_value Language)" = 1031 ] || fail "step 5: the installation's language is not German"

# The uninstaller as the entry starts it, for the French user: it speaks the installation's
# German. Its last page says "Fertig" (done) in its status line, 1006, and waits for Close.
french wine "$UNINSTALLER" "_?=$WIN_INSTDIR" >"$WORKDIR/uninstall.out" 2>&1 &
uninstall_pid=$!
wait_until 300 eval "drv window-texts '#32770' | grep -qP '\t1\tButton\t&Deinstallieren\$'" ||
    fail "step 5: the uninstaller does not ask in German: $(drv window-texts '#32770')"
import -window root "$SHOTS/un-confirm.png" 2>/dev/null || fail "step 5: no picture of the uninstaller"
drv click '#32770' 1 || fail "step 5: $(drv_error)"
wait_until 300 eval "drv window-texts '#32770' | grep -qP '\t1006\tStatic\tFertig\$'" ||
    fail "step 5: the uninstallation did not end: $(drv window-texts '#32770')"
drv click '#32770' 1 || fail "step 5: $(drv_error)"
wait "$uninstall_pid" || fail "step 5: the interactive uninstallation ended with exit code $?"
state >"$WORKDIR/after"
diff -u "$WORKDIR/before" "$WORKDIR/after" || fail "step 5: left behind after the uninstall (above)"
echo "fr-FR silently for the French user; interactively: Français offered and fr-FR written, Deutsch by /LANG and de-DE written," \
    "uninstalled in German, no trace; pages in $SHOTS"
echo "PASS: installed silently and interactively in German and French, kept the user's" \
    "language, refused older, running and second copies, uninstalled without a trace"
