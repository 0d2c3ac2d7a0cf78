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
# With the WMI stand-in (STANDIN, tests/support/wmi_standin), the whole road instead of steps 5
# and 6: drive letters come from Wine's own mount manager, which a udisks2 stand-in on a private
# system bus (udisks2_volumes.py) tells of mounted volumes, so that the device-change broadcast
# is Wine's; the stand-in WMI knows the machine as Windows would describe it:
#
#   5. a CD-ROM drive: the error dialog, the wizard goes on waiting;
#   6. a removable drive on no disk WMI knows: the error dialog, the wizard goes on waiting;
#   7. the key (identity 3 of tests/data/wmi/identities.tsv), its second partition announced
#      first and so given the lower letter: the program opens the shop address for that disk and
#      the package.id in the partition's product folder through ShellExecuteW, which reaches the
#      http handler this test registers under HKLM (the driver's record-url), and ends about 5 s
#      later with exit code 0;
#   8. with PROBE, pendock-probe.exe then runs under the same WMI; its report goes to
#      WORKDIR/probe.txt and the address to WORKDIR/address.txt (probe_report.sh compares them).
#
#   e2e_wine.sh PROGRAM DRIVER WORKDIR [STANDIN SHOP_HOST [PROBE]]
#
# Screenshots go to WORKDIR/artefacts/. Exit 0: passed, 1: failed (the first failed step is
# named), 77: skipped (no wine, Xvfb, ImageMagick or sqlite3; with STANDIN also no dbus-daemon,
# python3-dbusmock or four block devices /dev/loop*, which Wine's mount manager requires).
set -uo pipefail
shopt -u patsub_replacement 2>/dev/null || true
export LC_ALL=C.UTF-8

