#include "renderer.h"

#include "cp437.h"
#include "palette.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>

QFont ConsoleFont() {
    QFont font(QStringLiteral("Px IBM VGA9"));
    font.setPixelSize(16);
    // The VGA font is a pixel font: smoothing its edges would only blur it.
    font.setStyleStrategy(QFont::NoAntialias);
    if (QFontInfo(font).family() != QLatin1String("Px IBM VGA9")) {
        font = QFont(QStringLiteral("DejaVu Sans Mono"));
        font.setPixelSize(16);
        font.setStyleHint(QFont::Monospace);
    }
    return font;
}

TRenderer::TRenderer(const QFont& font) {
    const QFontMetrics metrics(font);
    cell_w_ = metrics.horizontalAdvance(QLatin1Char('O'));
    cell_h_ = metrics.height();
    bitmap_ = QImage(kScreenColumns * cell_w_, kScreenRows * cell_h_, QImage::Format_RGB32);
    bitmap_.fill(Qt::black);

    glyphs_.assign(256 * cell_w_ * cell_h_, 0);
    QImage scratch(cell_w_, cell_h_, QImage::Format_Grayscale8);
    for (int code = 0; code < 256; ++code) {
        scratch.fill(0);
        {
            QPainter p(&scratch);
            p.setFont(font);
            p.setPen(Qt::white);
            const char32_t u = Cp437ToUnicode(static_cast<uint8_t>(code));
            p.drawText(0, metrics.ascent(), QString::fromUcs4(&u, 1));
        }
        uint8_t* mask = &glyphs_[code * cell_w_ * cell_h_];
        for (int y = 0; y < cell_h_; ++y) {
            const uchar* line = scratch.constScanLine(y);
            for (int x = 0; x < cell_w_; ++x) mask[y * cell_w_ + x] = line[x];
        }
    }
}

void TRenderer::DrawCell(int row, int column, TCell cell) {
    const TRgb fg = kColourTable[cell.attr & 0x0F];
    const TRgb bg = kColourTable[cell.attr >> 4];
    const QRgb fg_px = qRgb(fg.r, fg.g, fg.b);
    const QRgb bg_px = qRgb(bg.r, bg.g, bg.b);
    const uint8_t* mask = &glyphs_[cell.ch * cell_w_ * cell_h_];
    const int x0 = column * cell_w_;
    const int y0 = row * cell_h_;
    for (int y = 0; y < cell_h_; ++y) {
        auto* px = reinterpret_cast<QRgb*>(bitmap_.scanLine(y0 + y)) + x0;
        const uint8_t* m = mask + y * cell_w_;
        for (int x = 0; x < cell_w_; ++x) {
            const int a = m[x];
            if (a == 0) {
                px[x] = bg_px;
            } else if (a == 255) {
                px[x] = fg_px;
            } else { // smoothed edges of a fallback font
                const int na = 255 - a;
                px[x] = qRgb((fg.r * a + bg.r * na + 127) / 255, (fg.g * a + bg.g * na + 127) / 255,
                             (fg.b * a + bg.b * na + 127) / 255);
            }
        }
    }
}
