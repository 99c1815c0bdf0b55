// The main window's key hook with key events as X11 delivers them (native scan code = kernel
// input code + 8), sent to a plain window standing in for the main window.
#include "fakes.h"
#include "key_adapter.h"
#include "key_hook.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Kernel input codes.
constexpr uint32_t kA = 30, kC = 46, kX = 45, kQ = 16, k1 = 2, k7 = 8, k9 = 10, kQuote = 40;
constexpr uint32_t kSpace = 57, kEnter = 28, kTab = 15, kLeftShift = 42, kLeftCtrl = 29;
constexpr uint32_t kLeftAlt = 56, kCapsLock = 58, kNumLock = 69, kF1 = 59, kF4 = 62;
constexpr uint32_t kKeypad8 = 72, kRightCtrl = 97, kRightAlt = 100;

// One application for the whole program, gone before the program's exit handlers run (Qt's
// own global objects die there).
class TQtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { app_ = std::make_unique<QApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[14] = "key_hook_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] const auto* const qt_environment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

void SendKey(QObject* to, QEvent::Type type, uint32_t code, int qt_key,
             Qt::KeyboardModifiers mods = {}, const QString& text = {}, bool autorep = false) {
    QKeyEvent event(type, qt_key, mods, code + 8, 0, 0, text, autorep);
    QApplication::sendEvent(to, &event);
}

class KeyHook : public ::testing::Test {
  protected:
    void SetUp() override {
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        edit = new QLineEdit(window.get());
        button = new QPushButton("Connect", window.get());
        layout->addWidget(edit);
        layout->addWidget(button);
        QObject::connect(button, &QPushButton::clicked, [this] { ++clicks; });
        hook = MakeHook();
        window->show();
        edit->setFocus();
        target = edit;
    }

    std::unique_ptr<TKeyHook> MakeHook() {
        return std::make_unique<TKeyHook>(
            window.get(), TKeyHookCallbacks{[this](const uint8_t* bytes, size_t count) {
                                                writes.push_back(ToHex({bytes, bytes + count}));
                                            },
                                            [this] { return hold; },
                                            [this](const QString& text) {
                                                label = text.toStdString();
                                                ++label_updates;
                                            }});
    }

    void Press(uint32_t code, int qt_key, Qt::KeyboardModifiers mods = {}, const QString& text = {},
               bool autorep = false) {
        SendKey(target, QEvent::KeyPress, code, qt_key, mods, text, autorep);
    }
    void Release(uint32_t code, int qt_key, Qt::KeyboardModifiers mods = {}, bool autorep = false) {
        SendKey(target, QEvent::KeyRelease, code, qt_key, mods, {}, autorep);
    }
    void Tap(uint32_t code, int qt_key, Qt::KeyboardModifiers mods = {}, const QString& text = {}) {
        Press(code, qt_key, mods, text);
        Release(code, qt_key, mods);
    }

    std::unique_ptr<QWidget> window;
    QLineEdit* edit = nullptr;
    QPushButton* button = nullptr;
    QObject* target = nullptr; // where Press and Release send; the line edit by default
    std::unique_ptr<TKeyHook> hook;
    std::vector<std::string> writes; // one entry per write, as hex
    bool hold = false;
    std::string label;
    int label_updates = 0;
    int clicks = 0;

    void TearDown() override { hook.reset(); }
};

using Writes = std::vector<std::string>;
const std::string kBlank5(5, ' ');

} // namespace

TEST_F(KeyHook, TypingGoesToTheTargetAndNeverReachesTheWindowsWidgets) {
    Tap(kA, Qt::Key_A, {}, "a");
    Tap(k1, Qt::Key_1, {}, "1");
    EXPECT_EQ(writes, (Writes{"61", "31"}));
    EXPECT_TRUE(edit->text().isEmpty());
}

TEST_F(KeyHook, AKeyArrivingAtTheNativeWindowIsTranslatedOnce) {
    target = window->windowHandle();
    ASSERT_NE(target, nullptr);
    Tap(kA, Qt::Key_A, {}, "a");
    EXPECT_EQ(writes, (Writes{"61"}));
    EXPECT_TRUE(edit->text().isEmpty());

    // Without the hook the same event types into the focused line edit.
    hook.reset();
    Tap(kA, Qt::Key_A, {}, "a");
    EXPECT_EQ(edit->text(), "a");
    EXPECT_EQ(writes, (Writes{"61"}));
}

