#include "child_process.h"

#include <sstream>

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
