#!/usr/bin/python3
"""A desktop's automounter, as file managers have one: a long-running process of the desktop
user that listens to udev and has udisks2 mount every new filesystem on USB at once.

Each outcome goes to LOG as "<uptime> mounted <device> <seconds since udev's event>" when the
device ends up mounted (by this call or by someone else's), or "<uptime> failed <device> <why>".

    desktop_automount.py LOG
"""
import subprocess
import sys
import time

import dbus


def uptime():
    with open("/proc/uptime") as f:
        return float(f.read().split()[0])


def main(log_path):
    bus = dbus.SystemBus()
    monitor = subprocess.Popen(["udevadm", "monitor", "--udev", "-s", "block", "--property"],
                               stdout=subprocess.PIPE, text=True)
    tried, props = set(), {}
    with open(log_path, "a", buffering=1) as log:
        log.write(f"{uptime():.2f} listening\n")
        for line in monitor.stdout:
            line = line.rstrip("\n")
            if line:
                key, _, value = line.partition("=")
                props[key] = value
                continue
            event, props = props, {}
            dev = event.get("DEVNAME", "")
            if event.get("ACTION") == "remove":
                tried.discard(dev)
                continue
            if (event.get("ACTION") not in ("add", "change") or event.get("ID_BUS") != "usb"
                    or event.get("ID_FS_USAGE") != "filesystem" or dev in tried):
                continue
            tried.add(dev)
            seen = uptime()
            path = "/org/freedesktop/UDisks2/block_devices/" + dev.rsplit("/", 1)[-1]
            for _ in range(50):  # udisks takes up the device just after udev
                try:
                    bus.get_object("org.freedesktop.UDisks2", path).Mount(
                        dbus.Dictionary({"auth.no_user_interaction": True}, signature="sv"),
                        dbus_interface="org.freedesktop.UDisks2.Filesystem", timeout=30)
                    outcome = "mounted"
                except dbus.DBusException as e:
                    name = e.get_dbus_name()
                    if name in ("org.freedesktop.DBus.Error.UnknownMethod",
                                "org.freedesktop.DBus.Error.UnknownObject"):
                        time.sleep(0.05)
                        continue
                    outcome = "mounted" if "AlreadyMounted" in name else "failed"
                    if outcome == "failed":
                        dev += " " + name
                break
            else:
                outcome, dev = "failed", dev + " unknown-to-udisks"
            log.write(f"{uptime():.2f} {outcome} {dev} {uptime() - seen:.2f}\n")


if __name__ == "__main__":
    main(sys.argv[1])
