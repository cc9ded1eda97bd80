#!/usr/bin/python3
"""A login manager that is not the machine's, for the scene tests: a dbus-daemon of the test's own
(its own configuration, a socket in the test's directory) with python3-dbusmock's logind template
on it, and the few things the template does not do itself. Its AddSession announces nothing and a
session cannot be removed, and LockSession / TerminateSession only record the call: the verbs here
emit the missing signals and read the mock's call log.

  logind_mock.py start DIR            starts bus and mock; prints the bus address
  logind_mock.py stop DIR             ends both
  logind_mock.py kill-bus DIR         ends the dbus-daemon alone (the mock goes with it)
  logind_mock.py add DIR ID USER UID [--remote] [--inactive] [--seat SEAT] [--idle-ms MS]
                     [--idle-since-us MICROSECONDS-SINCE-1970] [--class CLASS]
                                      a session, announced with SessionNew
  logind_mock.py remove DIR ID        SessionRemoved, then the object goes
  logind_mock.py set DIR ID NAME=true|false ...   changes of Active / LockedHint / IdleHint
                                      (PropertiesChanged)
  logind_mock.py sleep DIR true|false PrepareForSleep
  logind_mock.py calls DIR METHOD     the recorded calls' first arguments, one a line
  logind_mock.py wait-call DIR METHOD ARG MS   waits for such a call; exit 1 when none came
"""
import os
import signal
import subprocess
import sys
import time

import dbus

MANAGER = 'org.freedesktop.login1.Manager'
SESSION = 'org.freedesktop.login1.Session'
MOCK = 'org.freedesktop.DBus.Mock'
PATH = '/org/freedesktop/login1'

CONFIG = '''<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={sock}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_type="method_return"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="signal"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
'''


def address(d):
    return 'unix:path=' + os.path.join(d, 'system_bus_socket')


def manager(d):
    bus = dbus.bus.BusConnection(address(d))
    return bus, bus.get_object('org.freedesktop.login1', PATH)


def session_path(sid):
    return PATH + '/session/' + sid


def pid_of(d, name):
    try:
        with open(os.path.join(d, name + '.pid')) as f:
            return int(f.read())
    except (OSError, ValueError):
        return None


def end(d, name):
    pid = pid_of(d, name)
    if pid:
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        for _ in range(100):
            try:
                with open(f'/proc/{pid}/stat') as f:
                    if f.read().rsplit(')', 1)[1].split()[0] == 'Z':
                        break  # ended; only its parent has not reaped it yet
            except OSError:
                break
            time.sleep(0.02)
        os.unlink(os.path.join(d, name + '.pid'))


def start(d):
    os.makedirs(d, exist_ok=True)
    sock = os.path.join(d, 'system_bus_socket')
    if os.path.exists(sock):
        os.unlink(sock)
    conf = os.path.join(d, 'bus.conf')
    with open(conf, 'w') as f:
        f.write(CONFIG.format(sock=sock))
    log = open(os.path.join(d, 'bus.log'), 'a')
    bus = subprocess.Popen(['dbus-daemon', '--config-file=' + conf, '--nofork', '--nopidfile'],
                           stdout=log, stderr=log, start_new_session=True)
    with open(os.path.join(d, 'bus.pid'), 'w') as f:
        f.write(str(bus.pid))
    for _ in range(200):
        if os.path.exists(sock):
            break
        time.sleep(0.01)
    env = dict(os.environ, DBUS_SYSTEM_BUS_ADDRESS=address(d))
    mocklog = open(os.path.join(d, 'mock.log'), 'a')
    mock = subprocess.Popen(['/usr/bin/python3', '-m', 'dbusmock', '--system', '--template', 'logind'],
                            stdout=mocklog, stderr=mocklog, env=env, start_new_session=True)
    with open(os.path.join(d, 'mock.pid'), 'w') as f:
        f.write(str(mock.pid))
    for _ in range(500):
        try:
            c = dbus.bus.BusConnection(address(d))
            if c.name_has_owner('org.freedesktop.login1'):
                print(address(d))
                return 0
        except dbus.exceptions.DBusException:
            pass
        time.sleep(0.02)
    print('the mock login manager did not come up', file=sys.stderr)
    return 1


