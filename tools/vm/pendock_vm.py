#!/usr/bin/env python3
"""A Debian kernel in QEMU with USB mass-storage devices hot-plugged into its xHCI controller.

The guest boots Debian's own kernel (downloaded as a package into the build folder, never
installed), mounts this machine's root read-only over virtio-9p and runs the project's build
with the machine's own udev, D-Bus, polkit, udisks, Xvfb and Qt. Its system disk is a small
throwaway ext4 image, so that / is a real disk as on a desktop. The host drives it through two
channels: QMP for hot-plug, and a writable 9p share into which it drops shell scripts that
the guest runs and whose results it writes back.

    pendock_vm.py prepare CACHE      download the kernel, build initramfs and system disk
    pendock_vm.py shell CACHE        boot a guest and run commands typed on stdin (debugging)
"""

import contextlib
import gzip
import hashlib
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
SOURCE_DIR = HERE.parent.parent

# Modules the guest loads at boot, with their dependencies taken from modules.dep.
MODULES = [
    "virtio_pci", "virtio_blk", "9pnet_virtio", "9p", "overlay", "ext4",
    "crc32c_generic", "xhci-pci", "usb-storage", "uas", "sd_mod", "sr_mod", "isofs", "vfat",
    "nls_cp437", "nls_iso8859-1", "nls_utf8", "nls_ascii", "exfat", "fuse", "loop",
]
SKELETON_DIRS = ["usr", "opt", "etc", "var", "tmp", "run", "home", "root", "proc", "sys",
                 "dev", "media", "mnt", "srv", "host", "share"]
SKELETON_LINKS = {"bin": "usr/bin", "sbin": "usr/sbin", "lib": "usr/lib", "lib64": "usr/lib64"}
NEEDED_TOOLS = ["qemu-system-x86_64", "mke2fs", "dpkg-deb", "depmod", "apt-get"]


class VmUnavailable(Exception):
    """The machine lacks something the guest needs; the message says what."""


# Folders the guest's first stage mounts over or moves into place: a host folder below one of
# them cannot be shown at its own path.
SHADOWED = ("/proc", "/sys", "/dev")


def unreachable(path):
    """Why the guest cannot see the host folder PATH at its own path, or None if it can.

    The path travels on the kernel's command line, which splits at white space."""
    text = str(path)
    if not text.startswith("/") or any(c.isspace() or not c.isprintable() for c in text):
        return f"{text!r} cannot be passed to the guest (white space or control characters)"
    for top in SHADOWED:
        if text == top or text.startswith(top + "/"):
            return f"{text} lies below {top}, which the guest mounts anew"
    return None


def log(msg):
    print(f"[vm {time.strftime('%H:%M:%S')}] {msg}", flush=True)


# ---- preparing the kernel, the initramfs and the system disk -------------------------------------

def missing_tools():
    missing = [t for t in NEEDED_TOOLS if not shutil.which(t)]
    if not Path("/bin/busybox").exists() and not shutil.which("busybox"):
        missing.append("busybox (busybox-static)")
    return missing


def kernel_package():
    out = subprocess.run(["apt-cache", "depends", "linux-image-amd64"], capture_output=True,
                         text=True).stdout
    for line in out.splitlines():
        line = line.strip()
        if line.startswith("Depends: linux-image-"):
            return line.split()[1]
    raise VmUnavailable("apt knows no linux-image-amd64 (run apt-get update)")


def fetch_kernel(cache):
    debs = sorted(cache.glob("linux-image-*-amd64_*.deb"))
    if debs:
        return debs[-1]
    package = kernel_package()
    log(f"downloading {package}")
    res = subprocess.run(["apt-get", "download", "-q", package], cwd=cache,
                         capture_output=True, text=True)
    debs = sorted(cache.glob("linux-image-*-amd64_*.deb"))
    if res.returncode != 0 or not debs:
        raise VmUnavailable(f"apt-get download {package} failed: {res.stderr.strip()}")
    return debs[-1]


def load_order(modules_dir):
    """The module files to load, each after its dependencies."""
    deps, names = {}, {}
    for line in (modules_dir / "modules.dep").read_text().splitlines():
        mod, _, rest = line.partition(":")
        deps[mod] = rest.split()
        names[Path(mod).name.split(".ko")[0].replace("-", "_")] = mod
    order = []

    def visit(mod):
        if mod in order:
            return
        for dep in reversed(deps.get(mod, [])):
            visit(dep)
        order.append(mod)

    for name in MODULES:
        mod = names.get(name.replace("-", "_"))
        if mod is None:
            raise VmUnavailable(f"the kernel package has no module {name}")
        visit(mod)
    return order


