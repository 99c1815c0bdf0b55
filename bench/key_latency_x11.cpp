// Measures, from outside, how long a key takes to come back as a glyph in the console window:
// a key press typed with XTest into the console's window, the target (the simulator in its
// interactive mode) echoes it, and the window's pixels are polled until the console area
// changes. Run it on the X server of an already started console that is not yet connected.
//
//   quorvik-key-latency [--keys N] [--title TEXT]
//
// It clicks Connect, waits for the target's screen to settle, then types N keys (letters and
// Backspace by turns) at random moments relative to the console's 100 ms timer, and prints
// one line: "keys=N p50_ms=... p99_ms=... max_ms=...". Exit 1 when a key never showed.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPanelHeight = 41;

Window FindWindow(Display* d, Window w, const std::string& title) {
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        const bool match = title == name;
        XFree(name);
        if (match) return w;
    }
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &n)) return 0;
    Window found = 0;
    for (unsigned i = 0; i < n && !found; ++i) found = FindWindow(d, children[i], title);
    if (children) XFree(children);
    return found;
}

// The pixels of cell rows [first, last) of the console area, without the two bottom pixel rows
// of each cell row, where the blinking cursor bar lies.
std::vector<uint32_t> ConsolePixels(Display* d, Window w, int width, int cell_h, int first,
                                    int last) {
    std::vector<uint32_t> px;
    const int top = kPanelHeight + first * cell_h;
    const int rows = (last - first) * cell_h;
    XImage* img = XGetImage(d, w, 0, top, width, rows, AllPlanes, ZPixmap);
    if (!img) return px;
    px.reserve(static_cast<size_t>(width) * rows);
    for (int y = 0; y < rows; ++y) {
        if (y % cell_h >= cell_h - 2) continue;
        for (int x = 0; x < width; ++x) px.push_back(static_cast<uint32_t>(XGetPixel(img, x, y)));
    }
    XDestroyImage(img);
    return px;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

} // namespace

int main(int argc, char** argv) {
    int keys = 40;
    std::string title = "Quorvik V1.00 for Windows";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--keys" && i + 1 < argc) keys = std::atoi(argv[++i]);
        else if (a == "--title" && i + 1 < argc) title = argv[++i];
        else {
            std::fprintf(stderr, "usage: quorvik-key-latency [--keys N] [--title TEXT]\n");
            return 64;
        }
    }
    Display* d = XOpenDisplay(nullptr);
    if (!d) {
        std::fprintf(stderr, "quorvik-key-latency: no X display\n");
        return 2;
    }
    Window w = 0;
    for (int i = 0; i < 200 && !w; ++i) {
        w = FindWindow(d, DefaultRootWindow(d), title);
        if (!w) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (!w) {
        std::fprintf(stderr, "quorvik-key-latency: no window titled \"%s\"\n", title.c_str());
        return 2;
    }
    XWindowAttributes attr;
    XGetWindowAttributes(d, w, &attr);
    const int width = attr.width, height = attr.height;
    const int cell_h = (height - kPanelHeight) / 25;
    // Polling the whole console area costs milliseconds a grab on a busy machine; once the
    // first key has shown which cell row its echo changes, only that row is polled.
    int first_row = 0, last_row = 25;
    auto grab = [&] { return ConsolePixels(d, w, width, cell_h, first_row, last_row); };

    // Connect: the button's middle, at 7 + 35, 8 + 12 in the panel.
    int rx = 0, ry = 0;
    Window child;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), 7 + 35, 8 + 12, &rx, &ry, &child);
    XTestFakeMotionEvent(d, -1, rx, ry, 0);
    XTestFakeButtonEvent(d, 1, True, 0);
    XTestFakeButtonEvent(d, 1, False, 0);
    XSync(d, False);

    // The target draws its screen on connection: wait until it has been still for a second.
    auto settle = [&](std::chrono::milliseconds still, std::chrono::seconds limit) {
        auto last = grab();
        auto since = Clock::now();
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            auto now = grab();
            if (now != last) {
                last = std::move(now);
                since = Clock::now();
            } else if (Clock::now() - since >= still) {
                return last;
            }
        }
        return last;
    };
    settle(std::chrono::milliseconds(1000), std::chrono::seconds(20));

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> pause(0, 100);
    const KeyCode letters[] = {XKeysymToKeycode(d, XK_a), XKeysymToKeycode(d, XK_s),
                               XKeysymToKeycode(d, XK_d), XKeysymToKeycode(d, XK_f)};
    const KeyCode backspace = XKeysymToKeycode(d, XK_BackSpace);
    std::vector<double> ms;
    int missed = 0;
    for (int k = -1; k < keys; ++k) { // key -1 finds the row to poll
        const auto before = settle(std::chrono::milliseconds(150), std::chrono::seconds(5));
        // A random moment relative to the console's timer.
        std::this_thread::sleep_for(std::chrono::milliseconds(pause(random)));
        const KeyCode code = k % 2 != 0 ? letters[((k + 2) / 2) % 4] : backspace;
        XTestFakeKeyEvent(d, code, True, 0);
        XTestFakeKeyEvent(d, code, False, 0);
        XSync(d, False);
        const auto pressed = Clock::now();
        bool seen = false;
        std::vector<uint32_t> after;
        while (Clock::now() - pressed < std::chrono::seconds(1)) {
            after = grab();
            if (after != before) {
                seen = true;
                break;
            }
        }
        if (k < 0) {
            if (!seen) break;
            const size_t per_row = static_cast<size_t>(width) * (cell_h - 2);
            size_t i = 0;
            while (i < after.size() && after[i] == before[i]) ++i;
            first_row = static_cast<int>(i / per_row);
            last_row = first_row + 1;
            continue;
        }
        if (seen) ms.push_back(Ms(Clock::now() - pressed));
        else ++missed;
    }
    XCloseDisplay(d);
    if (ms.empty()) {
        std::fprintf(stderr, "quorvik-key-latency: no key came back\n");
        return 1;
    }
    std::sort(ms.begin(), ms.end());
    auto pct = [&](double p) {
        return ms[std::min(ms.size() - 1, static_cast<size_t>(p * (ms.size() - 1) + 0.5))];
    };
    std::printf("keys=%zu missed=%d p50_ms=%.2f p90_ms=%.2f p99_ms=%.2f max_ms=%.2f\n",
                ms.size(), missed, pct(0.50), pct(0.90), pct(0.99), ms.back());
    return missed == 0 ? 0 : 1;
}