def add(d, sid, user, uid, opts):
    _, obj = manager(d)
    remote = '--remote' in opts
    active = '--inactive' not in opts
    seat = opts[opts.index('--seat') + 1] if '--seat' in opts else 'seat0'
    path = obj.AddSession(sid, seat, dbus.UInt32(int(uid)), user, active, dbus_interface=MOCK)
    bus, _ = manager(d)
    sobj = bus.get_object('org.freedesktop.login1', path)
    props = {'Remote': dbus.Boolean(remote), 'Timestamp': dbus.UInt64(int(time.time() * 1e6))}
    if '--idle-ms' in opts:
        ms = int(opts[opts.index('--idle-ms') + 1])
        props['IdleHint'] = dbus.Boolean(True)
        props['IdleSinceHint'] = dbus.UInt64(int((time.time() - ms / 1000.0) * 1e6))
    if '--idle-since-us' in opts:
        props['IdleHint'] = dbus.Boolean(True)
        props['IdleSinceHint'] = dbus.UInt64(int(opts[opts.index('--idle-since-us') + 1]))
    if '--class' in opts:
        props['Class'] = opts[opts.index('--class') + 1]
    # Set quietly: the session is only now being announced.
    for k, v in props.items():
        sobj.Set(SESSION, k, v, dbus_interface='org.freedesktop.DBus.Properties')
    obj.EmitSignal(MANAGER, 'SessionNew', 'so', [sid, dbus.ObjectPath(path)], dbus_interface=MOCK)
    return 0


def remove(d, sid):
    _, obj = manager(d)
    path = session_path(sid)
    obj.EmitSignal(MANAGER, 'SessionRemoved', 'so', [sid, dbus.ObjectPath(path)], dbus_interface=MOCK)
    obj.RemoveObject(path, dbus_interface=MOCK)
    return 0


def set_props(d, sid, pairs):
    bus, _ = manager(d)
    sobj = bus.get_object('org.freedesktop.login1', session_path(sid))
    props = {}
    for p in pairs:
        name, value = p.split('=', 1)
        props[name] = dbus.Boolean(value == 'true')
        if name == 'IdleHint':
            props['IdleSinceHint'] = dbus.UInt64(int(time.time() * 1e6))
    sobj.UpdateProperties(SESSION, props, dbus_interface=MOCK)
    return 0


def calls(d, method):
    _, obj = manager(d)
    return [str(args[0]) if args else '' for _, args in obj.GetMethodCalls(method, dbus_interface=MOCK)]


def main(argv):
    verb, d = argv[1], argv[2]
    if verb == 'start':
        return start(d)
    if verb == 'stop':
        end(d, 'mock')
        end(d, 'bus')
        return 0
    if verb == 'kill-bus':
        pid = pid_of(d, 'bus')
        if pid:
            os.kill(pid, signal.SIGKILL)
        end(d, 'mock')
        return 0
    if verb == 'add':
        return add(d, argv[3], argv[4], argv[5], argv[6:])
    if verb == 'remove':
        return remove(d, argv[3])
    if verb == 'set':
        return set_props(d, argv[3], argv[4:])
    if verb == 'sleep':
        _, obj = manager(d)
        obj.EmitSignal(MANAGER, 'PrepareForSleep', 'b', [dbus.Boolean(argv[3] == 'true')], dbus_interface=MOCK)
        return 0
    if verb == 'calls':
        for line in calls(d, argv[3]):
            print(line)
        return 0
    if verb == 'wait-call':
        method, arg, ms = argv[3], argv[4], int(argv[5])
        t0 = time.monotonic()
        while (time.monotonic() - t0) * 1000 < ms:
            if arg in calls(d, method):
                print(int((time.monotonic() - t0) * 1000))
                return 0
            time.sleep(0.02)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
