"""A udisks2 stand-in for the end-to-end test under Wine (a python-dbusmock template).

Wine's mount manager asks udisks2 on the system bus for its managed objects and listens for
InterfacesAdded; AddVolume announces a mounted volume as udisks2 does when a key is plugged in:
a drive object first, then the block device with its Block and Filesystem interfaces, then one
InterfacesAdded for the block device.

  AddVolume(name, device, mount_point, id_type, media)
    name         the objects' last path element (block_devices/NAME, drives/NAME)
    device       the Unix device, such as /dev/sdx1
    mount_point  the folder the volume is mounted on
    id_type      the file system: vfat (a removable disk) or iso9660 (a CD-ROM)
    media        the drive's MediaCompatibility, such as thumb or optical_cd
"""
import dbus

BUS_NAME = "org.freedesktop.UDisks2"
MAIN_OBJ = "/org/freedesktop/UDisks2"
MAIN_IFACE = "org.freedesktop.UDisks2.Manager"
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

ADD_VOLUME = """
name, device, mount_point, id_type, media = args
drive = '/org/freedesktop/UDisks2/drives/' + name
block = '/org/freedesktop/UDisks2/block_devices/' + name
# udisks2 hands out paths as NUL-terminated byte arrays.
def path_bytes(text):
    return dbus.Array([dbus.Byte(b) for b in text.encode() + b'\\0'], signature='y')
self.AddObject(drive, 'org.freedesktop.UDisks2.Drive', {
    'Removable': dbus.Boolean(True),
    'MediaCompatibility': dbus.Array([media], signature='s'),
    'Id': dbus.String('Pendock-E2E-' + name),
}, [])
self.AddObject(block, 'org.freedesktop.UDisks2.Filesystem', {
    'MountPoints': dbus.Array([path_bytes(mount_point)], signature='ay'),
}, [])
objects[block].AddProperties('org.freedesktop.UDisks2.Block', {
    'Device': path_bytes(device),
    'IdType': dbus.String(id_type),
    'Drive': dbus.ObjectPath(drive),
})
self.object_manager_emit_added(block)
"""


def load(mock, parameters):
    mock.AddMethods(MAIN_IFACE, [("AddVolume", "sssss", "", ADD_VOLUME)])
