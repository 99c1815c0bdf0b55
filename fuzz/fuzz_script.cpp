// Any text as a quorvik-term script: parsing ends with steps or with one line saying what is
// wrong, never both; a time limit is always above 0; a send never holds more than a paste's
// keystrokes; and every step can be named in an error message.
#include "paste_queue.h"
#include "term_options.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<TScriptStep> steps;
    int timeout_ms = kDefaultStepTimeoutMs;
    std::string error;
    const bool ok = ParseScript(text, "fuzz", &timeout_ms, &steps, &error);
    if (ok != error.empty()) std::abort();
    if (!ok && (error.rfind("fuzz:", 0) != 0 || error.find('\n') != std::string::npos))
        std::abort();
    if (timeout_ms <= 0) std::abort();
    for (const TScriptStep& step : steps) {
        if (step.timeout_ms <= 0 || step.keys.size() > kPasteLimit) std::abort();
        if (step.kind == skKey && step.key.bytes.empty() && !step.key.reboot) std::abort();
        if (step.Words().empty()) std::abort();
    }
    return 0;
}
