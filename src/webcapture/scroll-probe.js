// Which of the root element and the body scrolls, and their visible sizes, as JSON.
(function () {
    var r = document.documentElement, b = document.body, a = {root: !!r, body: !!b};
    if (r && b) {
        r.scrollTop = 1; r.scrollLeft = 1; b.scrollTop = 1; b.scrollLeft = 1;
        a.rt = r.scrollTop; a.rl = r.scrollLeft; a.bt = b.scrollTop; a.bl = b.scrollLeft;
        a.rw = r.clientWidth; a.rh = r.clientHeight; a.bw = b.clientWidth; a.bh = b.clientHeight;
        r.scrollTop = 0; r.scrollLeft = 0; b.scrollTop = 0; b.scrollLeft = 0;
    }
    return JSON.stringify(a);
})()
