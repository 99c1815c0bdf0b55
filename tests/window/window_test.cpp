// What only the Qt window's program can check: the Win32 window's own PNG writer against Qt's
// reader. The scenarios both windows are held to are the window suite's
// (tests/window_suite); the window's decisions are tested without a window in tests/app.
#include "png_file.h"

#include <QImage>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

// The Win32 window's own PNG writer, read back by Qt's reader: a picture larger than one
// stored block, pixel for pixel.
TEST(PngFile, WhatTheWriterWritesIsReadBackPixelForPixel) {
    const int w = 321, h = 123; // 118,572 bytes of rows: two stored blocks
    std::vector<uint32_t> pixels(size_t(w) * h);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint32_t(i * 2654435761u) & 0xFFFFFF;
    const std::string png = EncodePng(w, h, pixels.data());
    QImage image;
    ASSERT_TRUE(image.loadFromData(reinterpret_cast<const uchar*>(png.data()), int(png.size()), "PNG"));
    ASSERT_EQ(image.size(), QSize(w, h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(image.pixel(x, y) & 0xFFFFFF, pixels[size_t(y) * w + x]) << x << "," << y;
}
