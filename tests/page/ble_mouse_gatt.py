'''The mouse as BlueZ shows it, added to python3-dbusmock's bluez5 mock with AddTemplate.

The bluez5 template has adapters and devices but no GATT objects and emits no signals for
objects added later; this adds the Device1 of the mouse (or of a stranger), its GattService1
and the two GattCharacteristic1 objects 0xFEE3 (write) and 0xFEE4 (notify), with the signals
BlueZ sends. WriteValue hands the value to the test's simulated mouse, which serves
org.brevak.MouseRig.Write on the same bus, and answers only after the mouse has taken it.
The test drives everything through the Rig* methods on "/".
'''

import dbus

from dbusmock import OBJECT_MANAGER_IFACE, mockobject

RIG_IFACE = 'org.brevak.MouseRig'
RIG_NAME = 'org.brevak.MouseRig'
RIG_PATH = '/mouse'
DEVICE_IFACE = 'org.bluez.Device1'
SERVICE_IFACE = 'org.bluez.GattService1'
CHAR_IFACE = 'org.bluez.GattCharacteristic1'
WRITE_UUID = '0000fee3-0000-1000-8000-00805f9b34fb'
NOTIFY_UUID = '0000fee4-0000-1000-8000-00805f9b34fb'
SERVICE_UUID = '0000fee0-0000-1000-8000-00805f9b34fb'


def load(_mock, _parameters):
    pass


def _emit_added(path, interface):
    mockobject.objects['/'].EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesAdded', 'oa{sa{sv}}', [
        dbus.ObjectPath(path), {interface: mockobject.objects[path].props[interface]}])


def _emit_removed(path, interface):
    mockobject.objects['/'].EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesRemoved', 'oas', [
        dbus.ObjectPath(path), dbus.Array([interface], signature='s')])


def _connected(device_path):
    device = mockobject.objects.get(device_path)
    return device is not None and bool(device.props[DEVICE_IFACE]['Connected'])


def _write_value(char, value, _options):
    char.writes += 1
    if not _connected(char.device_path):
        raise dbus.exceptions.DBusException('Not connected', name='org.bluez.Error.NotConnected')
    try:
        dbus.SystemBus().call_blocking(RIG_NAME, RIG_PATH, RIG_IFACE, 'Write', 'ay',
                                       [dbus.ByteArray(bytes(value))], timeout=10)
    except dbus.exceptions.DBusException as e:
        raise dbus.exceptions.DBusException(str(e), name='org.bluez.Error.Failed')


def _set_notifying(char, on):
    if on and not _connected(char.device_path):
        raise dbus.exceptions.DBusException('Not connected', name='org.bluez.Error.NotConnected')
    char.UpdateProperties(CHAR_IFACE, {'Notifying': dbus.Boolean(on, variant_level=1)})


def _start_notify(char):
    _set_notifying(char, True)


def _stop_notify(char):
    _set_notifying(char, False)


@dbus.service.method(RIG_IFACE, in_signature='sssbb', out_signature='o')
def RigAddDevice(_self, adapter_path, address, modalias, paired, connected):
    '''A Device1 with all its properties at once, as BlueZ announces a known device.'''
    path = adapter_path + '/dev_' + address.replace(':', '_').upper()
    props = {
        'Address': dbus.String(address, variant_level=1),
        'AddressType': dbus.String('random', variant_level=1),
        'Name': dbus.String('BREVAK APEX', variant_level=1),
        'Alias': dbus.String('BREVAK APEX', variant_level=1),
        'Adapter': dbus.ObjectPath(adapter_path, variant_level=1),
        'Modalias': dbus.String(modalias, variant_level=1),
        'Paired': dbus.Boolean(paired, variant_level=1),
        'Connected': dbus.Boolean(connected, variant_level=1),
        'ServicesResolved': dbus.Boolean(connected, variant_level=1),
        'Trusted': dbus.Boolean(True, variant_level=1),
        'UUIDs': dbus.Array([SERVICE_UUID], signature='s', variant_level=1),
    }
    mockobject.objects['/'].AddObject(path, DEVICE_IFACE, props, [])
    _emit_added(path, DEVICE_IFACE)
    return dbus.ObjectPath(path)


