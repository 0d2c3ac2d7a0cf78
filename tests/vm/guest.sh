#!/bin/bash
# The desktop side of the virtual-machine scenarios, run inside the guest as root.
#
#   guest.sh automount start|stop     a desktop's automounter (desktop_automount.py): every new
#                                     filesystem on USB is mounted through udisks as the user
#   guest.sh wizard RUN PROGRAM       Pendock started as the desktop user on a virtual X display,
#                                     Next pressed; the address reaches RUN/opened.url through a
#                                     recording xdg-open, the exit code RUN/exit
#   guest.sh dismiss RUN SECONDS      waits for the error box, notes its text, presses Return
#   guest.sh probe RUN PROBE          pendock-probe's report as the desktop user into RUN/probe.txt
#   guest.sh mount-calls RUN          records the system bus's calls of udisks' Mount into
#                                     RUN/mount-calls, in the background
#   guest.sh timeline RUN             notes into RUN/timeline when a new USB partition appears and
#                                     when it is mounted (uptime seconds), in the background
#   guest.sh fill IMAGE FSTYPE TREE   copies the folder TREE onto the filesystem in IMAGE, mounted
#                                     as a desktop mounts it (NTFS through ntfs-3g)
#   guest.sh searching SECONDS        waits until the wizard holds a folder of a mounted key open
set -u
DESK=desk DESK_ID=4242
as_desk() {
    setpriv --reuid=$DESK_ID --regid=$DESK_ID --init-groups env -i HOME=/home/$DESK USER=$DESK \
        LOGNAME=$DESK LANG=C.UTF-8 XDG_RUNTIME_DIR=/run/user/$DESK_ID DISPLAY=:7 \
        PATH="${EXTRA_PATH:-}/usr/bin:/bin" "$@"
}
stamp() { cut -d' ' -f1 /proc/uptime; }

case $1 in
automount)
    if [ "$2" = stop ]; then
        pkill -f desktop_automount.py 2>/dev/null
        pkill -f "udevadm monitor --udev -s block" 2>/dev/null
        exit 0
    fi
    setsid setpriv --reuid=$DESK_ID --regid=$DESK_ID --init-groups \
        /usr/bin/python3 "$(dirname "$0")/desktop_automount.py" /share/automount.log \
        </dev/null >/share/automount.err 2>&1 &
    for _ in $(seq 200); do grep -q listening /share/automount.log 2>/dev/null && break; sleep 0.1; done
    sleep 0.5 # udevadm's monitor is up
    ;;
wizard)
    RUN=$2 PROGRAM=$3
    mkdir -p "$RUN/bin"
    chmod 777 "$RUN"
    cat >"$RUN/bin/xdg-open" <<REC
#!/bin/sh
printf '%s\n' "\$(cut -d' ' -f1 /proc/uptime) \$#" >>"$RUN/opened.calls"
printf '%s\n' "\$1" >"$RUN/opened.tmp" && mv "$RUN/opened.tmp" "$RUN/opened.url"
REC
    chmod 755 "$RUN/bin/xdg-open"
    # One X server for all scenarios. It never resets: a reset when one scenario's program
    # ends could refuse the next one's. Under emulation its start can take many seconds.
    if ! xdpyinfo -display :7 >/dev/null 2>&1; then
        setsid Xvfb :7 -noreset -screen 0 800x600x24 -nolisten tcp -ac </dev/null >/dev/null 2>&1 &
        for _ in $(seq 600); do xdpyinfo -display :7 >/dev/null 2>&1 && break; sleep 0.1; done
        xdpyinfo -display :7 >/dev/null 2>&1 || { echo "the X server on :7 did not start"; exit 1; }
    fi
    export DISPLAY=:7
    DB=$(dirname "$PROGRAM")/locale.db
    LANGID=$(sed -n 's:.*<locale>\([A-Za-z]*\).*</locale>.*:\1:p' "$(dirname "$PROGRAM")/locale.xml")
    text() { sqlite3 -readonly "$DB" "SELECT Description FROM localize WHERE ID='$2' AND GroupID='$1' AND LangID='$LANGID' LIMIT 1"; }
    CAPTION=$(text Restore CAPTION_UPGRADE)
    MNEMONIC=$(text Restore NEXT | sed -n 's/^[^&]*&\(.\).*/\1/p' | tr '[:upper:]' '[:lower:]')
    text Skin MSG_CAP_ERROR >"$RUN/error-caption"
    (
        EXTRA_PATH="$RUN/bin:" as_desk "$PROGRAM" >"$RUN/program.out" 2>&1 &
        pid=$!
        echo $pid >"$RUN/pid"
        wait $pid
        echo "$? $(stamp)" >"$RUN/exit.tmp" && mv "$RUN/exit.tmp" "$RUN/exit"
    ) &
    for _ in $(seq 600); do [ -s "$RUN/pid" ] && break; sleep 0.05; done
    pid=$(cat "$RUN/pid")
    for _ in $(seq 600); do
        [ -e "$RUN/exit" ] && { echo "the program ended: $(cat "$RUN/exit")"; cat "$RUN/program.out"; exit 1; }
        WIN=$(xdotool search --onlyvisible --name "^$CAPTION\$" 2>/dev/null | head -1)
        [ -n "$WIN" ] && break
        sleep 0.1
    done
    [ -n "$WIN" ] || { echo "no window \"$CAPTION\""; exit 1; }
    echo "$WIN" >"$RUN/window"
    xdotool windowfocus --sync "$WIN"
    sleep 0.3
    xdotool key "alt+$MNEMONIC"
    sleep 0.5 # the drives' snapshot is taken on the press
    import -display :7 -window root "$RUN/armed.png" 2>/dev/null
    echo "armed at $(stamp)"
    ;;
