#include "cp437.h"
#include "screen.h"

#include <gtest/gtest.h>

TEST(Screen, PutchAtBottomRightWrapsToBottomLeftWithoutScrolling) {
    TScreen s;
    s.SetCursor(79, 24);
    s.Putch('A');
    EXPECT_EQ(s.Cell(24, 79).ch, 'A');
    EXPECT_EQ(s.CursorRow(), 24);
    EXPECT_EQ(s.CursorColumn(), 0);
}
