#!/usr/bin/env bash
# The Debian package as a user meets it: built from this source tree (packaging/build-deb, which
# fails on lintian's errors and warnings), installed with dpkg into a throwaway root, its menu
# entry and AppStream metadata validated, the installed wizard run end to end against a
# simulated key through /usr/bin/pendock, then purged: nothing of it may be left. On the way,
# the language as configuration: the debconf question's default from the system's locale, a
# preseeded answer, dpkg-reconfigure, an administrator's edit of /etc/pendock/locale.xml that an
# upgrade keeps.
#
# The maintainer scripts run outside the root (dpkg's --force-script-chrootless, DPKG_ROOT set)
# with the debconf and ucf installed here: debconf's database lies in the root (by its
# debconf.conf there), ucf is registered in the root's dpkg database.
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
# The maintainer scripts handle the language only: the debconf question and its file, which ucf
# keeps and dpkg therefore must not (no conffiles).
SCRIPTS=$(dpkg-deb --ctrl-tarfile "$DEB" | tar -t | sed 's:^\./::' |
    grep -Ex 'conffiles|config|templates|(pre|post)(inst|rm)' | sort | tr '\n' ' ')
[ "$SCRIPTS" = "config postinst postrm templates " ] ||
    fail "the package's control files are $SCRIPTS, not config, postinst, postrm, templates"

# ---- Installed into a throwaway root -------------------------------------------------------------
R="$W/root"
rm -rf "$R"
mkdir -p "$R/var/lib/dpkg/info" "$R/var/lib/dpkg/updates" "$R/var/cache/debconf" "$R/etc/default"
: >"$R/var/lib/dpkg/status"
cp /etc/debconf.conf "$R/etc/"
{ dpkg-query -s ucf >>"$R/var/lib/dpkg/status" && echo >>"$R/var/lib/dpkg/status" &&
    cp -a /var/lib/dpkg/info/ucf.* "$R/var/lib/dpkg/info/"; } || fail "ucf is not installed here"
# The system speaks French.
echo 'LANG=fr_FR.UTF-8' >"$R/etc/default/locale"
export DEBIAN_FRONTEND=noninteractive
unset DEBCONF_DB_OVERRIDE DEBCONF_DB_FALLBACK DEBCONF_SYSTEMRC
ROOT=()
[ "$(id -u)" -eq 0 ] || ROOT=(fakeroot)
DPKG=("${ROOT[@]}" dpkg --root="$R" --log="$W/dpkg.log" --force-depends --force-script-chrootless)
[ "$(id -u)" -eq 0 ] || DPKG+=(--force-not-root)
dpkg_do() { # dpkg_do NAME ARG...: dpkg in the root, its output in NAME.out
    local name=$1
    shift
    "${DPKG[@]}" "$@" >"$W/$name.out" 2>&1 || { cat "$W/$name.out"; fail "dpkg $*"; }
}
# Everything but the records of dpkg, debconf and ucf, which keep the package's history; their
# current databases are looked at by name after the purge.
tree() {
    (cd "$R" && find . \( -path ./var/lib/dpkg -o -path ./var/cache/debconf -o -path ./var/lib/ucf \) \
        -prune -o -print | sort)
}
CONF="$R/etc/pendock/locale.xml"
code() { sed -n 's:.*<locale>\(.*\)</locale>.*:\1:p' "$CONF" 2>/dev/null; }
tree >"$W/before"

# ---- The language: the system's, a preseeded one, a reconfigured one, the administrator's --------
dpkg_do install-fr -i "$DEB"
[ "$(code)" = fr-FR ] || fail "on a French system the language is \"$(code)\", not fr-FR"
dpkg_do purge-fr --purge pendock
[ ! -e "$R/etc/pendock" ] || fail "/etc/pendock is left after the purge"

echo "pendock pendock/language select de-DE" |
    DPKG_ROOT="$R" "${ROOT[@]}" debconf-set-selections || fail "debconf-set-selections"
dpkg_do install -i "$DEB"
[ "$(code)" = de-DE ] || fail "preseeded de-DE, the language is \"$(code)\""

