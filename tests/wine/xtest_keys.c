/* Test rig only: presses (+N) and releases (-N) X keycodes, and clicks the first mouse button
 * at screen coordinates (@X,Y), through XTest on $DISPLAY, in the order given, so that a
 * program under wine receives them as real input. !ID asks the window ID (0x...) to close, as a
 * window manager's close button does (WM_DELETE_WINDOW), where no window manager runs. */
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(NULL);
    if (!display) {
        fprintf(stderr, "xtest_keys: no display\n");
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '@') {
            int x = 0, y = 0;
            if (sscanf(argv[i] + 1, "%d,%d", &x, &y) != 2) return 64;
            XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
            XTestFakeButtonEvent(display, 1, True, CurrentTime);
            XTestFakeButtonEvent(display, 1, False, CurrentTime);
            XSync(display, False);
            continue;
        }
        if (argv[i][0] == '!') {
            XEvent close = {0};
            close.xclient.type = ClientMessage;
            close.xclient.window = (Window)strtoul(argv[i] + 1, NULL, 0);
            close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
            close.xclient.format = 32;
            close.xclient.data.l[0] = (long)XInternAtom(display, "WM_DELETE_WINDOW", False);
            close.xclient.data.l[1] = CurrentTime;
            XSendEvent(display, close.xclient.window, False, NoEventMask, &close);
            XSync(display, False);
            continue;
        }
        const int code = atoi(argv[i]);
        XTestFakeKeyEvent(display, (unsigned)abs(code), argv[i][0] == '+', CurrentTime);
        XSync(display, False);
    }
    XCloseDisplay(display);
    return 0;
}
