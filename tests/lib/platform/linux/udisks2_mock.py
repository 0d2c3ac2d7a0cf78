"""A udisks2 stand-in for the automount tests (a python-dbusmock template).

Block devices whose Filesystem.Mount answers: sdb1 mounts, sdc1 is refused as polkit refuses
a remote session, sdd1 answers only after 3 s. Each refuses a call that could prompt the user
for a password (no "auth.no_user_interaction" set).
"""
import dbus

BUS_NAME = "org.freedesktop.UDisks2"
MAIN_OBJ = "/org/freedesktop/UDisks2"
MAIN_IFACE = "org.freedesktop.UDisks2.Manager"
SYSTEM_BUS = True

GUARD = ("if not args[0].get('auth.no_user_interaction'):\n"
         "    raise dbus.exceptions.DBusException('would prompt',"
         " name='org.freedesktop.UDisks2.Error.Failed')\n")
ANSWERS = {
    "sdb1": "ret = '/media/desk/QVKEY'",
    "sdc1": ("raise dbus.exceptions.DBusException('Not authorized to perform operation',"
             " name='org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain')"),
    "sdd1": "import time\ntime.sleep(3)\nret = '/media/desk/SLOW'",
}


def load(mock, parameters):
    for name, answer in ANSWERS.items():
        mock.AddObject(f"{MAIN_OBJ}/block_devices/{name}", "org.freedesktop.UDisks2.Filesystem",
                       {}, [("Mount", "a{sv}", "s", GUARD + answer)])