TEST_F(KeyHook, ShiftAndCapsLockAreShownAndApplied) {
    Press(kLeftShift, Qt::Key_Shift, Qt::ShiftModifier);
    EXPECT_EQ(label, std::string(15, ' ') + "SHIFT " + std::string(9, ' '));
    Tap(kA, Qt::Key_A, Qt::ShiftModifier, "A");
    Release(kLeftShift, Qt::Key_Shift);
    EXPECT_EQ(label, std::string(30, ' '));
    Tap(kCapsLock, Qt::Key_CapsLock);
    EXPECT_EQ(label, kBlank5 + "CAPS " + std::string(20, ' '));
    Tap(kA, Qt::Key_A, {}, "A");
    EXPECT_EQ(writes, (Writes{"41", "41"}));
    EXPECT_EQ(label_updates, 4); // Shift down, up, Caps Lock down, up
}

TEST_F(KeyHook, TabEnterAndSpaceNeverActOnThePanel) {
    button->setFocus();
    target = button;
    Tap(kSpace, Qt::Key_Space, {}, " ");
    Tap(kEnter, Qt::Key_Return, {}, "\r");
    Tap(kTab, Qt::Key_Tab, {}, "\t");
    EXPECT_EQ(writes, (Writes{"20", "0D", "09"}));
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(window->focusWidget(), button);
}

