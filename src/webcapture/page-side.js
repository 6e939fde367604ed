// The page's side of a whole-page capture, run in a script world of its own so that the
// page's scripts can neither see nor change it. Called with the element chosen to scroll and
// the settle marker's id; prepare (this function) makes the page hold still for the copies and
// measures what scrolls; every style it changes is noted and put back by restore().
//  - Sticky elements are placed as relative ones at their place in the page's flow, so that
//    they appear once, where they belong, instead of pinned into every band.
//  - Fixed elements show in the first view only; step() hides them for the later copies.
//  - Scroll snapping and smooth scrolling are off: a scroll must land where it is sent.
//  - When neither the root nor the body scrolls down but an element covering at least half
//    the view does, that element's content is the page.
// step() scrolls, places the settle marker and answers the position before and after, and the
// number of images in view still loading. The answer: the scrolling area's place and size in
// the view, the page's size and the device pixel ratio, as JSON.
(function (chosen, markId) {
    if (window.__morvane) window.__morvane.restore();
    var M = window.__morvane = {saved: [], fixed: [], hidden: false, x: 0, y: 0};
    var r = document.documentElement, b = document.body, iw = innerWidth, ih = innerHeight;
    function set(e, p, v) {
        M.saved.push([e, p, e.style.getPropertyValue(p), e.style.getPropertyPriority(p)]);
        e.style.setProperty(p, v, 'important');
    }
    var all = document.querySelectorAll('*'), sticky = [], calm = [], smooth = [], boxes = [];
    for (var i = 0; i < all.length; ++i) {
        var e = all[i], cs = getComputedStyle(e);
        if (e.id === markId) continue;
        if (cs.position === 'sticky') sticky.push(e);
        else if (cs.position === 'fixed')
            M.fixed.push([e, e.style.getPropertyValue('visibility'),
                          e.style.getPropertyPriority('visibility')]);
        if (cs.scrollSnapType && cs.scrollSnapType !== 'none') calm.push(e);
        if (cs.scrollBehavior === 'smooth') smooth.push(e);
        if (/auto|scroll|overlay/.test(cs.overflowY)) boxes.push(e);
    }
    sticky.forEach(function (e) {
        set(e, 'position', 'relative');
        ['top', 'bottom', 'left', 'right'].forEach(function (p) { set(e, p, 'auto'); });
    });
    calm.forEach(function (e) { set(e, 'scroll-snap-type', 'none'); });
    smooth.forEach(function (e) { set(e, 'scroll-behavior', 'auto'); });
    function scrolls(e, across) {
        if (!e) return false;
        var p = across ? 'scrollLeft' : 'scrollTop', t = e[p];
        e[p] = t + 1;
        var moved = e[p] !== t;
        e[p] = t;
        return moved;
    }
    // The element chosen before snapping was turned off may not be the one that scrolls now.
    var el = chosen;
    if (!scrolls(el) && !scrolls(el, true))
        el = [r, b].filter(function (e) { return scrolls(e) || scrolls(e, true); })[0] || el;
    var w = Math.min(el.clientWidth, iw), h = Math.min(el.clientHeight, ih);
    if (document.compatMode === 'CSS1Compat') {
        w = Math.min(w, r.clientWidth); h = Math.min(h, r.clientHeight);
    }
    if (!scrolls(r) && !scrolls(b)) {
        var best = null, most = 0;
        boxes.forEach(function (e) {
            if (e === r || e === b || e.scrollHeight <= e.clientHeight) return;
            var q = e.getBoundingClientRect();
            var a = Math.max(0, Math.min(q.right, iw) - Math.max(q.left, 0)) *
                    Math.max(0, Math.min(q.bottom, ih) - Math.max(q.top, 0));
            if (q.left >= 0 && q.top >= 0 && 2 * a >= iw * ih && a > most && scrolls(e)) {
                best = e; most = a;
            }
        });
        if (best) {
            var q = best.getBoundingClientRect();
            el = best;
            M.x = Math.round(q.left + best.clientLeft); M.y = Math.round(q.top + best.clientTop);
            w = Math.min(best.clientWidth, iw - M.x); h = Math.min(best.clientHeight, ih - M.y);
        }
    }
    M.el = el;
    el.scrollTop = 0; el.scrollLeft = 0;
    M.pending = function () {
        var n = 0, im = document.images;
        for (var i = 0; i < im.length; ++i) {
            if (im[i].complete) continue;
            var q = im[i].getBoundingClientRect();
            if (q.width > 0 && q.height > 0 && q.bottom > 0 && q.top < ih && q.right > 0 &&
                q.left < iw) ++n;
        }
        return n;
    };
    M.show = function (visible) {
        if (visible !== M.hidden) return;
        M.hidden = !visible;
        M.fixed.forEach(function (f) {
            if (M.hidden) f[0].style.setProperty('visibility', 'hidden', 'important');
            else f[0].style.setProperty('visibility', f[1], f[2]);
        });
    };
    M.step = function (top, left, mx, my, colour, hide) {
        var e = M.el, before = [e.scrollTop, e.scrollLeft];
        e.scrollTop = top; e.scrollLeft = left;
        M.show(!hide);
        var m = document.getElementById(markId);
        if (!m) { m = document.createElement('div'); m.id = markId; r.appendChild(m); }
        m.style.cssText = 'position:fixed;display:block;visibility:visible;margin:0;border:0;' +
            'padding:0;width:1px;height:1px;z-index:2147483647;pointer-events:none;left:' +
            (M.x + mx) + 'px;top:' + (M.y + my) + 'px;background:' + colour;
        // A filter or transform on the root makes "fixed" scroll with the page: put the
        // marker where the view shows it all the same.
        var q = m.getBoundingClientRect(), dx = Math.round(M.x + mx - q.left),
            dy = Math.round(M.y + my - q.top);
        if (dx || dy) {
            m.style.left = (M.x + mx + dx) + 'px';
            m.style.top = (M.y + my + dy) + 'px';
        }
        return [before[0], before[1], e.scrollTop, e.scrollLeft, M.pending()];
    };
    M.restore = function () {
        M.show(true);
        for (var i = M.saved.length - 1; i >= 0; --i) {
            var s = M.saved[i];
            s[0].style.setProperty(s[1], s[2], s[3]);
        }
        var m = document.getElementById(markId);
        if (m) m.remove();
        [M.el, r, b].forEach(function (e) { if (e) { e.scrollTop = 0; e.scrollLeft = 0; } });
        delete window.__morvane;
        return true;
    };
    return JSON.stringify({x: M.x, y: M.y, w: w, h: h, sw: el.scrollWidth, sh: el.scrollHeight,
                           dpr: window.devicePixelRatio || 1});
})