dismiss)
    RUN=$2 SECONDS_LEFT=$3
    export DISPLAY=:7
    CAP=$(cat "$RUN/error-caption")
    for _ in $(seq $((SECONDS_LEFT * 10))); do
        for w in $(xdotool search --onlyvisible --name "." 2>/dev/null); do
            name=$(xdotool getwindowname "$w" 2>/dev/null)
            if [ "$name" = "$CAP" ] || [ "${name%% — *}" = "$CAP" ]; then
                import -display :7 -window root "$RUN/error.png" 2>/dev/null
                xdotool windowfocus --sync "$w"
                xdotool key Return
                echo "dismissed \"$name\" at $(stamp)"
                exit 0
            fi
        done
        sleep 0.1
    done
    echo "no error box"
    exit 1
    ;;
probe)
    as_desk "$3" >"$2/probe.txt" 2>&1
    ;;
mount-calls)
    setsid dbus-monitor --system \
        "type='method_call',interface='org.freedesktop.UDisks2.Filesystem',member='Mount'" \
        </dev/null >"$2/mount-calls" 2>&1 &
    sleep 1
    ;;
timeline)
    RUN=$2
    before=$(ls /sys/class/block)
    setsid bash -c '
        for _ in $(seq 1200); do
            for d in /sys/class/block/sd*[0-9]; do
                n=${d##*/}
                [ -e "$d" ] || continue
                grep -qx "$n" <<<"'"$before"'" && continue
                [ -z "${seen:-}" ] && { seen=$n; echo "appeared $n $(cut -d" " -f1 /proc/uptime)" >>"'"$RUN"'/timeline"; }
            done
            if [ -n "${seen:-}" ] && grep -q " $(cat /sys/class/block/$seen/dev) " /proc/self/mountinfo; then
                echo "mounted $seen $(cut -d" " -f1 /proc/uptime)" >>"'"$RUN"'/timeline"
                exit 0
            fi
            sleep 0.05
        done' </dev/null >/dev/null 2>&1 &
    ;;
fill)
    IMG=$2 FS=$3 TREE=$4
    dev=$(losetup -f --show "$IMG") || exit 1
    mkdir -p /mnt/fill
    if [ "$FS" = ntfs ]; then ntfs-3g "$dev" /mnt/fill; else mount -t "$FS" "$dev" /mnt/fill; fi ||
        { losetup -d "$dev"; exit 1; }
    cp -r "$TREE/." /mnt/fill/
    rc=$?
    umount /mnt/fill || rc=1
    losetup -d "$dev"
    exit $rc
    ;;
searching)
    while [ "$SECONDS" -lt "$2" ]; do
        pid=$(pgrep -n -x Pendock)
        if [ -n "$pid" ] && ls -l "/proc/$pid/fd" 2>/dev/null | grep -q ' /media/'; then
            echo "searching at $(stamp)"
            exit 0
        fi
        sleep 0.05
    done
    echo "no folder of the key held open within $2 s"
    exit 1
    ;;
*)
    echo "usage: see the head of $0" >&2
    exit 2
    ;;
esac
