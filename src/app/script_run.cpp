#include "script_run.h"

#include "screen_text.h"

#include <algorithm>

namespace {

std::string Seconds(int ms) {
    std::string text = std::to_string(ms / 1000);
    if (ms % 1000 != 0) {
        std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
        while (fraction.back() == '0') fraction.pop_back();
        text += "." + fraction;
    }
    return text + " s";
}

} // namespace

std::string TargetText(const TScreen& screen, const THistory& history, uint64_t since) {
    std::string text;
    const uint64_t entered = history.Entered();
    const uint64_t oldest = entered - static_cast<uint64_t>(history.Size());
    for (uint64_t n = std::max(since, oldest); n < entered; ++n) {
        text += CellsText(history.Row(static_cast<int>(n - oldest)), kScreenColumns);
        text += '\n';
    }
    for (int row = 0; row < kScreenRows; ++row) {
        text += CellsText(&screen.Cell(row, 0), kScreenColumns);
        if (row + 1 < kScreenRows) text += '\n';
    }
    return text;
}

TScriptRun::TScriptRun(std::vector<TScriptStep> steps) : steps_(std::move(steps)) {}

void TScriptRun::Start(TClock::time_point now, const TScreen& screen, const THistory& history) {
    seen_ = screen.Cells();
    seen_entered_ = mark_ = history.Entered();
    last_change_ = now;
    current_ = 0;
    finished_ = false;
    Begin(now);
}

void TScriptRun::Begin(TClock::time_point now) {
    step_start_ = now;
    typing_ = false;
    text_checked_ = false;
    if (current_ < steps_.size() && steps_[current_].kind == skExpectRe)
        pattern_ = std::regex(steps_[current_].text, std::regex::ECMAScript);
}

TRunAction TScriptRun::Next(TClock::time_point now) {
    ++current_;
    Begin(now);
    return TRunAction{};
}

bool TScriptRun::Matches(const TScreen& screen, const THistory& history) {
    const TScriptStep& step = steps_[current_];
    const std::string text = TargetText(screen, history, mark_);
    const bool found = step.kind == skExpect ? text.find(step.text) != std::string::npos
                                             : std::regex_search(text, pattern_);
    if (found) mark_ = history.Entered();
    return found;
}

TRunAction TScriptRun::Poll(TClock::time_point now, const TScreen& screen,
                            const THistory& history, const TRunLinkState& link) {
    if (finished_) return TRunAction{};
    // What changed since the last look.
    bool changed = false;
    if (screen.Cells() != seen_) {
        seen_ = screen.Cells();
        last_change_ = now;
        changed = true;
    }
    if (history.Entered() != seen_entered_) {
        seen_entered_ = history.Entered();
        changed = true;
    }
    if (changed) text_checked_ = false;

    while (current_ < steps_.size()) {
        const TScriptStep& step = steps_[current_];
        bool done = false;
        TRunAction action;
        switch (step.kind) {
        case skExpect:
        case skExpectRe:
            if (!text_checked_) {
                text_checked_ = true;
                done = Matches(screen, history);
            }
            break;
        case skQuiet:
            done = now - std::max(last_change_, step_start_) >=
                   std::chrono::milliseconds(step.quiet_ms);
            break;
        case skSend:
            if (!typing_) {
                if (link.port_away) break;
                typing_ = true;
                if (!step.keys.empty()) {
                    action.kind = raType;
                    action.data = step.keys;
                    handed_ = current_;
                    return action;
                }
            }
            done = !link.paste_active;
            break;
        case skKey:
            if (link.key_hold || link.port_away) break; // a held key waits, as a paste does
            action.kind = step.key.reboot ? raReboot : raKey;
            action.data = step.key.bytes;
            handed_ = current_;
            Next(now);
            return action;
        case skSaveScreen:
            action.kind = raSaveScreen;
            action.data = step.text;
            handed_ = current_;
            Next(now);
            return action;
        }
        if (!done) {
            if (now - step_start_ >= std::chrono::milliseconds(step.timeout_ms)) {
                return Failure(current_, screen,
                           "ran past its time limit of " + Seconds(step.timeout_ms));
            }
            return TRunAction{};
        }
        Next(now);
    }
    finished_ = true;
    TRunAction done;
    done.kind = raDone;
    done.exit_code = kExitDone;
    return done;
}

TRunAction TScriptRun::Fail(const TScreen& screen, const std::string& why) {
    return Failure(handed_, screen, why);
}

TRunAction TScriptRun::Failure(size_t step, const TScreen& screen, const std::string& why) {
    TRunAction action;
    action.kind = raFailed;
    action.exit_code = kExitStepFailed;
    action.message = "quorvik-term: step " + std::to_string(step + 1) + " (" +
                     steps_[step].Words() + ") " + why + "\nThe screen:\n" +
                     ScreenText(screen, "\n");
    finished_ = true;
    return action;
}

TScriptRun::TClock::time_point TScriptRun::Deadline() const {
    if (finished_ || current_ >= steps_.size()) return TClock::time_point::max();
    const TScriptStep& step = steps_[current_];
    TClock::time_point deadline = step_start_ + std::chrono::milliseconds(step.timeout_ms);
    if (step.kind == skQuiet) {
        deadline = std::min(deadline, std::max(last_change_, step_start_) +
                                          std::chrono::milliseconds(step.quiet_ms));
    }
    return deadline;
}
