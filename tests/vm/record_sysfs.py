#!/usr/bin/env python3
"""Records what key identification reads of this machine: the sysfs chain of every disk (from
the PCI device down to the disk and its partitions, with the attributes and links on the way)
and the mount table, into OUT/sysfs.txt and OUT/mountinfo.

sysfs.txt holds one entry a line: "D path" a folder, "F path value" an attribute (its text with
backslashes, blanks and control characters as \\xNN), "L path target" a link as the kernel
wrote it. Paths are relative to /sys. Kept as text so that names with colons never reach a
file system that refuses them.

    record_sysfs.py OUT
"""
import os
import sys

ATTRIBUTES = {"dev", "diskseq", "size", "removable", "ro", "partition", "start", "vendor",
              "model", "rev", "type", "bInterfaceClass", "bInterfaceSubClass",
              "bInterfaceProtocol", "bInterfaceNumber", "idVendor", "idProduct", "serial",
              "manufacturer", "product", "busnum", "devnum", "speed"}


def escape(text):
    return "".join(c if 0x20 < ord(c) < 0x7F and c != "\\" else "\\x%02X" % ord(c)
                   for c in text)


def record(out):
    entries = {}

    def folder(rel):
        parts = rel.split("/")
        for i in range(1, len(parts) + 1):
            entries.setdefault("D " + "/".join(parts[:i]), None)

    def attributes(rel):
        folder(rel)
        for name in sorted(ATTRIBUTES):
            path = f"/sys/{rel}/{name}"
            if os.path.isfile(path) and not os.path.islink(path):
                try:
                    with open(path, "rb") as f:
                        value = f.read(4096).decode("latin-1")
                except OSError:
                    continue
                if value.endswith("\n"):
                    value = value[:-1]
                entries[f"F {rel}/{name}"] = escape(value)

    def link(rel):
        entries[f"L {rel}"] = os.readlink(f"/sys/{rel}")
        folder(os.path.dirname(rel))

    for disk in sorted(os.listdir("/sys/block")):
        link(f"block/{disk}")
        link(f"class/block/{disk}")
        real = os.path.relpath(os.path.realpath(f"/sys/block/{disk}"), "/sys")
        parts = real.split("/")
        for i in range(2, len(parts) + 1):  # devices/... down to the disk
            attributes("/".join(parts[:i]))
        if os.path.islink(f"/sys/{real}/device"):
            link(f"{real}/device")
        for dev in [real] + [f"{real}/{p}" for p in sorted(os.listdir(f"/sys/{real}"))
                             if os.path.isfile(f"/sys/{real}/{p}/partition")]:
            attributes(dev)
            name = os.path.basename(dev)
            if dev != real:
                link(f"class/block/{name}")
            with open(f"/sys/{dev}/dev") as f:
                link(f"dev/block/{f.read().strip()}")
    os.makedirs(out, exist_ok=True)
    with open(os.path.join(out, "sysfs.txt"), "w") as f:
        f.write(f"# recorded on Linux {os.uname().release}\n")
        for key in sorted(entries, key=lambda k: (k[0] != "D", k)):
            f.write(key + ("" if entries[key] is None else " " + entries[key]) + "\n")
    with open("/proc/self/mountinfo") as src, open(os.path.join(out, "mountinfo"), "w") as dst:
        dst.write(src.read())


if __name__ == "__main__":
    record(sys.argv[1])
