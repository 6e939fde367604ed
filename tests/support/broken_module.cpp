// Stand-ins for the browser module that load but are not it: one without its entry, and one
// (MORVANE_WITH_ENTRY) whose entry makes no browser.
#ifdef MORVANE_WITH_ENTRY
extern "C" __attribute__((visibility("default"))) void*
morvane_create_web_browser(const void* /*context*/) {
    return nullptr;
}
#else
extern "C" __attribute__((visibility("default"))) int morvane_some_other_entry() {
    return 0;
}
#endif
