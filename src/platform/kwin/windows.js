// Run by KWin on the program's behalf: the pointer position and the windows on the current
// desktop, topmost first, sent back as one JSON text to the program's own D-Bus connection.
(function () {
    function text(value) {
        if (value === undefined || value === null) {
            return "";
        }
        if (value instanceof ArrayBuffer) {
            var bytes = new Uint8Array(value);
            var out = "";
            for (var i = 0; i < bytes.length; ++i) {
                out += String.fromCharCode(bytes[i]);
            }
            return out;
        }
        return String(value);
    }
    function rect(r) {
        return r ? [Math.round(r.x), Math.round(r.y), Math.round(r.width), Math.round(r.height)]
                 : [0, 0, 0, 0];
    }
    var list = workspace.clientList().slice();
    list.sort(function (a, b) { return b.stackingOrder - a.stackingOrder; });
    var windows = [];
    for (var i = 0; i < list.length; ++i) {
        var w = list[i];
        if (w.minimized || w.desktopWindow || w.deleted) {
            continue;
        }
        if (!w.onAllDesktops && w.desktop !== workspace.currentDesktop) {
            continue;
        }
        windows.push({
            id: text(w.internalId),
            caption: text(w.caption),
            resourceClass: text(w.resourceClass),
            pid: w.pid || 0,
            frame: rect(w.frameGeometry),
            buffer: rect(w.bufferGeometry),
            transientFor: w.transient && w.transientFor ? text(w.transientFor.internalId) : ""
        });
    }
    var p = workspace.cursorPos;
    callDBus("%SERVICE%", "/org/morvane/KWin", "org.morvane.KWin", "answer",
             JSON.stringify({ run: %RUN%, pointer: [Math.round(p.x), Math.round(p.y)], windows: windows }));
})();