[ $# -eq 3 ] || [ $# -eq 5 ] || [ $# -eq 6 ] || {
    echo "usage: e2e_wine.sh PROGRAM DRIVER WORKDIR [STANDIN SHOP_HOST [PROBE]]"
    exit 1
}
mkdir -p "$3" || exit 1
# Wine wants absolute paths, for the prefix above all.
PROGRAM=$(realpath "$1") DRIVER=$(realpath "$2") WORKDIR=$(realpath "$3")
STANDIN="" SHOP_HOST="" PROBE=""
[ $# -ge 5 ] && STANDIN=$(realpath "$4") SHOP_HOST=$5
[ $# -eq 6 ] && PROBE=$(realpath "$6")
LOCALE=${PENDOCK_E2E_LOCALE:-en-US}
HERE=$(dirname "$(readlink -f "$0")")

. "$HERE/../support/script_support.sh"
need_tools wine wineboot wineserver xvfb-run import sqlite3

PREFIX="$WORKDIR/wineprefix"
use_wine_prefix "$PREFIX"
# A Unix path as Wine's drive Z: shows it.
winpath() { local p=$1; printf 'Z:%s' "${p//\//\\}"; }

if [ -n "$STANDIN" ]; then
    need_tools dbus-daemon dbus-send
    /usr/bin/python3 -c 'import dbusmock' 2>/dev/null ||
        { echo "SKIPPED: python3-dbusmock is not installed (tools/install-deps installs it)"; exit 77; }
    # Wine's mount manager takes a volume only on a block device; these are never opened for
    # writing (Wine reads a superblock at most).
    mapfile -t BLOCK < <(for d in /dev/loop[0-9]*; do [ -b "$d" ] && echo "$d"; done | tail -n 4)
    [ ${#BLOCK[@]} -eq 4 ] ||
        { echo "SKIPPED: four block devices /dev/loop* are needed (found ${#BLOCK[@]})"; exit 77; }
    . "$HERE/../support/wmi_standin/with-standin"
fi

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
    if [ -n "$STANDIN" ]; then
        # The http handler: the driver recording each address it is given. HKLM, as a browser's
        # installer registers it; Wine's own (winebrowser) would turn %2D into -.
        HANDLER="\"$(winpath "$DRIVER")\" record-url \"$(winpath "$WORKDIR/run/address.txt")\" \"%1\""
        env -u DISPLAY wine reg add 'HKLM\Software\Classes\http\shell\open\command' /ve \
            /d "$HANDLER" /f >>"$WORKDIR/wineboot.log" 2>&1 && wineserver --wait &&
            standin_install "$STANDIN" || {
            echo "FAIL: could not register the http handler or the WMI stand-in"
            exit 1
        }
    fi
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
bus_pid="" mock_pid=""

cleanup() {
    if [ -n "$drive" ]; then
        wine "$DRIVER" remove-drive "$drive" >/dev/null 2>&1 || echo "note: $drive not removed"
    fi
    # Ends the program if a step failed while it ran, and every other process of the prefix.
    wineserver -k 2>/dev/null
    if [ -n "$pid" ]; then
        wait "$pid" 2>/dev/null
    fi
    [ -n "$mock_pid" ] && kill "$mock_pid" 2>/dev/null && wait "$mock_pid" 2>/dev/null
    [ -n "$bus_pid" ] && kill "$bus_pid" 2>/dev/null
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

if [ -n "$STANDIN" ]; then
    # The system bus of this test, before any program of the prefix starts: Wine's mount manager
    # (in winedevice.exe, started with the first program) connects to it and asks udisks2.
    { read -r bus_address && read -r bus_pid; } < <(dbus-daemon --session --fork \
        --print-address=1 --print-pid=1 --nopidfile --address=unix:tmpdir=/tmp) ||
        fail "cannot start a private bus"
    export DBUS_SYSTEM_BUS_ADDRESS=$bus_address
    /usr/bin/python3 -m dbusmock --template "$HERE/udisks2_volumes.py" >"$W/udisks2.log" 2>&1 &
    mock_pid=$!
    udisks() { dbus-send --system --print-reply --dest=org.freedesktop.UDisks2 "$@" >/dev/null 2>&1; }
    wait_until 100 udisks /org/freedesktop/UDisks2 org.freedesktop.DBus.Introspectable.Introspect ||
        fail "the udisks2 stand-in did not come up (see $W/udisks2.log)"
    # The machine as WMI describes it: the system disk; the other drives join as they come.
    MACHINE="$W/machine.txt"
    printf '%s\n' "disk 0 256060514304 SCSI\DISK&VEN_SAMSUNG&PROD_SSD_860_EVO\4&2A1C9E4F&0&000000 Samsung SSD 860 EVO 250GB" \
        "partition 0 0 256059465728" "volume C: 0 0 NTFS" >"$MACHINE"
    standin_env "$MACHINE"
fi

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

# ---- 5 to 8 with the WMI stand-in: the whole road ------------------------------------------------
# free_letter FIRST: the letter Wine's mount manager gives the next volume, the first from FIRST
# on without an entry in the prefix's dosdevices (C for a disk, D for a CD-ROM drive).
free_letter() {
    local l
    for l in {C..Y}; do
        [[ $l < $1 ]] && continue
        [ -e "$PREFIX/dosdevices/${l,,}:" ] || [ -L "$PREFIX/dosdevices/${l,,}:" ] ||
            [ -L "$PREFIX/dosdevices/${l,,}::" ] || { echo "$l"; return 0; }
    done
    return 1
}
# plug STEP NAME DEVICE FOLDER FSTYPE MEDIA LETTER: udisks2 announces the volume; Wine's mount
# manager must give it LETTER.
plug() {
    udisks /org/freedesktop/UDisks2 org.freedesktop.UDisks2.Manager.AddVolume "string:$2" \
        "string:$3" "string:$4" "string:$5" "string:$6" || fail "$1: udisks2 did not take $2"
    wait_until 100 test -L "$PREFIX/dosdevices/${7,,}:" ||
        fail "$1: Wine's mount manager did not make $7: for $2 (drives: $(drv drives))"
}
# error_box STEP LETTER: the error dialog for the drive LETTER that cannot be identified; OK
# closes it and the wizard goes on waiting.
error_box() {
    wait_window "$1" TPendockDialog 20 "no error dialog after $2: came"
    echo "$1: error dialog $(elapsed "$T_PLUG" "$(now)") s after udisks2 announced $2:"
    wait_texts TPendockDialog 5 "$ERR_USBINFO" ||
        fail "$1: the dialog does not show the text of ERR_CANNOTREADUSBINFO"
    caption_is "$CAP_ERROR" || { show_texts; fail "$1: the dialog's title is not \"$CAP_ERROR\""; }
    drv click TPendockDialog 1 || fail "$1: $(drv_error)"
    drv wait-gone TPendockDialog 5 || fail "$1: $(drv_error)"
    running || fail "$1: the program ended after the error dialog"
    wait_texts TPendockForm 5 "$NOKEY" "$CANCEL" || fail "$1: the wizard left the key page"
}

next_letter() { local all=CDEFGHIJKLMNOPQRSTUVWXYZ rest; rest=${all#*"$1"}; echo "${rest:0:1}"; }

road() {
    local data="$HERE/../data/wmi/identities.tsv" key_pnp cd_pnp cd stray part1 part0 expected
    key_pnp=$(awk -F'\t' '$1 == 3 { print $8 }' "$data")
    cd_pnp=$(awk -F'\t' '$1 == 36 { print $8 }' "$data")
    [ -n "$key_pnp" ] && [ -n "$cd_pnp" ] || fail "no identities 3 and 36 in $data"
    mkdir -p "$W/media/cdrom" "$W/media/stray" "$W/media/key0" "$W/media/key1/Quorvento/Pendock"
    printf 'QV-E2E-1\n' >"$W/media/key1/Quorvento/Pendock/package.id"

    # 5. A CD-ROM drive: WMI knows it, on no partition.
    cd=$(free_letter D) || fail "step 5: no free drive letter"
    printf 'cdrom %s: %s UM175AL CD-ROM USB Device\n' "$cd" "$cd_pnp" >>"$MACHINE"
    T_PLUG=$(now)
    plug "step 5" sr1 "${BLOCK[0]}" "$W/media/cdrom" iso9660 optical_cd "$cd"
    error_box "step 5" "$cd"
    shot 3-cdrom-error

    # 6. A removable drive on no disk that WMI knows.
    stray=$(free_letter C) || fail "step 6: no free drive letter"
    T_PLUG=$(now)
    plug "step 6" sdj1 "${BLOCK[1]}" "$W/media/stray" vfat thumb "$stray"
    error_box "step 6" "$stray"

    # 7. The key: its second partition announced first takes the lower letter and is the one
    # identified; the product folder is on it.
    part1=$(free_letter C) || fail "step 7: no free drive letter"
    part0=$(free_letter "$(next_letter "$part1")") ||
        fail "step 7: no second free drive letter"
    printf '%s\n' "disk 1 15502147584 $key_pnp Kingston DataTraveler 3.0 USB Device" \
        "partition 1 0 8589934592" "partition 1 1 6911164416" "volume $part1: 1 1 FAT32 QVKEY" \
        "volume $part0: 1 0 FAT32 DATA" >>"$MACHINE"
    rm -f "$W/address.txt"
    T_PLUG=$(now)
    plug "step 7" sdk2 "${BLOCK[2]}" "$W/media/key1" vfat thumb "$part1"
    plug "step 7" sdk1 "${BLOCK[3]}" "$W/media/key0" vfat thumb "$part0"
    wait_until 300 test -s "$W/address.txt" ||
        fail "step 7: no address reached the http handler within 30 s"
    T_URL=$(now)
    echo "step 7: address opened $(elapsed "$T_PLUG" "$T_URL") s after udisks2 announced $part1:"
    expected="http://$SHOP_HOST/custom-backend?q=ecommerce---usbupgrade---vendor___KINGSTON---serial___E0D55EA573C8E370B7E105BF---type___DATATRAVELER_3.0---installed___QV-E2E-1"
    ADDRESS=$(cat "$W/address.txt")
    [ "$ADDRESS" = "$expected" ] ||
        fail "step 7: the handler received \"$ADDRESS\", not \"$expected\""
    echo "step 7: the handler received $ADDRESS"
    local until_end rc end
    until_end=$(awk -v t="$T_URL" 'BEGIN { printf "%.3f", t + 20 }')
    while running && within "$(now)" 0 "$until_end"; do sleep 0.1; done
    running && fail "step 7: the program still runs 20 s after the address was opened"
    end=$(now)
    wait "$pid"
    rc=$?
    pid=""
    [ "$rc" -eq 0 ] || fail "step 7: exit code $rc"
    within "$(elapsed "$T_URL" "$end")" 3 15 ||
        fail "step 7: the program ended $(elapsed "$T_URL" "$end") s after the address, not about 5 s"
    echo "step 7: ended with exit code 0 $(elapsed "$T_URL" "$end") s after the address was opened"
    [ "$(wc -l <"$W/address.txt")" -eq 1 ] || fail "step 7: the handler was called more than once"

    # 8. The support probe under the same WMI, for probe_report.sh.
    if [ -n "$PROBE" ]; then
        printf '%s\n' "$ADDRESS" >"$WORKDIR/address.txt"
        printf '%s\n' "$part1" >"$WORKDIR/key-drive.txt"
        timeout 60 wine "$PROBE" >"$WORKDIR/probe.txt" 2>&1
        echo "step 8: pendock-probe.exe ended with exit code $? (report in $WORKDIR/probe.txt)"
    fi
}

if [ -n "$STANDIN" ]; then
    road
    wineserver -k 2>/dev/null
    wineserver --wait 2>/dev/null
    left=$(wine_processes)
    [ -z "$left" ] || fail "clean-up: processes of the prefix left: $left"
    kill "$mock_pid" "$bus_pid" 2>/dev/null
    trap - EXIT
    echo "PASS: $(elapsed "$T_START" "$(now)") s on the display; screenshots in $SHOTS"
    exit 0
fi

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
