// Draws character cells into the off-screen image of the console (80 x 25 cells).
//
// Glyphs of all 256 codes are rendered once, at construction, into coverage masks; drawing a
// cell is then a blend of two colours through the mask straight into the image's pixels, so a
// full redraw of 2000 cells costs well under a millisecond. Window thread only.
#pragma once

#include "screen.h"

#include <QFont>
#include <QImage>

#include <array>
#include <vector>

// The console font: the VGA text font at 16 pixels where installed, else a monospaced fallback.
QFont ConsoleFont();

class TRenderer {
  public:
    explicit TRenderer(const QFont& font);

    int CellWidth() const { return cell_w_; }
    int CellHeight() const { return cell_h_; }
    const QImage& Bitmap() const { return bitmap_; }

    // The image's device pixel ratio: at 1/zoom of the window's, a painter shows each of its
    // pixels as zoom x zoom device pixels.
    void SetShownRatio(double ratio) {
        if (bitmap_.devicePixelRatio() != ratio) bitmap_.setDevicePixelRatio(ratio);
    }

    // Draws one cell (character and attribute) at its place in the image.
    void DrawCell(int row, int column, TCell cell);

  private:
    int cell_w_ = 0;
    int cell_h_ = 0;
    QImage bitmap_;
    std::vector<uint8_t> glyphs_; // 256 coverage masks of cell_w_ x cell_h_ bytes
};
