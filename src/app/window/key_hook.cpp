#include "key_hook.h"

#include "key_adapter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QWindow>

TKeyHook::TKeyHook(QWidget* main_window, TKeyHookCallbacks callbacks, QObject* parent)
    : QObject(parent), window_(main_window), callbacks_(std::move(callbacks)) {
    QCoreApplication::instance()->installEventFilter(this);
}

TKeyHook::~TKeyHook() {
    if (auto* app = QCoreApplication::instance()) app->removeEventFilter(this);
}

bool TKeyHook::RebootButtonWanted() const {
    return RebootButtonShown(state_);
}

void TKeyHook::ButtonDelClick() {
    if (KeyHold() || !callbacks_.write) return;
    callbacks_.write(reinterpret_cast<const uint8_t*>(kRebootBytes.data()), kRebootBytes.size());
}

void TKeyHook::FormActivate() {
    state_ = ReloadLockBits(state_, ReadPcLockState());
    PrintKBDState();
}

void TKeyHook::PrintKBDState() {
    if (callbacks_.show_state) callbacks_.show_state(QString::fromLatin1(KBDStateText(state_)));
}

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
    if (type == QEvent::KeyPress) {
        HandleKey(kdDown, key);
    } else if (!key.isAutoRepeat()) {
        // X11 sends a release before each auto-repeated press; a held Shift must stay down.
        HandleKey(kdUp, key);
    }
    event->accept();
    return true;
}

void TKeyHook::HandleKey(TKeyDirection direction, const QKeyEvent& event) {
    const TKeyCodes codes = KeyCodesFromEvent(event);
    const TKeyResult r =
        TranslateKey(direction, codes.scan_code, codes.virtual_key, state_, KeyHold());
    state_ = r.state;
    if (r.count != 0 && callbacks_.write) callbacks_.write(r.bytes.data(), r.count);
    if (r.print_state) PrintKBDState();
}
