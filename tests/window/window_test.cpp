// The Qt view of the main window, offscreen: its widgets follow the form across a real pty
// connection, cells are drawn in their colours, resizing stretches, keys reach the form.
// The window's decisions themselves are tested without a window in console_form_test.
#include "window_rig.h"

#include "console_menu.h"
#include "floppy_service.h"
#include "palette.h"
#include "png_file.h"
#include "test_dir.h"

#include <QCheckBox>
#include <QClipboard>
#include <QMouseEvent>
#include <QGroupBox>
#include <QWindow>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

namespace {

class WindowTest : public testing::Test {
  protected:
    void SetUp() override {
        TestApp();
        TConDos::message_box_hook = [this](const QString& text) {
            boxes.push_back(text.toStdString());
        };
        window = std::make_unique<TConDos>();
        window->Timer1->stop(); // tests tick the timer themselves where it matters
        window->show();
    }
    void TearDown() override {
        window.reset();
        TConDos::message_box_hook = nullptr;
    }

    bool Idle() const {
        return window->Connect->isEnabled() && !window->Disconnect->isEnabled() &&
               window->EnaFloppy->isEnabled() && window->COMGroup->isEnabled();
    }
    bool Connected() const {
        return !window->Connect->isEnabled() && window->Disconnect->isEnabled() &&
               !window->EnaFloppy->isEnabled() && !window->COMGroup->isEnabled() &&
               !window->EnaKeyboard->isEnabled() && !window->EnaVideo->isEnabled();
    }
    QString Status() const { return window->Label2->text(); }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) window->Timer1Timer();
    }
    // Connects, sends the target's status query and returns the console's answer.
    std::string StatusAnswer() {
        TPtyTarget target;
        TStepper steps;
        steps.Do("status query", [&] { target.Send("\x1bS"); })
            .Then("answered", [&] { return !target.Received().empty(); },
                  [&] { window->CloseComClick(); });
        EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
        return target.Received();
    }
    QRgb Pixel(int row, int column, int dx, int dy) const {
        const TRenderer& r = window->Renderer();
        return r.Bitmap().pixel(column * r.CellWidth() + dx, row * r.CellHeight() + dy);
    }

    std::vector<std::string> boxes;
    std::unique_ptr<TConDos> window;
};

QRgb Colour(int index) {
    const TRgb c = kColourTable[index];
    return qRgb(c.r, c.g, c.b);
}

} // namespace

TEST_F(WindowTest, StartsIdleWithTheCaptionAndTheDefaultPanel) {
    EXPECT_EQ(window->windowTitle().toStdString(), "Quorvik V1.00 for Windows");
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(window->ButtonDel->isVisible());
    EXPECT_FALSE(window->EnaKeyboard->isVisible());
    EXPECT_TRUE(window->EnaVideo->isChecked());
    EXPECT_TRUE(window->COMGroupItems[0]->isChecked());
    EXPECT_EQ(Status(), "0");
    EXPECT_EQ(window->Panel->height(), 41);
    const TRenderer& r = window->Renderer();
    EXPECT_EQ(window->width(), 80 * r.CellWidth());
    EXPECT_EQ(window->height(), 25 * r.CellHeight() + 41);
}

