// Prints one line "bell" for every bell rung on the X display, so window tests can count the
// beeps of a program that has no other way to show them.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <cstdio>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "bell_watch: cannot open display\n");
        return 1;
    }
    int xkb_event_base = 0;
    int opcode = 0;
    int error_base = 0;
    int major = XkbMajorVersion;
    int minor = XkbMinorVersion;
    if (!XkbQueryExtension(display, &opcode, &xkb_event_base, &error_base, &major, &minor)) {
        std::fprintf(stderr, "bell_watch: no XKB extension\n");
        return 1;
    }
    XkbSelectEvents(display, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        auto* xkb = reinterpret_cast<XkbEvent*>(&event);
        if (event.type == xkb_event_base && xkb->any.xkb_type == XkbBellNotify) {
            std::printf("bell\n");
            std::fflush(stdout);
        }
    }
}
