#include "child_process.h"

#include <sstream>
#include <stdexcept>

std::string TChildProcess::FirstLine(std::chrono::milliseconds timeout) {
    const auto has_line = [](const std::string& out) { return out.find('\n') != std::string::npos; };
    if (!WaitForOutput(has_line, timeout))
        throw std::runtime_error("the program printed no line: " + Output());
    return output_.substr(0, output_.find('\n'));
}

std::map<std::string, std::string> SummaryFields(const std::string& output) {
    std::map<std::string, std::string> fields;
    const size_t at = output.find("summary ");
    if (at == std::string::npos) return fields;
    std::istringstream line(output.substr(at, output.find('\n', at) - at));
    std::string kv;
    while (line >> kv) {
        const size_t eq = kv.find('=');
        if (eq != std::string::npos) fields[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    return fields;
}