def write_cpio(path, root):
    """An uncompressed-content, gzip-compressed newc archive of the folder `root`."""
    def entry(out, name, mode, data=b"", ino=[1]):
        ino[0] += 1
        namez = name.encode() + b"\0"
        head = b"070701" + b"".join(b"%08X" % v for v in (
            ino[0], mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(namez), 0))
        out.write(head + namez)
        out.write(b"\0" * ((4 - (110 + len(namez)) % 4) % 4))
        out.write(data)
        out.write(b"\0" * ((4 - len(data) % 4) % 4))

    with gzip.open(path, "wb", compresslevel=1) as out:
        for dirpath, dirnames, filenames in os.walk(root):
            dirnames.sort()
            rel = os.path.relpath(dirpath, root)
            if rel != ".":
                entry(out, rel, 0o040755)
            for f in sorted(filenames):
                full = Path(dirpath) / f
                name = os.path.normpath(os.path.join(rel, f))
                mode = 0o100755 if os.access(full, os.X_OK) else 0o100644
                entry(out, name, mode, full.read_bytes())
        entry(out, "TRAILER!!!", 0)


def prepare(cache):
    """Kernel, initramfs and system disk in `cache`, made once and then reused."""
    cache = Path(cache)
    cache.mkdir(parents=True, exist_ok=True)
    missing = missing_tools()
    if missing:
        raise VmUnavailable("missing " + ", ".join(missing) + " (tools/install-deps installs them)")
    busybox = Path("/bin/busybox") if Path("/bin/busybox").exists() else Path(shutil.which("busybox"))
    init = (HERE / "init").read_bytes()
    stamp = hashlib.sha256(init + busybox.read_bytes()[:4096] + " ".join(MODULES).encode() +
                           b"v2").hexdigest()
    ready = cache / "ready"
    if ready.exists() and ready.read_text() == stamp:
        return cache
    deb = fetch_kernel(cache)
    log(f"unpacking {deb.name}")
    with tempfile.TemporaryDirectory(dir=cache) as tmp:
        tmp = Path(tmp)
        subprocess.run(["dpkg-deb", "-x", str(deb), str(tmp / "x")], check=True)
        release = next((tmp / "x/lib/modules").iterdir()).name
        subprocess.run(["depmod", "-b", str(tmp / "x"), release], check=True)
        moddir = tmp / "x/lib/modules" / release
        order = load_order(moddir)
        rd = tmp / "initramfs"
        for d in ("bin", "proc", "sys", "dev", "newroot", "modules"):
            (rd / d).mkdir(parents=True)
        shutil.copy(busybox, rd / "bin/busybox")
        shutil.copy(HERE / "init", rd / "init")
        os.chmod(rd / "init", 0o755)
        for mod in order:
            shutil.copy(moddir / mod, rd / "modules" / Path(mod).name)
        (rd / "modules.order").write_text("\n".join(Path(m).name for m in order) + "\n")
        write_cpio(cache / "initrd.gz", rd)
        shutil.copy(next((tmp / "x/boot").glob("vmlinuz-*")), cache / "vmlinuz")
        sk = tmp / "skeleton"
        for d in SKELETON_DIRS:
            (sk / d).mkdir(parents=True)
        for name, target in SKELETON_LINKS.items():
            os.symlink(target, sk / name)
        img = cache / "system.img"
        img.unlink(missing_ok=True)
        subprocess.run(["mke2fs", "-q", "-t", "ext4", "-L", "system", "-d", str(sk), str(img),
                        "64M"], check=True)
        log(f"kernel {release}: {len(order)} modules, initramfs "
            f"{(cache / 'initrd.gz').stat().st_size // 1024} KiB")
    ready.write_text(stamp)
    return cache


# ---- the guest -----------------------------------------------------------------------------------