@dbus.service.method(RIG_IFACE, in_signature='su', out_signature='')
def RigAddStrangers(self, adapter_path, count):
    '''`count` paired, connected devices of another maker, addresses 00:00:..., each with the
    mouse's service.'''
    for i in range(count):
        address = ':'.join(f'{b:02X}' for b in (0, 0, 0, i >> 16 & 0xFF, i >> 8 & 0xFF, i & 0xFF))
        device = RigAddDevice(self, adapter_path, address, 'usb:v046Dp0059d0001', True, True)
        RigAddGatt(self, device, device + '/service0010')


@dbus.service.method(RIG_IFACE, in_signature='oo', out_signature='')
def RigAddGatt(_self, device_path, service_path):
    '''The mouse's service at `service_path` with 0xFEE3 and 0xFEE4 below it. The service
    names `device_path` as its device even when it does not lie under it.'''
    root = mockobject.objects['/']
    root.AddObject(service_path, SERVICE_IFACE, {
        'UUID': dbus.String(SERVICE_UUID, variant_level=1),
        'Device': dbus.ObjectPath(device_path, variant_level=1),
        'Primary': dbus.Boolean(True, variant_level=1),
    }, [])
    _emit_added(service_path, SERVICE_IFACE)
    for suffix, uuid, flags, methods in (
            ('/char0011', WRITE_UUID, ['write', 'write-without-response'],
             [('WriteValue', 'aya{sv}', '', _write_value)]),
            ('/char0014', NOTIFY_UUID, ['notify'],
             [('StartNotify', '', '', _start_notify), ('StopNotify', '', '', _stop_notify)])):
        path = service_path + suffix
        root.AddObject(path, CHAR_IFACE, {
            'UUID': dbus.String(uuid, variant_level=1),
            'Service': dbus.ObjectPath(service_path, variant_level=1),
            'Flags': dbus.Array(flags, signature='s', variant_level=1),
            'Value': dbus.Array([], signature='y', variant_level=1),
            'Notifying': dbus.Boolean(False, variant_level=1),
        }, methods)
        char = mockobject.objects[path]
        char.device_path = str(device_path)
        char.writes = 0
        _emit_added(path, CHAR_IFACE)


@dbus.service.method(RIG_IFACE, in_signature='ob', out_signature='')
def RigSetConnected(_self, device_path, connected):
    '''Connected (and ServicesResolved) change; a disconnection ends every notify session.'''
    device = mockobject.objects[device_path]
    if not connected:
        for path, obj in list(mockobject.objects.items()):
            if getattr(obj, 'device_path', None) == device_path and CHAR_IFACE in obj.props \
                    and obj.props[CHAR_IFACE]['Notifying']:
                _stop_notify(obj)
    device.UpdateProperties(DEVICE_IFACE, {
        'Connected': dbus.Boolean(connected, variant_level=1),
        'ServicesResolved': dbus.Boolean(connected, variant_level=1),
    })


@dbus.service.method(RIG_IFACE, in_signature='o', out_signature='')
def RigRemove(_self, path):
    '''Removes `path` and every object below it, children first, as BlueZ does on unpairing.'''
    root = mockobject.objects['/']
    below = sorted((p for p in mockobject.objects if p == path or p.startswith(path + '/')),
                   key=len, reverse=True)
    for p in below:
        interface = mockobject.objects[p].interface
        root.RemoveObject(p)
        _emit_removed(p, interface)


@dbus.service.method(RIG_IFACE, in_signature='ay', out_signature='')
def RigNotify(_self, value):
    '''The mouse sends `value` on 0xFEE4: a value change on every characteristic that notifies.'''
    for obj in list(mockobject.objects.values()):
        props = obj.props.get(CHAR_IFACE)
        if props and props['UUID'] == NOTIFY_UUID and props['Notifying']:
            obj.UpdateProperties(CHAR_IFACE, {'Value': dbus.Array(value, signature='y', variant_level=1)})


@dbus.service.method(RIG_IFACE, in_signature='o', out_signature='u')
def RigWriteCount(_self, char_path):
    '''How often WriteValue was called on `char_path`.'''
    return dbus.UInt32(mockobject.objects[char_path].writes)
