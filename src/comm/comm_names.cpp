#include "comm_names.h"

#include <cctype>
#include <cstdlib>

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool StartsWithScheme(const std::string& target, const char* scheme) {
    const std::string s = scheme;
    return target.size() >= s.size() && Lower(target.substr(0, s.size())) == s;
}

} // namespace

std::string ComName(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || Lower(name.substr(0, 3)) != "com") return {};
    for (size_t i = 3; i < name.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return {};
    const int number = std::atoi(name.c_str() + 3);
    if (number < 1 || number > 255 || name[3] == '0') return {};
    return "COM" + name.substr(3);
}

TPortTarget ResolvePortName(const std::string& name,
                            const std::map<std::string, std::string>& chosen) {
    const std::string com = ComName(name);
    if (!com.empty()) {
        if (auto it = chosen.find(com); it != chosen.end() && !it->second.empty())
            return {it->second, "chosen for this run"};
        const std::string variable = "QUORVIK_" + com;
        if (const char* value = std::getenv(variable.c_str()); value && *value)
            return {value, variable};
    }
    if (IsNetworkTarget(name)) return {name, ""};
    return {DefaultPortTarget(name), ""};
}

bool IsNetworkTarget(const std::string& target) {
    return StartsWithScheme(target, "tcp://") || StartsWithScheme(target, "rfc2217://");
}

bool ParseNetworkTarget(const std::string& target, TNetworkTarget* out, std::string* error) {
    TNetworkTarget t;
    std::string rest;
    if (StartsWithScheme(target, "tcp://")) {
        rest = target.substr(6);
    } else if (StartsWithScheme(target, "rfc2217://")) {
        t.telnet = true;
        rest = target.substr(10);
    } else {
        *error = target + " is not tcp://HOST:PORT or rfc2217://HOST:PORT.";
        return false;
    }
    while (!rest.empty() && rest.back() == '/') rest.pop_back();
    size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            *error = target + ": an IPv6 address is written [ADDRESS]:PORT.";
            return false;
        }
        t.host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos || rest.find(':') != colon) {
            *error = target + " names no port: write HOST:PORT.";
            return false;
        }
        t.host = rest.substr(0, colon);
    }
    t.port = rest.substr(colon + 1);
    bool digits = !t.port.empty() && t.port.size() <= 5;
    for (char c : t.port) digits = digits && std::isdigit(static_cast<unsigned char>(c));
    const long port = digits ? std::atol(t.port.c_str()) : 0;
    if (t.host.empty() || port < 1 || port > 65535) {
        *error = target + ": the host is empty or the port is not from 1 to 65535.";
        return false;
    }
    *out = t;
    return true;
}

std::string NetworkTargetText(const TNetworkTarget& target) {
    const bool v6 = target.host.find(':') != std::string::npos;
    return std::string(target.telnet ? "rfc2217://" : "tcp://") + (v6 ? "[" : "") + target.host +
           (v6 ? "]" : "") + ":" + target.port;
}
