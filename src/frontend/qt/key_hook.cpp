#include "key_hook.h"

#include "key_adapter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QWindow>

TKeyHook::TKeyHook(QWidget* main_window, TKeyboard& keyboard, QObject* parent)
    : QObject(parent), window_(main_window), keyboard_(keyboard) {
    QCoreApplication::instance()->installEventFilter(this);
}

namespace {
TKeyboardCallbacks FromQt(TKeyHookCallbacks c) {
    std::function<void(const std::string&)> show;
    if (c.show_state)
        show = [f = std::move(c.show_state)](const std::string& t) {
            f(QString::fromStdString(t));
        };
    return TKeyboardCallbacks{std::move(c.write), std::move(c.key_hold), std::move(show)};
}
} // namespace

TKeyHook::TKeyHook(QWidget* main_window, TKeyHookCallbacks callbacks, QObject* parent)
    : QObject(parent), window_(main_window),
      own_keyboard_(std::make_unique<TKeyboard>(FromQt(std::move(callbacks)))),
      keyboard_(*own_keyboard_) {
    QCoreApplication::instance()->installEventFilter(this);
}

TKeyHook::~TKeyHook() {
    if (auto* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

void TKeyHook::FormActivate() { keyboard_.FormActivate(ReadPcLockState()); }

// A key event reaches the main window's native window first and then the focus widget (or the
// window itself); events sent straight to a widget only reach that widget. Popups and dialogs
// are windows of their own and are not matched.
bool TKeyHook::MeantForMainWindow(QObject* receiver) const {
    if (!window_ || !receiver) return false;
    if (receiver->isWidgetType()) return static_cast<QWidget*>(receiver)->window() == window_;
    if (receiver->isWindowType()) {
        const QWindow* handle = window_->windowHandle();
        return handle != nullptr && receiver == handle;
    }
    return false;
}

bool TKeyHook::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::KeyRelease &&
        type != QEvent::ShortcutOverride) {
        return false;
    }
    if (!MeantForMainWindow(watched)) return false;

    const auto& key = static_cast<const QKeyEvent&>(*event);
    if (type == QEvent::ShortcutOverride) {
        // Accepted: the key is the window's, so no shortcut fires; the press follows.
        event->accept();
        return true;
    }
    const TKeyCodes codes = KeyCodesFromEvent(key);
    if (type == QEvent::KeyPress) {
        keyboard_.AppMessage(kdDown, codes.scan_code, codes.virtual_key);
    } else if (!key.isAutoRepeat()) {
        // X11 sends a release before each auto-repeated press; a held Shift must stay down.
        keyboard_.AppMessage(kdUp, codes.scan_code, codes.virtual_key);
    }
    event->accept();
    return true;
}

