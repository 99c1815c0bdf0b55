/* Test rig only: presses (+N) and releases (-N) X keycodes through XTest on $DISPLAY, in the
 * order given, so that a program under wine receives them as real key messages. */
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
        const int code = atoi(argv[i]);
        XTestFakeKeyEvent(display, (unsigned)abs(code), argv[i][0] == '+', CurrentTime);
        XSync(display, False);
    }
    XCloseDisplay(display);
    return 0;
}