class Qmp:
    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.connect(str(path))
        self.file = self.sock.makefile("rw")
        self.events = []
        self._read()  # greeting
        self.call("qmp_capabilities")

    def _read(self):
        line = self.file.readline()
        if not line:
            raise RuntimeError("QEMU closed its QMP connection")
        return json.loads(line)

    def call(self, command, **args):
        self.file.write(json.dumps({"execute": command, "arguments": args}) + "\n")
        self.file.flush()
        while True:
            msg = self._read()
            if "event" in msg:
                self.events.append(msg)
                continue
            if "error" in msg:
                raise RuntimeError(f"QMP {command} {args}: {msg['error'].get('desc')}")
            return msg.get("return")

    def wait_event(self, name, timeout, **data):
        until = time.monotonic() + timeout
        while True:
            for i, ev in enumerate(self.events):
                if ev["event"] == name and all(ev.get("data", {}).get(k) == v
                                               for k, v in data.items()):
                    return self.events.pop(i)
            left = until - time.monotonic()
            if left <= 0:
                raise TimeoutError(f"no QMP event {name} {data}")
            self.sock.settimeout(left)
            try:
                msg = self._read()
            except socket.timeout:
                continue
            finally:
                self.sock.settimeout(None)
            if "event" in msg:
                self.events.append(msg)


class Command:
    """A script running in the guest."""

    def __init__(self, guest, path):
        self.guest, self.path = guest, path

    def done(self):
        return Path(str(self.path) + ".rc").exists()

    def wait(self, timeout):
        until = time.monotonic() + timeout
        while not self.done():
            self.guest.check_alive()
            if time.monotonic() > until:
                raise TimeoutError(f"guest command {self.path.name} still running after {timeout} s")
            time.sleep(0.05)
        rc = int(Path(str(self.path) + ".rc").read_text().strip() or "-1")
        return rc, Path(str(self.path) + ".out").read_text(errors="replace")