TEST_F(WindowTest, ConnectShowsTheTargetScreenAndDisconnectReturnsToIdle) {
    TPtyTarget target;
    bool connected = false;
    QString right_after_connect;
    TStepper steps;
    steps.Do("connected", [&] {
             connected = Connected();
             right_after_connect = Status();
             target.Send("\x1b[2J\x1b[3;5H\x1b[1;31mHello");
         })
        .Then("text on the screen",
              [&] { return window->Screen().RowText(2).substr(4, 5) == "Hello"; },
              [&] { Ticks(10); })
        .Then("count shown", [&] { return Status() == QString::number(window->Link().ReceivedCount()); },
              [&] { window->CloseComClick(); });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    EXPECT_TRUE(connected);
    EXPECT_EQ(right_after_connect, "Symb = 2");
    EXPECT_EQ(window->Screen().Cell(2, 4).attr, 0x0C);
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(window->Comm->Enabled());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(WindowTest, TheByteCountKeepsGrowingAcrossConnections) {
    TPtyTarget target;
    for (int round = 1; round <= 2; ++round) {
        TStepper steps;
        steps.Do("send", [&] { target.Send("abcd"); })
            .Then("received", [&] { return window->Link().ReceivedCount() >= 4 * round; },
                  [&] { window->CloseComClick(); });
        EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    }
    Ticks(10);
    EXPECT_EQ(Status(), "8");
}

TEST_F(WindowTest, ASlowBurstShowsTimeout) {
    TPtyTarget target;
    TStepper steps;
    steps.Do("escape", [&] { target.Send("\x1b"); })
        // Taken by the main cycle, which now waits for the command byte.
        .Then("escape taken",
              [&] { return window->Link().ReceivedCount() == 1 && window->Link().QueueEmpty(); },
              [&] {
                  Ticks(20); // two seconds of ticks while the command byte is late
                  target.Send("Q");
              })
        .Then("Timeout!", [&] { return Status() == "Timeout!"; }, [&] { window->CloseComClick(); });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
}

TEST_F(WindowTest, ClosingTheWindowWhileConnectedDisconnectsFirst) {
    TPtyTarget target;
    TStepper steps;
    steps.Do("close", [&] { window->close(); });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
    EXPECT_FALSE(window->Comm->Enabled());
    EXPECT_FALSE(window->MainCycleRunning());
    EXPECT_TRUE(Idle());
}

TEST_F(WindowTest, CellsAreDrawnInTheColoursOfTheirAttribute) {
    TScreen& s = window->Screen();
    s.CharOut(0xF1, 0, 0, 0xDB); // full block: dark blue on white, all foreground
    s.CharOut(0x8F, 1, 0, ' ');  // bright background, nothing blinks
    s.CharOut(0x8F, 2, 0, 'H');
    window->ScreenRefresh();
    const int cw = window->Renderer().CellWidth();
    const int ch = window->Renderer().CellHeight();
    EXPECT_EQ(Pixel(0, 0, cw / 2, ch / 2), Colour(1));
    EXPECT_EQ(Pixel(0, 1, cw / 2, ch / 2), Colour(8));
    int white = 0, grey = 0;
    for (int y = 0; y < ch; ++y)
        for (int x = 0; x < cw; ++x) {
            const QRgb p = Pixel(0, 2, x, y);
            white += p == Colour(15);
            grey += p == Colour(8);
        }
    EXPECT_GT(white, 10);
    EXPECT_GT(grey, 10);
}

TEST_F(WindowTest, AnotherSizeStretchesAndTheNaturalSizeDrawsUnscaled) {
    const TRenderer& r = window->Renderer();
    const QSize natural = window->size();
    window->ScreenRefresh();
    const long before = window->CellsDrawn();
    window->resize(natural.width() * 2, natural.height() + 400);
    QApplication::processEvents();
    EXPECT_TRUE(window->StretchMode());
    EXPECT_EQ(window->Marker->width(), r.CellWidth() * 2);
    EXPECT_EQ(window->Marker->height(), 2);
    window->ScreenRefresh(); // every non-zero cell again
    EXPECT_EQ(window->CellsDrawn() - before, 2000);
    window->resize(natural);
    QApplication::processEvents();
    EXPECT_FALSE(window->StretchMode());
    EXPECT_EQ(window->Marker->width(), r.CellWidth());
}

TEST_F(WindowTest, AfterClearScreenTheNextBlinkShowsTheBar) {
    window->ScreenRefresh();
    for (int i = 0; i < 20; ++i) window->ScreenRefresh();
    window->Screen().ClearScreen();
    window->ScreenRefresh(); // the change
    bool seen = false;
    for (int i = 0; i < 8 && !seen; ++i) {
        window->ScreenRefresh();
        seen = window->Marker->isVisible();
    }
    EXPECT_TRUE(seen);
}

TEST_F(WindowTest, AChosenImageIsNamedInTheCaptionAndAttachedAtConnect) {
    const std::string path = TestPath("window-test.img");
    ASSERT_EQ(std::system(("rm -f " + path + " && mkfs.fat -C -F 12 " + path +
                           " 1440 > /dev/null").c_str()),
              0);
    window->file_dialog_hook = [&] { return QString::fromStdString(path); };
    window->EnaFloppy->click();
    EXPECT_TRUE(window->EnaFloppy->isChecked());
    EXPECT_EQ(window->windowTitle().toStdString(),
              "Quorvik V1.00 for Windows ... ImageFile: window-test.img");
    EXPECT_EQ(StatusAnswer(), "\x55");
    bool geometry_shown = false;
    for (int row = 0; row < 25; ++row)
        geometry_shown |= window->Screen().RowText(row).rfind("Sectors Per Track:   18", 0) == 0;
    EXPECT_TRUE(geometry_shown);
    EXPECT_FALSE(window->Floppy().ImageAttached()); // released at Disconnect
    // Unticking the box drops the name from the caption.
    window->EnaFloppy->click();
    EXPECT_EQ(window->windowTitle().toStdString(), "Quorvik V1.00 for Windows");
}

TEST_F(WindowTest, DelAppearsWhileCtrlAndAltAreHeldAndSendsTheRebootCode) {
    TPtyTarget target;
    auto key = [&](QEvent::Type type, int qt_key, quint32 linux_code) {
        QKeyEvent e(type, qt_key, Qt::NoModifier, linux_code + 8, 0, 0);
        QApplication::sendEvent(window->windowHandle(), &e);
    };
    TStepper steps;
    steps.Do("hold Ctrl and Alt", [&] {
             key(QEvent::KeyPress, Qt::Key_Control, 29);
             key(QEvent::KeyPress, Qt::Key_Alt, 56);
             Ticks(10);
         })
        .Then("Del shown", [&] { return window->ButtonDel->isVisible(); },
              [&] {
                  EXPECT_EQ(window->Label1->text().toStdString(),
                            std::string(15, ' ') + "      CTRL ALT ");
                  window->ButtonDel->click();
              })
        .Then("reboot code", [&] { return target.Received() == "\x1b\x7f"; },
              [&] {
                  key(QEvent::KeyRelease, Qt::Key_Alt, 56);
                  Ticks(10);
              })
        .Then("Del hidden", [&] { return !window->ButtonDel->isVisible(); },
              [&] { window->CloseComClick(); });
    EXPECT_EQ(steps.RunConnected(*window), std::vector<std::string>{});
}

namespace {

// Sends a mouse press and its release to the window at `at`.
void Click(QWidget* window, Qt::MouseButton button, QPoint at) {
    for (auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, at, window->mapToGlobal(at), button,
                          type == QEvent::MouseButtonPress ? button : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(window, &event);
    }
}

} // namespace

TEST_F(WindowTest, ARightClickOnTheConsoleAreaReachesTheMenuAndCopyFillsTheClipboard) {
    std::vector<std::string> captions;
    window->popup_menu_hook = [&](const std::vector<TMenuEntry>& entries) {
        for (const TMenuEntry& e : entries) captions.push_back(e.caption);
        return entries.front().command;
    };
    window->Screen().StrOut(0x07, 0, 0, "C:\\>");
    Click(window.get(), Qt::RightButton, QPoint(30, window->Panel->height() + 30));
    ASSERT_FALSE(captions.empty());
    EXPECT_EQ(captions.front(), "Copy");
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), "C:\\>\n");
}

TEST_F(WindowTest, SaveScreenAsPngWritesTheImageAtItsNaturalSizeWithoutTheCursorBar) {
    window->Screen().StrOut(0x1E, 0, 24, "bottom row");
    window->Form().ScreenRefresh();
    const QString path = QString::fromStdString(TestPath("screen.png"));
    window->save_dialog_hook = [&] { return path; };
    bool offered = false;
    window->popup_menu_hook = [&](const std::vector<TMenuEntry>& entries) {
        for (const TMenuEntry& e : entries) offered |= e.command == ccSavePng && e.enabled;
        return offered ? int(ccSavePng) : -1; // -1: the menu closed without a choice
    };
    Click(window.get(), Qt::RightButton, QPoint(30, window->Panel->height() + 30));
    ASSERT_TRUE(offered) << "the menu offers no enabled Save screen as PNG...";
    const QImage saved(path);
    const TRenderer& r = window->Renderer();
    ASSERT_EQ(saved.size(), QSize(80 * r.CellWidth(), 25 * r.CellHeight()));
    EXPECT_TRUE(saved.convertToFormat(QImage::Format_RGB32) ==
                r.Bitmap().convertToFormat(QImage::Format_RGB32));
}

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
