#!/usr/bin/python3
"""A GTK 3 window for the accessibility tests: two buttons and an entry in a box, at a fixed
place. Prints "ready" and the buttons' and the box's rectangles (x y w h, root coordinates)
once the window is drawn, then runs until it is ended.

    gtk_window.py TITLE X Y [tick]

With "tick", a label below the box changes every 100 ms, so the application keeps
emitting accessibility events (for measuring what they cost others).
"""
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def main():
    title, x, y = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    window = Gtk.Window(title=title)
    window.move(x, y)
    outer = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, border_width=30)
    box = Gtk.Box(orientation=Gtk.Orientation.HORIZONTAL, spacing=10, border_width=8)
    first, second = Gtk.Button(label="Alpha"), Gtk.Button(label="Beta")
    entry = Gtk.Entry(text="example.org/page")
    for widget in (first, second, entry):
        box.pack_start(widget, False, False, 0)
    outer.pack_start(box, False, False, 0)
    if sys.argv[4:] == ["tick"]:
        clock = Gtk.Label(label="0")
        outer.pack_start(clock, False, False, 0)
        ticks = iter(range(1 << 62))
        GLib.timeout_add(100, lambda: clock.set_text(str(next(ticks))) or True)
    window.add(outer)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()

    def report():
        origin = window.get_window().get_origin()
        for widget in (first, second, box, entry):
            a = widget.get_allocation()
            print(origin.x + a.x, origin.y + a.y, a.width, a.height)
        print("ready", flush=True)
        return False

    window.connect("map-event", lambda *_: GLib.timeout_add(200, report) and False)
    Gtk.main()


main()