class Guest:
    def __init__(self, cache, workdir, accel=None, build=None):
        self.cache = Path(cache).resolve()
        # A build folder outside the project tree is bound at its own path as well.
        self.build = Path(build).resolve() if build else None
        self.workdir = Path(workdir).resolve()
        self.share = self.workdir / "share"
        self.accel = accel
        self.proc = None
        self.qmp = None
        self.counter = 0
        self.boot_seconds = None

    # -- life

    def _qemu_args(self, accel):
        qmp = self.workdir / "qmp.sock"
        return [
            "qemu-system-x86_64", "-nodefaults", "-no-user-config", "-display", "none",
            "-accel", "tcg,thread=multi" if accel == "tcg" else "kvm",
            "-cpu", "max" if accel == "tcg" else "host", "-smp", "2", "-m", "2048",
            "-kernel", str(self.cache / "vmlinuz"), "-initrd", str(self.cache / "initrd.gz"),
            "-append", f"console=ttyS0 quiet panic=-1 pendock.src={SOURCE_DIR}"
            + (f" pendock.build={self.build}" if self.build else ""),
            "-no-reboot", "-serial", f"file:{self.workdir / 'console.log'}",
            "-drive", f"file={self.cache / 'system.img'},if=virtio,format=raw,snapshot=on",
            "-fsdev", "local,id=hostroot,path=/,security_model=none,readonly=on",
            "-device", "virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot",
            "-fsdev", f"local,id=share,path={self.share},security_model=none",
            "-device", "virtio-9p-pci,fsdev=share,mount_tag=share",
            "-device", "qemu-xhci,id=xhci,p2=8,p3=8",  # ports 1-8, each USB 2 and USB 3
            "-qmp", f"unix:{qmp},server=on,wait=off",
        ]

    def _start(self, accel):
        if self.share.exists():
            shutil.rmtree(self.share)
        (self.share / "cmd").mkdir(parents=True)
        os.chmod(self.share, 0o777)
        (self.workdir / "console.log").unlink(missing_ok=True)
        (self.workdir / "qmp.sock").unlink(missing_ok=True)
        self.proc = subprocess.Popen(self._qemu_args(accel), stdin=subprocess.DEVNULL,
                                     stdout=open(self.workdir / "qemu.log", "w"),
                                     stderr=subprocess.STDOUT)
        for _ in range(100):
            if (self.workdir / "qmp.sock").exists() or self.proc.poll() is not None:
                break
            time.sleep(0.05)
        try:
            self.qmp = Qmp(self.workdir / "qmp.sock")
        except (OSError, RuntimeError):
            self.proc.wait(5)  # QEMU refused to start with this accelerator
            return False
        return True

    def console(self):
        with contextlib.suppress(OSError):
            return (self.workdir / "console.log").read_text(errors="replace")
        return ""

    def _wait_for(self, what, timeout):
        until = time.monotonic() + timeout
        while time.monotonic() < until:
            if what():
                return True
            if self.proc.poll() is not None:
                return False
            time.sleep(0.1)
        return False

    def boot(self, timeout=240):
        self.workdir.mkdir(parents=True, exist_ok=True)
        start = time.monotonic()
        accels = [self.accel] if self.accel else ["kvm", "tcg"]
        if "kvm" in accels and not os.access("/dev/kvm", os.R_OK | os.W_OK):
            accels.remove("kvm")
        for accel in accels:
            if not self._start(accel):
                log(f"QEMU does not start with {accel}: "
                    + (self.workdir / "qemu.log").read_text(errors="replace").strip()[-300:])
                continue
            if accel == "kvm" and len(accels) > 1:
                # Some hosts' KVM boots only kernels built for it: a short probe decides.
                if not self._wait_for(lambda: "pendock-vm: initramfs" in self.console(), 8):
                    log("KVM does not boot this kernel: software emulation (TCG)")
                    self.stop()
                    continue
            if self._wait_for(lambda: (self.share / "ready").exists(), timeout):
                self.boot_seconds = time.monotonic() - start
                log(f"guest ready after {self.boot_seconds:.1f} s ({accel})")
                self.accel = accel
                return self
            tail = self.console()[-3000:]
            self.stop()
            raise RuntimeError(f"guest not ready within {timeout} s; console:\n{tail}")
        raise VmUnavailable("no accelerator boots the guest")

    def check_alive(self):
        if self.proc.poll() is not None:
            raise RuntimeError("QEMU ended; console:\n" + self.console()[-3000:])

    def stop(self):
        if self.proc and self.proc.poll() is None:
            with contextlib.suppress(Exception):
                (self.share / "poweroff").touch()
                self.qmp.call("quit")
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None

    def __enter__(self):
        return self.boot()

    def __exit__(self, *exc):
        self.stop()

    # -- commands

    def start(self, script):
        self.counter += 1
        path = self.share / "cmd" / f"{self.counter:04d}.sh"
        tmp = path.with_suffix(".tmp")
        tmp.write_text("set -u\n" + script)
        tmp.rename(path)
        return Command(self, path)

    def run(self, script, timeout=60):
        return self.start(script).wait(timeout)

    def must(self, script, timeout=60):
        rc, out = self.run(script, timeout)
        if rc != 0:
            raise RuntimeError(f"guest command failed ({rc}):\n{script}\n{out}")
        return out

    # -- USB devices

    def _blockdev(self, node, image, readonly=False):
        self.qmp.call("blockdev-add", **{"node-name": node, "driver": "raw", "read-only": readonly,
                                         "file": {"driver": "file", "filename": str(image)}})

    def plug_stick(self, dev_id, image, serial=None, port="1", vendor=None, product=None,
                   rev=None):
        """A USB stick (Bulk-Only transport, one LUN) with the INQUIRY texts given."""
        self.plug_reader(dev_id, [dict(image=image, vendor=vendor, product=product, rev=rev)],
                         serial=serial, port=port)

    def plug_reader(self, dev_id, luns, serial=None, port="1", uas=False):
        """A Bulk-Only (or UAS) device with one scsi-hd or scsi-cd per LUN."""
        usb = {"driver": "usb-uas" if uas else "usb-bot", "id": dev_id, "bus": "xhci.0",
               "port": port}
        if serial is not None:
            usb["serial"] = serial
        self.qmp.call("device_add", **usb)
        for lun, medium in enumerate(luns):
            node = f"{dev_id}-n{lun}"
            cd = medium.get("cdrom", False)
            self._blockdev(node, medium["image"], readonly=cd)
            scsi = {"driver": "scsi-cd" if cd else "scsi-hd", "id": f"{dev_id}-l{lun}",
                    "bus": f"{dev_id}.0", "drive": node, "scsi-id": 0, "lun": lun}
            if uas:
                scsi["scsi-id"], scsi["lun"] = lun, 0
            for key in ("vendor", "product", "ver"):
                value = medium.get("rev" if key == "ver" else key)
                if value is not None:
                    scsi[key] = value
            self.qmp.call("device_add", **scsi)
        # Both are added detached, so that the host sees them only with all their LUNs.
        self.qmp.call("qom-set", path=dev_id, property="attached", value=True)
        self.plugged = getattr(self, "plugged", {})
        self.plugged[dev_id] = len(luns)

    def throttle(self, dev_id, iops, lun=0):
        """Reads and writes of the device's LUN limited to `iops` a second (0: unlimited), as a
        slow or failing key answers."""
        self.qmp.call("block_set_io_throttle", id=f"{dev_id}-l{lun}", bps=0, bps_rd=0,
                      bps_wr=0, iops=iops, iops_rd=0, iops_wr=0)

    def unplug(self, dev_id, timeout=20):
        luns = self.plugged.pop(dev_id)
        self.qmp.call("device_del", id=dev_id)
        self.qmp.wait_event("DEVICE_DELETED", timeout, device=dev_id)
        for lun in range(luns):
            with contextlib.suppress(TimeoutError):
                self.qmp.wait_event("DEVICE_DELETED", 2, device=f"{dev_id}-l{lun}")
            for _ in range(20):  # the node is freed once its user is gone
                try:
                    self.qmp.call("blockdev-del", **{"node-name": f"{dev_id}-n{lun}"})
                    break
                except RuntimeError:
                    time.sleep(0.1)


