#!/usr/bin/env bash
# The Debian package as a user meets it: built from this source tree (packaging/build-deb, which
# fails on lintian's errors and warnings), installed with dpkg into a throwaway root, its menu
# entry and AppStream metadata validated, the installed wizard run end to end against a
# simulated key through /usr/bin/pendock, then purged: nothing of it may be left.
#
#   deb.sh SOURCE_TOP WORKDIR SHOPHOST
#
# Exit 0: passed, 1: failed, 77: skipped (a tool missing).
set -uo pipefail

[ $# -eq 3 ] || { echo "usage: deb.sh SOURCE_TOP WORKDIR SHOPHOST"; exit 1; }
TOP=$1 SHOPHOST=$3
mkdir -p "$2" || exit 1
W=$(cd "$2" && pwd)
APP_ID=example.quorvento.Pendock

. "$(dirname "$(readlink -f "$0")")/../support/script_support.sh"
need_tools dpkg-buildpackage lintian desktop-file-validate appstreamcli xvfb-run

fail() {
    echo "FAIL: $*"
    exit 1
}

# ---- Built the Debian way ------------------------------------------------------------------------
"$TOP/packaging/build-deb" "$W/out" || fail "the package was not built"
VERSION=$(dpkg-parsechangelog -l "$TOP/debian/changelog" -S Version)
DEB="$W/out/pendock_${VERSION}_$(dpkg --print-architecture).deb"
[ -f "$DEB" ] || fail "no $DEB"

# Dependencies come from the libraries the program links (dpkg-shlibdeps), not from a list.
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
for lib in libqt6widgets6 libsqlite3-0 libxml2 xdg-utils; do
    [[ ", $DEPENDS," == *", $lib "* || ", $DEPENDS," == *", $lib,"* ]] ||
        fail "Depends lacks $lib: $DEPENDS"
done
# Nothing runs at installation: the package holds files only.
SCRIPTS=$(dpkg-deb -I "$DEB" | awk '$NF ~ /^(pre|post)(inst|rm)$|^config$/ { print $NF }')
[ -z "$SCRIPTS" ] || fail "maintainer scripts in the package: $SCRIPTS"

# ---- Installed into a throwaway root -------------------------------------------------------------
R="$W/root"
rm -rf "$R"
mkdir -p "$R/var/lib/dpkg/info" "$R/var/lib/dpkg/updates"
: >"$R/var/lib/dpkg/status"
DPKG=(dpkg --root="$R" --log="$W/dpkg.log" --force-depends)
[ "$(id -u)" -eq 0 ] || DPKG=(fakeroot "${DPKG[@]}" --force-not-root)
# Everything but dpkg's own records, which keep the package's history
tree() { (cd "$R" && find . -path ./var/lib/dpkg -prune -o -print | sort); }
tree >"$W/before"
"${DPKG[@]}" -i "$DEB" >"$W/install.out" 2>&1 || { cat "$W/install.out"; fail "dpkg -i"; }

for f in usr/lib/pendock/Pendock usr/lib/pendock/locale.db usr/lib/pendock/locale.xml \
    usr/share/man/man1/pendock.1.gz "usr/share/applications/$APP_ID.desktop" \
    "usr/share/metainfo/$APP_ID.metainfo.xml"; do
    [ -f "$R/$f" ] || fail "/$f is not installed"
done
[ -x "$R/usr/lib/pendock/Pendock" ] || fail "/usr/lib/pendock/Pendock is not executable"
[ "$(readlink "$R/usr/bin/pendock")" = ../lib/pendock/Pendock ] ||
    fail "/usr/bin/pendock is not a relative link to the program: $(readlink "$R/usr/bin/pendock")"
[ -f "$R/usr/share/man/man1/pendock-probe.1.gz" ] || fail "pendock-probe has no manual page"

# The probe, as installed, identifies a simulated key; its version is the package's.
M="$W/machine"
rm -rf "$M"
"$TOP/tools/simkey" init "$M" && "$TOP/tools/simkey" plug "$M" || fail "simkey"
PENDOCK_SYSFS="$M/sys" PENDOCK_MOUNTINFO="$M/mountinfo" "$R/usr/bin/pendock-probe" \
    >"$W/probe.out" 2>&1 || { cat "$W/probe.out"; fail "/usr/bin/pendock-probe failed"; }
[ "$(head -n 1 "$W/probe.out")" = "pendock-probe $VERSION" ] ||
    fail "pendock-probe says \"$(head -n 1 "$W/probe.out")\", the package is $VERSION"
grep -q 'serial "0123456789AB"' "$W/probe.out" ||
    { cat "$W/probe.out"; fail "pendock-probe did not identify the key"; }

# ---- The menu entry, its icon and the AppStream metadata -----------------------------------------
DESKTOP="$R/usr/share/applications/$APP_ID.desktop"
desktop-file-validate "$DESKTOP" >"$W/desktop.out" 2>&1
[ ! -s "$W/desktop.out" ] || { cat "$W/desktop.out"; fail "desktop-file-validate"; }
key() { sed -n "s/^$1=//p" "$DESKTOP" | head -n 1; }
[ "$(key Exec)" = pendock ] || fail "the menu entry runs \"$(key Exec)\", not pendock"
ICON=$(key Icon)
[ "$ICON" = "$APP_ID" ] || fail "the menu entry's icon is \"$ICON\", not $APP_ID"
for size in 16 24 32 48 64 128 256; do
    png="$R/usr/share/icons/hicolor/${size}x$size/apps/$ICON.png"
    [ -f "$png" ] || fail "no ${size}px icon"
    got=$(identify -format '%wx%h' "$png")
    [ "$got" = "${size}x$size" ] || fail "the ${size}px icon is $got"
done
[ -f "$R/usr/share/icons/hicolor/scalable/apps/$ICON.svg" ] || fail "no scalable icon"

# The whole tree, so that the metadata is checked together with the menu entry it launches.
appstreamcli validate-tree --no-net --explain "$R" >"$W/appstream.out" 2>&1 ||
    { cat "$W/appstream.out"; fail "appstreamcli validate-tree"; }
METAINFO="$R/usr/share/metainfo/$APP_ID.metainfo.xml"
grep -q "<release version=\"$VERSION\"" "$METAINFO" || fail "the metadata's release is not $VERSION"

# ---- The installed wizard, end to end: its program folder is where the link leads ----------------
PENDOCK_E2E_DISPLAY=1 xvfb-run -a -n 200 -s "-noreset -screen 0 800x600x24 -nolisten tcp" \
    bash "$TOP/tests/e2e/e2e.sh" "$R/usr/bin/pendock" "$TOP/tools/simkey" "$W/artefacts" \
    "$SHOPHOST" key || fail "the installed wizard did not pass the end-to-end run"

# ---- Purged: nothing left ------------------------------------------------------------------------
"${DPKG[@]}" --purge pendock >"$W/purge.out" 2>&1 || { cat "$W/purge.out"; fail "dpkg --purge"; }
tree >"$W/after"
diff -u "$W/before" "$W/after" || fail "left behind after the purge (above)"
dpkg-query --admindir="$R/var/lib/dpkg" -W pendock >/dev/null 2>&1 &&
    fail "dpkg still knows the package"

echo "PASS: $(basename "$DEB") built, lintian-clean, installed, run end to end and purged"
