#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# A desktop's GlobalShortcuts portal for the hotkey tests, on the private
# session bus of DBUS_SESSION_BUS_ADDRESS: CreateSession, BindShortcuts
# (binding each shortcut to its preferred trigger) and Session.Close, each
# written to the log file given as the first argument. After each binding
# it presses every bound shortcut once (the Activated signal), after one
# press of the same id in a session that is not the caller's. A shortcut
# without a preferred trigger makes it wait for a user who never comes: no
# answer until the caller withdraws the request (Request.Close, logged).
#
#   fake_shortcuts_portal.py LOG
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
IFACE = "org.freedesktop.portal.GlobalShortcuts"
log = open(sys.argv[1], "a", buffering=1)


class Request(dbus.service.Object):
    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, response, results):
        pass

    @dbus.service.method("org.freedesktop.portal.Request", in_signature="", out_signature="")
    def Close(self):
        log.write("withdrawn %s\n" % self.__dbus_object_path__)
        self.remove_from_connection()


class Session(dbus.service.Object):
    def __init__(self, bus, path):
        super().__init__(bus, path)
        self.path = path

    @dbus.service.method("org.freedesktop.portal.Session", in_signature="", out_signature="")
    def Close(self):
        log.write("closed %s\n" % self.path)
        self.remove_from_connection()


def caller(sender):
    return sender[1:].replace(".", "_")


class Portal(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PATH)
        self.bus = bus

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        if interface == IFACE and prop == "version":
            return dbus.UInt32(1)
        raise dbus.exceptions.DBusException("no such property",
                                            name="org.freedesktop.DBus.Error.InvalidArgs")

    def answer(self, sender, token, results):
        request = Request(self.bus, "%s/request/%s/%s" % (PATH, caller(sender), token))
        GLib.idle_add(lambda: (request.Response(dbus.UInt32(0), results),
                               request.remove_from_connection(), False)[-1])
        return dbus.ObjectPath(request.__dbus_object_path__)

    @dbus.service.method(IFACE, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        path = "%s/session/%s/%s" % (PATH, caller(sender), options["session_handle_token"])
        Session(self.bus, path)
        log.write("session %s\n" % path)
        return self.answer(sender, options["handle_token"],
                           dbus.Dictionary({"session_handle": dbus.String(path)}, signature="sv"))

    @dbus.service.method(IFACE, in_signature="oa(sa{sv})sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent, options, sender=None):
        bound = []
        for sid, props in shortcuts:
            trigger = str(props.get("preferred_trigger", ""))
            log.write("bind %s %s %s '%s'\n" % (session, sid, trigger or "-",
                                                props.get("description", "")))
            bound.append(dbus.Struct((sid, dbus.Dictionary(
                {"description": props.get("description", ""),
                 "trigger_description": dbus.String(trigger or "unset")}, signature="sv"))))
        ids = [str(sid) for sid, _ in shortcuts]
        if any("preferred_trigger" not in props for _, props in shortcuts):
            request = Request(self.bus, "%s/request/%s/%s" % (PATH, caller(sender),
                                                               options["handle_token"]))
            return dbus.ObjectPath(request.__dbus_object_path__)

        def press():
            if ids:
                self.Activated(dbus.ObjectPath(PATH + "/session/someone/else"), ids[0],
                               dbus.UInt64(1), dbus.Dictionary({}, signature="sv"))
            for sid in ids:
                self.Activated(session, sid, dbus.UInt64(2), dbus.Dictionary({}, signature="sv"))
            return False
        GLib.timeout_add(100, press)
        return self.answer(sender, options["handle_token"],
                           dbus.Dictionary({"shortcuts": dbus.Array(bound, signature="(sa{sv})")},
                                           signature="sv"))

    @dbus.service.signal(IFACE, signature="osta{sv}")
    def Activated(self, session, shortcut_id, timestamp, options):
        pass


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
portal = Portal(bus)
name = dbus.service.BusName(NAME, bus)
log.write("ready\n")
GLib.MainLoop().run()
