#!/usr/bin/python3
"""An application that plays the hostile side on the accessibility bus: a plain GTK 3 window
whose elements it serves by hand over GDBus, not through GTK's own bridge. Its frame holds:

  - "Huge": extents at x = 2147483000, 2000 wide (numbers that overflow if added unchecked);
  - "Secret": a password field, editable, whose text is an address;
  - "Plain": an ordinary push button.

Its own peer-to-peer address (GetApplicationBusAddress) is a command that would create
LOG_DIR/ran, and it writes every call it is asked to LOG_DIR/calls, one "member path" a
line. Prints each element's rectangle (x y w h, root coordinates; Secret, then Plain) and
"ready" once it is on the bus.

    hostile_app.py TITLE X Y LOG_DIR
"""
import os
import sys

os.environ["NO_AT_BRIDGE"] = "1"  # GTK's own bridge stays out of it

import gi  # noqa: E402

gi.require_version("Gtk", "3.0")
from gi.repository import Gio, GLib, Gtk  # noqa: E402

ROOT = "/org/a11y/atspi/accessible/root"
INTERFACES = """<node>
<interface name="org.a11y.atspi.Accessible">
  <property name="Name" type="s" access="read"/>
  <property name="ChildCount" type="i" access="read"/>
  <method name="GetChildren"><arg direction="out" type="a(so)"/></method>
  <method name="GetState"><arg direction="out" type="au"/></method>
  <method name="GetRole"><arg direction="out" type="u"/></method>
  <method name="GetRoleName"><arg direction="out" type="s"/></method>
  <method name="GetInterfaces"><arg direction="out" type="as"/></method>
</interface>
<interface name="org.a11y.atspi.Component">
  <method name="GetExtents">
    <arg direction="in" type="u"/><arg direction="out" type="(iiii)"/>
  </method>
</interface>
<interface name="org.a11y.atspi.Text">
  <method name="GetText">
    <arg direction="in" type="i"/><arg direction="in" type="i"/>
    <arg direction="out" type="s"/>
  </method>
</interface>
<interface name="org.a11y.atspi.Application">
  <method name="GetApplicationBusAddress"><arg direction="out" type="s"/></method>
</interface>
</node>"""

SHOWING, VISIBLE, EDITABLE = 1 << 25, 1 << 30, 1 << 7


def main():
    title, x, y, log_dir = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
    calls = open(os.path.join(log_dir, "calls"), "a", buffering=1)
    window = Gtk.Window(title=title)
    window.move(x, y)
    window.set_default_size(400, 120)
    window.add(Gtk.DrawingArea())
    window.connect("destroy", Gtk.main_quit)
    window.show_all()

    session = Gio.bus_get_sync(Gio.BusType.SESSION, None)
    address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                                None, GLib.VariantType("(s)"), 0, 2000, None).unpack()[0]
    bus = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
        | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    me = bus.get_unique_name()
    elements = {}  # path: (name, role, role name, states, rect, text, children)

    def call(_bus, _sender, path, _interface, member, args, invocation):
        calls.write(f"{member} {path}\n")
        name, role, role_name, states, rect, text, kids = elements[path]
        answers = {
            "GetChildren": lambda: GLib.Variant("(a(so))", ([(me, k) for k in kids],)),
            "GetState": lambda: GLib.Variant("(au)", ([states, 0],)),
            "GetRole": lambda: GLib.Variant("(u)", (role,)),
            "GetRoleName": lambda: GLib.Variant("(s)", (role_name,)),
            "GetExtents": lambda: GLib.Variant("((iiii))", (rect,)),
            "GetInterfaces": lambda: GLib.Variant("(as)", ([
                "org.a11y.atspi.Accessible", "org.a11y.atspi.Component",
                "org.a11y.atspi.Text"],)),
            "GetText": lambda: GLib.Variant("(s)", (text,)),
            "GetApplicationBusAddress": lambda: GLib.Variant(
                "(s)", ("unixexec:path=/bin/sh,argv1=-c,argv2=touch%20"
                        + os.path.join(log_dir, "ran"),)),
        }
        invocation.return_value(answers[member]())

    def prop(_bus, _sender, path, _interface, name):
        return GLib.Variant("s", elements[path][0]) if name == "Name" else \
            GLib.Variant("i", len(elements[path][6]))

    def report():
        origin = window.get_window().get_origin()
        width, height = window.get_size()
        secret = (origin.x + 20, origin.y + 20, 150, 40)
        plain = (origin.x + 200, origin.y + 20, 150, 40)
        elements.update({
            ROOT: ("hostile", 75, "application", 0, (0, 0, 0, 0), "", ["/h/frame"]),
            "/h/frame": (title, 23, "frame", SHOWING | VISIBLE,
                         (origin.x, origin.y, width, height), "", ["/h/huge", "/h/secret",
                                                                   "/h/plain"]),
            "/h/huge": ("Huge", 62, "push button", SHOWING | VISIBLE,
                        (2147483000, origin.y + 20, 2000, 40), "", []),
            "/h/secret": ("Secret", 40, "password text", SHOWING | VISIBLE | EDITABLE, secret,
                          "http://secret.example/", []),
            "/h/plain": ("Plain", 62, "push button", SHOWING | VISIBLE, plain, "Plain", []),
        })
        nodes = Gio.DBusNodeInfo.new_for_xml(INTERFACES)
        for path in elements:
            for interface in nodes.interfaces:
                bus.register_object(path, interface, call, prop, None)
        bus.call_sync("org.a11y.atspi.Registry", ROOT, "org.a11y.atspi.Socket", "Embed",
                      GLib.Variant("((so))", ((me, ROOT),)), GLib.VariantType("((so))"), 0,
                      2000, None)
        for rect in (secret, plain):
            print(*rect)
        print("ready", flush=True)
        return False

    window.connect("map-event", lambda *_: GLib.timeout_add(200, report) and False)
    Gtk.main()


main()
