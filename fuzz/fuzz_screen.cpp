// Any sequence of the screen buffer's operations, with any arguments: no write lands outside
// the cells (the sanitizers watch), and after every operation the cursor names a cell.
#include "screen.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <string>

namespace {

void CheckCursor(const TScreen& s) {
    if (s.CursorColumn() < 0 || s.CursorColumn() >= kScreenColumns || s.CursorRow() < 0 ||
        s.CursorRow() >= kScreenRows)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    TScreen s;
    while (in.remaining_bytes() > 0) {
        const uint8_t b = in.ConsumeIntegral<uint8_t>();
        switch (b % 13) {
        case 0: s.ClearScreen(); break;
        case 1: s.Putch(in.ConsumeIntegral<uint8_t>()); break;
        case 2: s.TelePutch(in.ConsumeIntegral<uint8_t>()); break;
        case 3: {
            const uint8_t attr = in.ConsumeIntegral<uint8_t>();
            const int column = in.ConsumeIntegral<int>();
            const int row = in.ConsumeIntegral<int>();
            const std::string text = in.ConsumeRandomLengthString(400);
            s.StrOut(attr, column, row, text.c_str());
            break;
        }
        case 4: s.MsgOut("%s", in.ConsumeRandomLengthString(400).c_str()); break;
        case 5: {
            const uint8_t attr = in.ConsumeIntegral<uint8_t>();
            const int column = in.ConsumeIntegral<int>();
            const int row = in.ConsumeIntegral<int>();
            s.CharOut(attr, column, row, in.ConsumeIntegral<uint8_t>());
            break;
        }
        case 6: s.ScrollDown(); break;
        case 7: s.ScrollUp(); break;
        case 8:
        case 9: {
            uint8_t a[6];
            for (uint8_t& v : a)
                v = in.ConsumeIntegral<uint8_t>();
            if (b % 13 == 8)
                s.ScrollDownWindow(a[0], a[1], a[2], a[3], a[4], a[5]);
            else
                s.ScrollUpWindow(a[0], a[1], a[2], a[3], a[4], a[5]);
            break;
        }
        case 10: {
            const int column = in.ConsumeIntegral<int>();
            s.SetCursor(column, in.ConsumeIntegral<int>());
            break;
        }
        case 11: s.SetAttribute(in.ConsumeIntegral<uint8_t>()); break;
        case 12: s.QClick(); break;
        }
        CheckCursor(s);
    }
    return 0;
}