# ---- key images ----------------------------------------------------------------------------------

def make_fat_image(path, package_id, label="QVKEY", partitioned=True, size_mb=16,
                   folder="Quorvento/Packages"):
    """A FAT disk image whose filesystem holds <folder>/package.id, optionally partitioned."""
    path = Path(path)
    if not partitioned:
        return make_fat_fs(path, size_mb, label, {f"{folder}/package.id": package_id + "\r\n"})
    fs_img = make_fat_fs(path.with_suffix(".fs"), size_mb - 1, label,
                         {f"{folder}/package.id": package_id + "\r\n"})
    make_disk(path, [(fs_img, "c")])
    fs_img.unlink()
    return path


def make_fat_fs(path, size_mb, label, files):
    """A FAT filesystem image holding `files` (path on it: text), their folders made first in
    the order given, as a person copying them would."""
    path = Path(path)
    path.unlink(missing_ok=True)
    subprocess.run(["mkfs.vfat", "-C", "-n", label, str(path), str(size_mb * 1024)], check=True,
                   capture_output=True)
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    made = set()
    with tempfile.TemporaryDirectory() as tmp:
        for name, text in files.items():
            parts = name.split("/")
            for i in range(1, len(parts)):
                folder = "/".join(parts[:i])
                if folder not in made:
                    subprocess.run(["mmd", "-i", str(path), "::/" + folder], check=True,
                                   env=env, capture_output=True)
                    made.add(folder)
            src = Path(tmp) / "file"
            src.write_bytes(text.encode())
            subprocess.run(["mcopy", "-i", str(path), str(src), "::/" + name], check=True,
                           env=env, capture_output=True)
    return path


def make_disk(path, partitions):
    """A DOS-partitioned disk image from filesystem images: [(image, type), ...], one MiB
    apart, in that order."""
    sizes = [(Path(img).stat().st_size + (1 << 20) - 1) >> 20 for img, _ in partitions]
    size_mb = 1 + sum(sizes)
    table = "label: dos\n"
    start = 2048
    for (img, ptype), mb in zip(partitions, sizes):
        table += f"start={start}, size={mb * 2048}, type={ptype}\n"
        start += mb * 2048
    with open(path, "wb") as out:
        out.truncate(size_mb << 20)
    subprocess.run(["sfdisk", "-q", str(path)], input=table, text=True, check=True,
                   capture_output=True)
    start = 2048
    with open(path, "r+b") as out:
        for (img, _), mb in zip(partitions, sizes):
            out.seek(start * 512)
            with open(img, "rb") as src:
                shutil.copyfileobj(src, out)
            start += mb * 2048
    return Path(path)


def make_iso_image(path, label="QVDISC"):
    with tempfile.TemporaryDirectory() as tmp:
        (Path(tmp) / "README.TXT").write_text("disc\n")
        subprocess.run(["genisoimage", "-quiet", "-V", label, "-o", str(path), tmp], check=True)
    return Path(path)


def main(argv):
    if len(argv) < 3 or argv[1] not in ("prepare", "shell"):
        print(__doc__)
        return 2
    try:
        cache = prepare(argv[2])
    except VmUnavailable as e:
        print(f"pendock_vm: {e}", file=sys.stderr)
        return 1
    if argv[1] == "shell":
        with Guest(cache, Path(argv[2]) / "shell") as g:
            for line in sys.stdin:
                rc, out = g.run(line, timeout=120)
                print(out, end="")
                print(f"[rc {rc}]")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