TEST_F(KeyHook, ShortcutsOfTheWindowDoNotFire) {
    auto* quit = new QAction(window.get());
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    window->addAction(quit);
    int fired = 0;
    QObject::connect(quit, &QAction::triggered, [&] { ++fired; });
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));

    QTest::keyClick(edit, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(fired, 0);

    // The same key fires the shortcut once the hook is gone.
    hook.reset();
    QTest::keyClick(edit, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(fired, 1);
}

TEST_F(KeyHook, AltF4SendsItsStringAndLeavesTheWindowOpen) {
    Press(kLeftAlt, Qt::Key_Alt, Qt::AltModifier);
    Tap(kF4, Qt::Key_F4, Qt::AltModifier);
    Release(kLeftAlt, Qt::Key_Alt);
    EXPECT_EQ(writes, (Writes{"1B 34"}));
    EXPECT_TRUE(window->isVisible());
}

TEST_F(KeyHook, AutoRepeatReleasesDoNotLiftAHeldShift) {
    const std::string shift_shown = std::string(15, ' ') + "SHIFT " + std::string(9, ' ');
    Press(kLeftShift, Qt::Key_Shift, Qt::ShiftModifier);
    for (int i = 0; i < 3; ++i) {
        Release(kLeftShift, Qt::Key_Shift, Qt::ShiftModifier, true);
        EXPECT_TRUE(hook->KeyboardState() & ksLeftShift) << "repeat " << i;
        EXPECT_EQ(label, shift_shown) << "repeat " << i;
        Press(kLeftShift, Qt::Key_Shift, Qt::ShiftModifier, {}, true);
    }
    Tap(kA, Qt::Key_A, Qt::ShiftModifier, "A");
    Release(kLeftShift, Qt::Key_Shift);
    Tap(kA, Qt::Key_A, {}, "a");
    EXPECT_EQ(writes, (Writes{"41", "61"}));
}

TEST_F(KeyHook, AutoRepeatedPressesRepeatCharactersAndToggleCapsLockEachTime) {
    Press(kA, Qt::Key_A, {}, "a");
    Release(kA, Qt::Key_A, {}, true);
    Press(kA, Qt::Key_A, {}, "a", true);
    Release(kA, Qt::Key_A);
    Press(kCapsLock, Qt::Key_CapsLock);
    Press(kCapsLock, Qt::Key_CapsLock, {}, {}, true);
    Press(kCapsLock, Qt::Key_CapsLock, {}, {}, true);
    Release(kCapsLock, Qt::Key_CapsLock);
    EXPECT_EQ(writes, (Writes{"61", "61"}));
    EXPECT_EQ(label, kBlank5 + "CAPS " + std::string(20, ' '));
}

TEST_F(KeyHook, KeyHoldSilencesKeysAndTheRebootButtonButNotTheLocks) {
    hold = true;
    Tap(kA, Qt::Key_A, {}, "a");
    Tap(103, Qt::Key_Up);
    Tap(kCapsLock, Qt::Key_CapsLock);
    hook->ButtonDelClick();
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(label, kBlank5 + "CAPS " + std::string(20, ' '));

    hold = false;
    hook->ButtonDelClick();
    Tap(kA, Qt::Key_A, {}, "A");
    EXPECT_EQ(writes, (Writes{"1B 7F", "41"}));
}

TEST_F(KeyHook, RebootButtonIsWantedWhileCtrlAndAltAreHeld) {
    Press(kRightCtrl, Qt::Key_Control);
    EXPECT_FALSE(hook->RebootButtonWanted());
    Press(kRightAlt, Qt::Key_AltGr);
    EXPECT_TRUE(hook->RebootButtonWanted());
    EXPECT_EQ(label, std::string(21, ' ') + "CTRL ALT ");
    Release(kRightAlt, Qt::Key_AltGr);
    EXPECT_FALSE(hook->RebootButtonWanted());
    Press(kLeftAlt, Qt::Key_Alt);
    EXPECT_TRUE(hook->RebootButtonWanted());
    Release(kRightCtrl, Qt::Key_Control);
    EXPECT_FALSE(hook->RebootButtonWanted());
    EXPECT_TRUE(writes.empty());
}

TEST_F(KeyHook, KeysForADialogOrAnotherWindowPassUntouched) {
    // A dialog owned by the main window (as the file dialog is) is a window of its own.
    QDialog dialog(window.get());
    auto* name = new QLineEdit(&dialog);
    dialog.show();
    SendKey(name, QEvent::KeyPress, kLeftShift, Qt::Key_Shift, Qt::ShiftModifier);
    SendKey(name, QEvent::KeyPress, kX, Qt::Key_X, Qt::ShiftModifier, "X");
    SendKey(name, QEvent::KeyPress, kX, Qt::Key_X, {}, "x");

    QWidget other;
    auto* field = new QLineEdit(&other);
    other.show();
    SendKey(field, QEvent::KeyPress, kQ, Qt::Key_Q, {}, "q");

    EXPECT_EQ(name->text(), "Xx");
    EXPECT_EQ(field->text(), "q");
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(hook->KeyboardState(), 0);
    EXPECT_EQ(label_updates, 0);
}

TEST_F(KeyHook, ActivationWithoutAKeyboardToAskKeepsTheLockBitsAndShowsThem) {
    Tap(kNumLock, Qt::Key_NumLock);
    const int before = label_updates;
    hook->FormActivate(); // offscreen: the PC's lock state cannot be read
    EXPECT_EQ(label_updates, before + 1);
    EXPECT_EQ(label, "NUML " + std::string(25, ' '));
    EXPECT_EQ(hook->KeyboardState(), ksNumLock);
}

TEST_F(KeyHook, SyntheticKeysWithoutAScanCodeAreSwallowedSilently) {
    QTest::keyClick(edit, Qt::Key_A);
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_TRUE(writes.empty());
    EXPECT_TRUE(edit->text().isEmpty());
}

TEST_F(KeyHook, KeypadEightFollowsNumLockAsTheLayoutReportsIt) {
    Tap(kKeypad8, Qt::Key_Up, Qt::KeypadModifier);
    Tap(kNumLock, Qt::Key_NumLock);
    Tap(kKeypad8, Qt::Key_8, Qt::KeypadModifier, "8");
    EXPECT_EQ(writes, (Writes{"1B 5B 41", "38"}));
}

TEST_F(KeyHook, ShiftedPunctuationIsNotTakenForACursorKey) {
    // Qt's codes for these characters equal the virtual keys of Up, Down, Page Up and
    // Page Down.
    Press(kLeftShift, Qt::Key_Shift);
    Tap(k7, Qt::Key_Ampersand, Qt::ShiftModifier, "&");
    Tap(k9, Qt::Key_ParenLeft, Qt::ShiftModifier, "(");
    Tap(k1, Qt::Key_Exclam, Qt::ShiftModifier, "!");
    Tap(kQuote, Qt::Key_QuoteDbl, Qt::ShiftModifier, "\"");
    EXPECT_EQ(writes, (Writes{"26", "28", "21", "22"}));
}

TEST_F(KeyHook, ExtendedKeysShareTheKeypadsEntries) {
    Press(kRightCtrl, Qt::Key_Control);
    Tap(kC, Qt::Key_C, Qt::ControlModifier);
    Release(kRightCtrl, Qt::Key_Control);
    Tap(96, Qt::Key_Enter, Qt::KeypadModifier, "\r"); // keypad Enter
    Tap(98, Qt::Key_Slash, Qt::KeypadModifier, "/");  // keypad /
    Tap(102, Qt::Key_Home);
    Tap(111, Qt::Key_Delete);
    EXPECT_EQ(writes, (Writes{"03", "0D", "2F", "1B 5B 48", "1B 2D"}));
}

TEST_F(KeyHook, PrintScreenAndKeysOutsideTheTableSendNothing) {
    Tap(99, Qt::Key_Print);
    Press(kLeftAlt, Qt::Key_Alt);
    Tap(99, Qt::Key_SysReq, Qt::AltModifier); // X11's Alt+Print
    Release(kLeftAlt, Qt::Key_Alt);
    Tap(125, Qt::Key_Meta);         // Super
    Tap(127, Qt::Key_Menu);         // Menu
    Tap(119, Qt::Key_Pause);        // Pause
    Tap(86, Qt::Key_Less, {}, "<"); // the extra key of 102-key keyboards
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(hook->KeyboardState(), 0);
}

TEST_F(KeyHook, FunctionKeysKeepTheirStringWhateverTheLayoutMakesOfThem) {
    Press(kLeftCtrl, Qt::Key_Control);
    Press(kLeftAlt, Qt::Key_Alt);
    // X11 turns Ctrl+Alt+F1 into a console switch, which Qt does not name.
    Tap(kF1, Qt::Key_unknown, Qt::ControlModifier | Qt::AltModifier);
    Tap(67, Qt::Key_F9, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(writes, (Writes{"1B 31", "1B 3A"}));
}

TEST_F(KeyHook, DestroyingTheHookGivesTheKeysBackToTheWidgets) {
    hook.reset();
    Tap(kA, Qt::Key_A, {}, "a");
    EXPECT_EQ(edit->text(), "a");
    EXPECT_TRUE(writes.empty());
}

TEST_F(KeyHook, AHookOutlivingItsWindowLetsOtherWindowsWork) {
    window.reset();
    QWidget other;
    auto* field = new QLineEdit(&other);
    other.show();
    SendKey(field, QEvent::KeyPress, kQ, Qt::Key_Q, {}, "q");
    EXPECT_EQ(field->text(), "q");
    EXPECT_TRUE(writes.empty());
}

TEST(KeyAdapter, LinuxInputCodesMapToTheSharedScanCodes) {
    struct TRow {
        uint32_t code;
        int qt_key;
        uint8_t scan;
        uint8_t vk;
    };
    const TRow rows[] = {
        {1, Qt::Key_Escape, 0x01, 0},
        {30, Qt::Key_A, 0x1E, 0},
        {57, Qt::Key_Space, 0x39, 0},
        {59, Qt::Key_F1, 0x3B, 0x70},
        {68, Qt::Key_F10, 0x44, 0x79},
        {87, Qt::Key_F11, 0x57, 0x7A},
        {88, Qt::Key_F12, 0x58, 0x7B},
        {72, Qt::Key_Up, 0x48, 0x26},
        {72, Qt::Key_8, 0x48, 0},
        {76, Qt::Key_Clear, 0x4C, 0x0C},
        {83, Qt::Key_Delete, 0x53, 0x2E},
        {96, Qt::Key_Enter, 0x1C, 0},
        {97, Qt::Key_Control, 0x1D, 0},
        {98, Qt::Key_Slash, 0x35, 0},
        {99, Qt::Key_Print, 0x37, 0x2C},
        {99, Qt::Key_SysReq, 0x37, 0x2C},
        {100, Qt::Key_AltGr, 0x38, 0},
        {102, Qt::Key_Home, 0x47, 0x24},
        {103, Qt::Key_Up, 0x48, 0x26},
        {104, Qt::Key_PageUp, 0x49, 0x21},
        {105, Qt::Key_Left, 0x4B, 0x25},
        {106, Qt::Key_Right, 0x4D, 0x27},
        {107, Qt::Key_End, 0x4F, 0x23},
        {108, Qt::Key_Down, 0x50, 0x28},
        {109, Qt::Key_PageDown, 0x51, 0x22},
        {110, Qt::Key_Insert, 0x52, 0x2D},
        {111, Qt::Key_Delete, 0x53, 0x2E},
        {119, Qt::Key_Pause, 0, 0},
        {125, Qt::Key_Meta, 0, 0},
        {126, Qt::Key_Meta, 0, 0},
        {127, Qt::Key_Menu, 0, 0},
        {0, Qt::Key_A, 0, 0},
        {300, Qt::Key_A, 0, 0},
    };
    for (const TRow& r : rows) {
        const TKeyCodes c = KeyCodesFromLinux(r.code, r.qt_key);
        EXPECT_EQ(c.scan_code, r.scan) << "code " << r.code;
        EXPECT_EQ(c.virtual_key, r.vk) << "code " << r.code;
    }
}
