"""A udisks2 stand-in for the automount tests (a python-dbusmock template).

Block devices whose Filesystem.Mount answers: sdb1 mounts, sdc1 is refused as polkit refuses
a remote session, sdd1 answers only after 3 s, dm-1 and odd_1 mount (names udisks2 writes into
object paths its own way). Each refuses a call that could prompt the user for a password (no
"auth.no_user_interaction" set). The manager's ResolveDevice finds a device's object by its
device file, as udisks2 does.
"""
import dbus
from dbusmock import mockobject

BUS_NAME = "org.freedesktop.UDisks2"
MAIN_OBJ = "/org/freedesktop/UDisks2"
MAIN_IFACE = "org.freedesktop.UDisks2.Manager"
SYSTEM_BUS = True

BLOCK_IFACE = "org.freedesktop.UDisks2.Block"
GUARD = ("if not args[0].get('auth.no_user_interaction'):\n"
         "    raise dbus.exceptions.DBusException('would prompt',"
         " name='org.freedesktop.UDisks2.Error.Failed')\n")
ANSWERS = {
    "sdb1": "ret = '/media/desk/QVKEY'",
    "sdc1": ("raise dbus.exceptions.DBusException('Not authorized to perform operation',"
             " name='org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain')"),
    "sdd1": "import time\ntime.sleep(3)\nret = '/media/desk/SLOW'",
    "dm-1": "ret = '/media/desk/DASHED'",
    "odd_1": "ret = '/media/desk/UNDERSCORED'",
}
RESOLVE = ("device = dbus.ByteArray(args[0].get('path', '').encode() + b'\\0')\n"
           "ret = []\n"
           "for path, obj in objects.items():\n"
           f"    if obj.props.get('{BLOCK_IFACE}', {{}}).get('Device') == device:\n"
           "        ret.append(dbus.ObjectPath(path))\n")


def object_name(name):
    """The last element of the object path udisks2 gives a block device: letters, digits and
    "_" as they are, every other byte as _XX (hex)."""
    return "".join(c if c.isascii() and (c.isalnum() or c == "_") else f"_{ord(c):02x}"
                   for c in name)


def load(mock, parameters):
    mock.AddObject(f"{MAIN_OBJ}/Manager", MAIN_IFACE, {},
                   [("ResolveDevice", "a{sv}a{sv}", "ao", RESOLVE)])
    for name, answer in ANSWERS.items():
        path = f"{MAIN_OBJ}/block_devices/{object_name(name)}"
        mock.AddObject(path, "org.freedesktop.UDisks2.Filesystem", {},
                       [("Mount", "a{sv}", "s", GUARD + answer)])
        device = dbus.ByteArray(f"/dev/{name}".encode() + b"\0")
        mockobject.objects[path].AddProperty(BLOCK_IFACE, "Device", device)
