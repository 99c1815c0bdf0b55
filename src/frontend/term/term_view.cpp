#include "term_view.h"

namespace {
const std::string kNoText;
}

const std::string& TTermView::Text(TControlId id) const {
    const auto it = texts_.find(id);
    return it == texts_.end() ? kNoText : it->second;
}

void TTermView::CreateControl(const TControlDesc& desc) {
    texts_[desc.id] = desc.caption;
    checked_[desc.id] = desc.checked;
}

void TTermView::SetText(TControlId id, const std::string& text) {
    std::string& held = texts_[id];
    if (held == text) return;
    held = text;
    if (hooks.panel_changed) hooks.panel_changed();
}

bool TTermView::Checked(TControlId id) const {
    const auto it = checked_.find(id);
    return it != checked_.end() && it->second;
}

void TTermView::SetItemHint(TControlId, int item, const std::string& hint) {
    if (item != 0 || hint == port_hint_) return;
    port_hint_ = hint;
    if (hooks.panel_changed) hooks.panel_changed();
}

void TTermView::SetWindowCaption(const std::string& caption) {
    caption_ = caption;
    if (hooks.panel_changed) hooks.panel_changed();
}

void TTermView::SetClientSize(int width, int height) {
    client_width_ = width;
    client_height_ = height;
}

void TTermView::DrawCell(int row, int column, TCell cell) {
    const int i = row * kScreenColumns + column;
    image_[i] = cell;
    drawn_.set(static_cast<size_t>(i));
}

void TTermView::CopyImage(const TRect&, bool) {
    if (hooks.image_copied) hooks.image_copied();
}

std::string TTermView::SaveImagePng(const std::string&) {
    return "quorvik-term saves the screen as text or ANSI, not as PNG";
}

void TTermView::MessageBox(const std::string& text) {
    if (hooks.message_box) hooks.message_box(text);
}

void TTermView::SetClipboardText(TClipboardKind kind, const std::string& text) {
    clipboard_[kind] = text;
}

std::string TTermView::ClipboardText(TClipboardKind kind) { return clipboard_[kind]; }

void TTermView::StartTimer(int interval_ms) { loop_.StartTimer(ttTick, interval_ms, interval_ms); }
void TTermView::StartRefreshTimer(int delay_ms) { loop_.StartTimer(ttRefresh, delay_ms, 0); }
void TTermView::StartPasteTimer(int delay_ms) { loop_.StartTimer(ttPaste, delay_ms, 0); }

void TTermView::ProcessPendingEvents() { loop_.Round(false); }

void TTermView::WaitForEvents() {
    loop_.Round(true, hooks.deadline ? hooks.deadline() : TTermLoop::TClock::time_point::max());
    if (hooks.waited) hooks.waited();
}
