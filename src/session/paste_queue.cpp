#include "paste_queue.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kEnter = '\r'; // the Enter key's byte (typed_text.h makes every line end one)

// A whole number of milliseconds, digits only, at most kMaxPaceMs.
bool ParseMs(const char* text, int* ms) {
    long value = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (value > kMaxPaceMs) return false;
    }
    *ms = static_cast<int>(value);
    return true;
}

void ReadOne(const char* (*getenv)(const char*), const char* name, int* ms,
             std::vector<std::string>* complaints) {
    const char* text = getenv(name);
    if (text == nullptr || *text == '\0') return;
    if (ParseMs(text, ms)) return;
    // Cut so that the line fits the console's message width.
    const std::string shown = std::strlen(text) > 20 ? std::string(text, 20) + "..." : text;
    complaints->push_back(std::string(name) + "=" + shown + " is not a number of milliseconds" +
                          " from 0 to " + std::to_string(kMaxPaceMs) + "; " +
                          std::to_string(*ms) + " ms is used.");
}

} // namespace

TPastePacing ReadPastePacing(const char* (*getenv)(const char*),
                             std::vector<std::string>* complaints) {
    TPastePacing pacing;
    ReadOne(getenv, "QUORVIK_PASTE_CHAR_MS", &pacing.char_ms, complaints);
    ReadOne(getenv, "QUORVIK_PASTE_LINE_MS", &pacing.line_ms, complaints);
    return pacing;
}

void TPasteQueue::Start(std::string keys, TPastePacing pacing, TClock::time_point now) {
    keys_ = std::move(keys);
    next_ = 0;
    pacing_ = pacing;
    due_ = now;
    held_ = false;
}

void TPasteQueue::Stop() {
    keys_.clear();
    next_ = 0;
}

TPasteQueue::TStep TPasteQueue::Step(TClock::time_point now, bool hold) {
    TStep step;
    if (!Active()) return step;
    if (hold) {
        held_ = true;
        step.next_ms = kHoldPollMs;
        return step;
    }
    if (held_) {
        held_ = false;
        due_ = now; // the pace starts over: nothing is made up for the wait
    }
    const auto char_gap = std::chrono::milliseconds(pacing_.char_ms);
    while (Active() && now >= due_ && static_cast<int>(step.keys.size()) < kBurst) {
        const char key = keys_[next_++];
        step.keys += key;
        if (key == kEnter) {
            // The target gets the whole gap to take the line in, however late this step is.
            due_ = now + std::chrono::milliseconds(pacing_.line_ms);
            break;
        }
        due_ += char_gap;
    }
    // Later than a burst can make up for: the pace goes on from here.
    if (due_ <= now) due_ = now + char_gap;
    if (!Active()) return step; // next_ms -1: done
    step.next_ms = static_cast<int>(
        std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(due_ - now).count()));
    return step;
}
