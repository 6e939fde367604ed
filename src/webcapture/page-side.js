// The page's side of a whole-page capture, run in a script world of its own so that the
// page's scripts can neither see nor change it. Called with the element chosen to scroll and
// the settle marker's id; prepare (this function) makes the page hold still for the copies and
// measures what scrolls; every style it changes is noted and put back by restore().
//  - Sticky elements are placed as relative ones at their place in the page's flow, so that
//    they appear once, where they belong, instead of pinned into every band.
//  - Fixed elements pinned to the view show in the first view only; step() hides them for the
//    later copies. Fixed elements that scroll with the page (under a transform on the root,
//    say) are part of the page and stay.
//  - Scroll snapping and smooth scrolling are off: a scroll must land where it is sent.
//  - When neither the root nor the body scrolls down but an element covering at least half
//    the view does, that element's content is the page; so is the document of a frame of the
//    same site that covers half the view and scrolls.
// The page may change itself while it is captured: step() looks again wherever the document
// changed since the previous step, hides new pinned elements and hidden ones shown again, and
// says so, so that the previous copy is taken again.
// step() scrolls, places the settle marker and answers the position before and after, the
// number of images in view still loading, whether the page undid a change of the capture's
// since the previous step, and whether the marker was tampered with. The answer of prepare:
// the scrolling area's place and size in the view, the page's size and the device pixel
// ratio, as JSON.
(function (chosen, markId) {
    if (window.__morvane) window.__morvane.restore();
    var M = window.__morvane = {saved: [], fixed: [], hidden: false, x: 0, y: 0, frames: 0,
                                docs: [document], dirty: false, foreign: false, round: 0};
    var r = document.documentElement, b = document.body, iw = innerWidth, ih = innerHeight;
    var marker = null, watchers = [];
    function set(e, p, v) {
        M.saved.push([e, p, e.style.getPropertyValue(p), e.style.getPropertyPriority(p)]);
        e.style.setProperty(p, v, 'important');
    }
    function known(e) {
        return M.fixed.some(function (f) { return f[0] === e; });
    }
    // Notes the document's fixed elements not yet known; makes sticky ones relative.
    function scan(doc, found) {
        var all = doc.querySelectorAll('*');
        for (var i = 0; i < all.length; ++i) {
            var e = all[i], cs = getComputedStyle(e);
            if (e === marker || e.id === markId) continue;
            if (cs.position === 'sticky') {
                set(e, 'position', 'relative');
                ['top', 'bottom', 'left', 'right'].forEach(function (p) { set(e, p, 'auto'); });
            } else if (cs.position === 'fixed' && !known(e)) {
                found.push(e);
            }
            if (found.boxes) {
                if (cs.scrollSnapType && cs.scrollSnapType !== 'none')
                    set(e, 'scroll-snap-type', 'none');
                if (cs.scrollBehavior === 'smooth') set(e, 'scroll-behavior', 'auto');
                if (/auto|scroll|overlay/.test(cs.overflowY)) found.boxes.push(e);
            }
        }
    }
    function scrolls(e, across) {
        if (!e) return false;
        var p = across ? 'scrollLeft' : 'scrollTop', t = e[p];
        e[p] = t + 1;
        var moved = e[p] !== t;
        e[p] = t;
        return moved;
    }
    // Fixed elements found: those that stay where they are in the view while the page scrolls
    // by a pixel are pinned to it; the others scroll with the page.
    function note(found) {
        if (!found.length) return;
        var e = M.el, across = !scrolls(e), p = across ? 'scrollLeft' : 'scrollTop', t = e[p];
        var at = found.map(function (f) { return f.getBoundingClientRect(); });
        e[p] = t > 0 ? t - 1 : t + 1;
        var moved = e[p] !== t;
        found.forEach(function (f, i) {
            var q = f.getBoundingClientRect();
            if (moved && (q.top !== at[i].top || q.left !== at[i].left)) return;
            M.fixed.push([f, f.style.getPropertyValue('visibility'),
                          f.style.getPropertyPriority('visibility')]);
        });
        e[p] = t;
    }
    var found = [];
    found.boxes = [];
    scan(document, found);
    // The element chosen before snapping was turned off may not be the one that scrolls now.
    var el = chosen;
    if (!scrolls(el) && !scrolls(el, true))
        el = [r, b].filter(function (e) { return scrolls(e) || scrolls(e, true); })[0] || el;
    var w = Math.min(el.clientWidth, iw), h = Math.min(el.clientHeight, ih);
    if (document.compatMode === 'CSS1Compat') {
        w = Math.min(w, r.clientWidth); h = Math.min(h, r.clientHeight);
    }
    // The largest element covering half the view whose content scrolls down, if any.
    function cover(list, inside) {
        var best = null, most = 0;
        list.forEach(function (e) {
            var q = e.getBoundingClientRect();
            var a = Math.max(0, Math.min(q.right, iw) - Math.max(q.left, 0)) *
                    Math.max(0, Math.min(q.bottom, ih) - Math.max(q.top, 0));
            if (q.left >= 0 && q.top >= 0 && 2 * a >= iw * ih && a > most && inside(e)) {
                best = e; most = a;
            }
        });
        return best;
    }
    if (!scrolls(r) && !scrolls(b)) {
        var box = cover(found.boxes, function (e) {
            return e !== r && e !== b && e.scrollHeight > e.clientHeight && scrolls(e);
        });
        var frame = box ? null : cover([].slice.call(document.querySelectorAll('iframe')),
                                       function (f) {
            var d = null;
            try { d = f.contentDocument; } catch (x) {}
            if (!d) M.foreign = true;
            return !!d && scrolls(d.scrollingElement);
        });
        if (frame) M.foreign = false;
        var inner = box || frame;
        if (inner) {
            var q = inner.getBoundingClientRect(), cs = getComputedStyle(inner);
            el = box || frame.contentDocument.scrollingElement;
            M.x = Math.round(q.left + inner.clientLeft + (box ? 0 : parseFloat(cs.paddingLeft)));
            M.y = Math.round(q.top + inner.clientTop + (box ? 0 : parseFloat(cs.paddingTop)));
            var cw = box ? box.clientWidth : el.ownerDocument.documentElement.clientWidth;
            var ch = box ? box.clientHeight : el.ownerDocument.documentElement.clientHeight;
            w = Math.min(cw, iw - M.x); h = Math.min(ch, ih - M.y);
            if (frame) {
                M.docs.push(el.ownerDocument);
                found.boxes = [];
                scan(el.ownerDocument, found);
            }
        }
    }
    M.el = el;
    el.scrollTop = 0; el.scrollLeft = 0;
    note(found);
    // Changes the page makes to its documents, but not those to the marker.
    function watch(records) {
        records.forEach(function (c) {
            if (c.target === marker) return;
            var nodes = [].slice.call(c.addedNodes || []).concat([].slice.call(c.removedNodes || []));
            if (c.type === 'childList' && nodes.length && nodes.every(function (n) {
                return n === marker; })) return;
            M.dirty = true;
        });
    }
    M.docs.forEach(function (d) {
        var o = new MutationObserver(watch);
        o.observe(d.documentElement, {childList: true, attributes: true, subtree: true});
        watchers.push(o);
    });
    M.pending = function () {
        var n = 0;
        M.docs.forEach(function (d) {
            var im = d.images, v = d.defaultView;
            for (var i = 0; i < im.length; ++i) {
                if (im[i].complete) continue;
                var q = im[i].getBoundingClientRect();
                if (q.width > 0 && q.height > 0 && q.bottom > 0 && q.top < v.innerHeight &&
                    q.right > 0 && q.left < v.innerWidth) ++n;
            }
        });
        return n;
    };
    function hide(f, hidden) {
        if (hidden) f[0].style.setProperty('visibility', 'hidden', 'important');
        else f[0].style.setProperty('visibility', f[1], f[2]);
    }
    M.show = function (visible) {
        if (visible !== M.hidden) return;
        M.hidden = !visible;
        M.fixed.forEach(function (f) { hide(f, M.hidden); });
    };
    // After a change of the page's: new fixed elements noted and hidden, hidden ones shown
    // again hidden again. True when the page showed something the capture had hidden.
    function mend() {
        watchers.forEach(function (o) { watch(o.takeRecords()); });
        if (!M.dirty) return false;
        M.dirty = false;
        var found = [], count = M.fixed.length, undone = false;
        M.docs.forEach(function (d) { scan(d, found); });
        note(found);
        M.fixed.forEach(function (f, i) {
            var shown = getComputedStyle(f[0]).visibility !== 'hidden';
            if (M.hidden && shown) {
                hide(f, true);
                // A new element counts only where it shows.
                var q = f[0].getBoundingClientRect();
                undone = undone || i < count || (q.width > 0 && q.height > 0);
            }
        });
        return undone;
    }
    var style = 'position:fixed;display:block;visibility:visible;opacity:1;filter:none;' +
        'transform:none;margin:0;border:0;padding:0;width:1px;height:1px;' +
        'z-index:2147483647;pointer-events:none;';
    M.step = function (top, left, mx, my, colour, hidden) {
        var e = M.el, before = [e.scrollTop, e.scrollLeft];
        var undone = mend(), tampered = !!marker &&
            (marker.parentNode !== r || r.lastElementChild !== marker ||
             marker.style.getPropertyValue('background-color') !== M.colour);
        e.scrollTop = top; e.scrollLeft = left;
        M.show(!hidden);
        if (!marker) { marker = document.createElement('div'); marker.id = markId; }
        if (marker.parentNode !== r || r.lastElementChild !== marker) r.appendChild(marker);
        var at = function (x, y) {
            marker.style.cssText = (style + 'left:' + x + 'px;top:' + y + 'px;background:' +
                colour).replace(/;/g, ' !important;') + ' !important';
        };
        at(M.x + mx, M.y + my);
        // A filter or transform on the root makes "fixed" scroll with the page: put the
        // marker where the view shows it all the same.
        var q = marker.getBoundingClientRect(), dx = Math.round(M.x + mx - q.left),
            dy = Math.round(M.y + my - q.top);
        if (dx || dy) at(M.x + mx + dx, M.y + my + dy);
        M.colour = marker.style.getPropertyValue('background-color');
        // Frames drawn since this step, for a page whose marker does not show.
        var round = ++M.round;
        M.frames = 0;
        requestAnimationFrame(function counted() {
            if (round === M.round && ++M.frames < 3) requestAnimationFrame(counted);
        });
        watchers.forEach(function (o) { o.takeRecords(); });
        return [before[0], before[1], e.scrollTop, e.scrollLeft, M.pending(), undone ? 1 : 0,
                tampered ? 1 : 0];
    };
    // After the last copy: where the page is, and whether it undid a change since.
    M.check = function () {
        var undone = mend();
        watchers.forEach(function (o) { o.takeRecords(); });
        return [M.el.scrollLeft, M.el.scrollTop, undone ? 1 : 0];
    };
    M.restore = function () {
        watchers.forEach(function (o) { o.disconnect(); });
        M.show(true);
        for (var i = M.saved.length - 1; i >= 0; --i) {
            var s = M.saved[i];
            s[0].style.setProperty(s[1], s[2], s[3]);
        }
        if (marker) marker.remove();
        [M.el, r, b].forEach(function (e) { if (e) { e.scrollTop = 0; e.scrollLeft = 0; } });
        delete window.__morvane;
        return true;
    };
    return JSON.stringify({x: M.x, y: M.y, w: w, h: h, sw: el.scrollWidth, sh: el.scrollHeight,
                           dpr: window.devicePixelRatio || 1, foreign: M.foreign});
})
