/* Test rig only: presses (+N) and releases (-N) X keycodes, and clicks the first mouse button
 * at screen coordinates (@X,Y), through XTest on $DISPLAY, in the order given, so that a
 * program under wine receives them as real input. */
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
        const int code = atoi(argv[i]);
        XTestFakeKeyEvent(display, (unsigned)abs(code), argv[i][0] == '+', CurrentTime);
        XSync(display, False);
    }
    XCloseDisplay(display);
    return 0;
}
