#!/usr/bin/env bash
# Signing as the vendor's build does it, with a throwaway self-signed code-signing certificate
# made here, outside the source tree (packaging/sign-exe refuses one inside it): the programs
# signed before they are packed (the password once from the environment, once from a file), the
# installer and its uninstaller signed by makensis through sign-exe; every signature checked
# with osslsigncode verify against that certificate (an unsigned program must fail it); the
# password in no output; the signed installer installed and removed under Wine.
#
#   signing.sh MAKENSIS NSI VERSION SHIPPED_EXE SHIPPED_PROBE LOCALE_DB WORKDIR NSIS_ARG...
#
# NSIS_ARG...: the other definitions every installer is made with, -DSIGN=sign-exe among them.
# Exit 0: passed, 1: failed, 77: skipped (no openssl, osslsigncode or wine).
set -uo pipefail
export LC_ALL=C.UTF-8

[ $# -ge 7 ] ||
    { echo "usage: signing.sh MAKENSIS NSI VERSION EXE PROBE LOCALE_DB WORKDIR NSIS_ARG..."; exit 1; }
MAKENSIS=$1 NSI=$2 VERSION=$3 EXE=$4 PROBE=$5 DB=$6
mkdir -p "$7" || exit 1
W=$(cd "$7" && pwd -P)
shift 7
TOP=$(cd "$(dirname "$(readlink -f "$0")")/../.." && pwd -P)
SIGN=$TOP/packaging/sign-exe

. "$TOP/tests/support/script_support.sh"
need_tools openssl osslsigncode wine wineboot wineserver

fail() {
    echo "FAIL: $*"
    exit 1
}

T=$(mktemp -d "${TMPDIR:-/tmp}/pendock-signing.XXXXXX") || fail "mktemp"
cleanup() {
    rm -rf "$T"
    wineserver -k 2>/dev/null
}
trap cleanup EXIT

# ---- A throwaway code-signing certificate --------------------------------------------------------
PASSWORD=$(openssl rand -hex 16)
printf '%s' "$PASSWORD" >"$T/password"
{ openssl req -x509 -newkey rsa:2048 -nodes -keyout "$T/key.pem" -out "$T/cert.pem" -days 2 \
    -subj "/O=Quorvento/CN=Pendock test signer" -addext "keyUsage=critical,digitalSignature" \
    -addext "extendedKeyUsage=codeSigning" &&
    openssl pkcs12 -export -inkey "$T/key.pem" -in "$T/cert.pem" -out "$T/cert.pfx" \
        -passout "file:$T/password"; } >"$W/openssl.log" 2>&1 ||
    { cat "$W/openssl.log"; fail "could not make the certificate"; }
export PENDOCK_SIGN_PKCS12="$T/cert.pfx"

verify() { # verify FILE: its signature is good and made with the throwaway certificate
    osslsigncode verify -CAfile "$T/cert.pem" -in "$1" >"$W/verify.out" 2>&1 ||
        { cat "$W/verify.out"; fail "the signature of $1 does not verify"; }
    grep -q 'CN=Pendock test signer' "$W/verify.out" ||
        { cat "$W/verify.out"; fail "$1 is not signed with the test certificate"; }
}
osslsigncode verify -CAfile "$T/cert.pem" -in "$EXE" >"$W/unsigned.out" 2>&1 &&
    fail "the unsigned $EXE passes osslsigncode verify"

# A certificate inside the source tree is refused (the work folder is there in the presets'
# build folders).
case $W/ in
"$TOP"/*)
    cp "$T/cert.pfx" "$W/in-tree.pfx" && cp "$EXE" "$W/refused.exe"
    PENDOCK_SIGN_PKCS12="$W/in-tree.pfx" PENDOCK_SIGN_PASSWORD_FILE="$T/password" \
        "$SIGN" "$W/refused.exe" >"$W/refused.out" 2>&1 && fail "sign-exe took a certificate in the tree"
    grep -q 'source tree' "$W/refused.out" || { cat "$W/refused.out"; fail "sign-exe's refusal"; }
    rm -f "$W/in-tree.pfx"
    ;;
esac

# ---- Signed programs, then the installer of them -------------------------------------------------
cp "$EXE" "$W/Pendock.exe" && cp "$PROBE" "$W/pendock-probe.exe" || fail "copying the programs"
PENDOCK_SIGN_PASSWORD=$PASSWORD "$SIGN" "$W/Pendock.exe" >"$W/sign.log" 2>&1 &&
    PENDOCK_SIGN_PASSWORD_FILE="$T/password" "$SIGN" "$W/pendock-probe.exe" >>"$W/sign.log" 2>&1 ||
    { cat "$W/sign.log"; fail "sign-exe failed"; }
verify "$W/Pendock.exe"
verify "$W/pendock-probe.exe"

SETUP="$W/Pendock-$VERSION-setup.exe"
PENDOCK_SIGN_PASSWORD_FILE="$T/password" "$MAKENSIS" "$@" "-DVERSION=$VERSION" \
    "-DPROGRAM=$W/Pendock.exe" "-DPROBE=$W/pendock-probe.exe" "-DLOCALE_DB=$DB" \
    "-DOUTFILE=$SETUP" "$NSI" >"$W/makensis.log" 2>&1 ||
    { cat "$W/makensis.log"; fail "makensis failed"; }
verify "$SETUP"
! grep -rqF "$PASSWORD" "$W" || fail "the password is in $(grep -rlF "$PASSWORD" "$W")"

# ---- Installed and removed under Wine ------------------------------------------------------------
use_wine_prefix "$W/wineprefix"
rm -rf "$WINEPREFIX"
env -u DISPLAY -u WAYLAND_DISPLAY wineboot --init >"$W/wineboot.log" 2>&1 && wineserver -w ||
    fail "could not make the Wine prefix (see $W/wineboot.log)"
INSTDIR="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Programs/Pendock"
env -u DISPLAY -u WAYLAND_DISPLAY wine "$SETUP" /S || fail "the signed installer ended with $?"
cmp -s "$INSTDIR/Pendock.exe" "$W/Pendock.exe" || fail "the installed Pendock.exe is not the signed one"
cmp -s "$INSTDIR/pendock-probe.exe" "$W/pendock-probe.exe" ||
    fail "the installed pendock-probe.exe is not the signed one"
verify "$INSTDIR/uninstall.exe"
env -u DISPLAY -u WAYLAND_DISPLAY wine "$INSTDIR/uninstall.exe" /S \
    "_?=C:\\users\\$(id -un)\\AppData\\Local\\Programs\\Pendock" ||
    fail "the signed uninstaller ended with $?"
wineserver -w
[ ! -e "$INSTDIR" ] || fail "the signed uninstaller left $(ls "$INSTDIR")"
echo "PASS: Pendock.exe, pendock-probe.exe, the installer and its uninstaller signed and verified;" \
    "installed and removed under Wine"