# dpkg-reconfigure asks again; debconf's editor front end answers, as a person would.
printf '#!/bin/sh\nsed -i "s:^pendock/language=.*:pendock/language=\\"Español\\":" "$1"\n' \
    >"$W/answer"
chmod +x "$W/answer"
DPKG_ROOT="$R" EDITOR="$W/answer" DEBIAN_FRONTEND=editor "${ROOT[@]}" dpkg-reconfigure pendock \
    >"$W/reconfigure.out" 2>&1 || { cat "$W/reconfigure.out"; fail "dpkg-reconfigure"; }
[ "$(code)" = es-ES ] || fail "reconfigured to Español, the language is \"$(code)\""

# An administrator's own code survives an upgrade (this package as a later version).
sed -i 's:es-ES:en-US:' "$CONF"
cp "$CONF" "$W/edited.xml"
rm -rf "$W/upgrade"
{ dpkg-deb -R "$DEB" "$W/upgrade" &&
    sed -i 's/^Version: .*/&+1/' "$W/upgrade/DEBIAN/control" &&
    dpkg-deb -Zgzip -z1 --root-owner-group -b "$W/upgrade" "$W/upgrade.deb" >/dev/null; } ||
    fail "could not make a later version of the package"
dpkg_do upgrade -i "$W/upgrade.deb"
[ "$(dpkg-query --admindir="$R/var/lib/dpkg" -W -f='${Version}' pendock)" = "$VERSION+1" ] ||
    fail "the upgrade was not installed"
cmp -s "$CONF" "$W/edited.xml" || fail "the upgrade changed the administrator's locale.xml: $(code)"
echo "language: fr-FR from the system, de-DE preseeded, es-ES reconfigured, en-US kept by an upgrade"

for f in usr/lib/pendock/Pendock usr/lib/pendock/locale.db etc/pendock/locale.xml \
    usr/share/man/man1/pendock.1.gz "usr/share/applications/$APP_ID.desktop" \
    "usr/share/metainfo/$APP_ID.metainfo.xml"; do
    [ -f "$R/$f" ] || fail "/$f is not installed"
done
[ "$(readlink "$R/usr/lib/pendock/locale.xml")" = /etc/pendock/locale.xml ] ||
    fail "/usr/lib/pendock/locale.xml does not lead to /etc/pendock/locale.xml"
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
# The link names /etc/pendock/locale.xml: the wizard runs in a mount namespace of its own where
# /etc shows the root's files over this system's (a read-only overlay).
NS=(unshare -m)
[ "$(id -u)" -eq 0 ] || NS=(unshare -r -m)
# shellcheck disable=SC2016 # expanded by the inner shell
"${NS[@]}" sh -c 'mount -t overlay overlay -o "lowerdir=$1/etc:/etc" /etc && shift && exec "$@"' \
    sh "$R" env PENDOCK_E2E_DISPLAY=1 \
    xvfb-run -a -n 200 -s "-noreset -screen 0 800x600x24 -nolisten tcp" \
    bash "$TOP/tests/e2e/e2e.sh" "$R/usr/bin/pendock" "$TOP/tools/simkey" "$W/artefacts" \
    "$SHOPHOST" key || fail "the installed wizard did not pass the end-to-end run"

# ---- Purged: nothing left ------------------------------------------------------------------------
dpkg_do purge --purge pendock
tree >"$W/after"
diff -u "$W/before" "$W/after" || fail "left behind after the purge (above)"
dpkg-query --admindir="$R/var/lib/dpkg" -W pendock >/dev/null 2>&1 &&
    fail "dpkg still knows the package"
# (The databases' backups, *-old and *.N, hold earlier states by design.)
LEFT=$(grep -l pendock "$R/var/cache/debconf/config.dat" "$R/var/cache/debconf/templates.dat" \
    "$R/var/lib/ucf/hashfile" "$R/var/lib/ucf/registry" 2>/dev/null)
[ -z "$LEFT" ] || fail "the purge left pendock in $LEFT"

echo "PASS: $(basename "$DEB") built, lintian-clean, installed, configured, upgraded, run end to end and purged"
