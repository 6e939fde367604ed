#!/usr/bin/python3
"""A GTK 4 window for the accessibility tests: two buttons of known colours in a box. GTK 4
places its own window no more, so the window manager does; once it is drawn, prints "ready"
and the buttons' and the box's rectangles relative to the window's X window (x y w h, its
client-side decoration margin included), then runs until it is ended.

    gtk4_window.py TITLE
"""
import sys

import gi

gi.require_version("Gtk", "4.0")
gi.require_version("GdkX11", "4.0")
from gi.repository import GdkX11, GLib, Gtk  # noqa: E402,F401

CSS = b"""
button { background: none; border: none; box-shadow: none; padding: 0; min-width: 90px;
         min-height: 40px; }
#one { background-color: #ff0000; }
#two { background-color: #0000ff; }
box.buttons { background-color: #00ff00; }
"""


def main():
    title = sys.argv[1]
    app = Gtk.Application(application_id=None)

    def activate(app):
        provider = Gtk.CssProvider()
        provider.load_from_data(CSS)
        window = Gtk.ApplicationWindow(application=app, title=title)
        Gtk.StyleContext.add_provider_for_display(
            window.get_display(), provider, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
        outer = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
        for side in ("top", "bottom", "start", "end"):
            getattr(outer, "set_margin_" + side)(30)
        box = Gtk.Box(orientation=Gtk.Orientation.HORIZONTAL, spacing=10)
        box.add_css_class("buttons")
        first, second = Gtk.Button(label="One"), Gtk.Button(label="Two")
        first.set_name("one")
        second.set_name("two")
        box.append(first)
        box.append(second)
        outer.append(box)
        window.set_child(outer)
        window.set_default_size(300, 160)

        def report():
            print("window", window.get_surface().get_xid())
            dx, dy = window.get_surface_transform()
            for widget in (first, second, box):
                ok, bounds = widget.compute_bounds(window)
                print(round(dx + bounds.get_x()), round(dy + bounds.get_y()),
                      round(bounds.get_width()), round(bounds.get_height()))
            print("ready", flush=True)
            return False

        window.connect("map", lambda *_: GLib.timeout_add(300, report) and None)
        window.present()

    app.connect("activate", activate)
    app.run([sys.argv[0]])


main()
