#include "fakes.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> Hex(const std::string& hex) {
    std::vector<uint8_t> out;
    std::istringstream in(hex);
    std::string tok;
    while (in >> tok) out.push_back(static_cast<uint8_t>(std::stoul(tok, nullptr, 16)));
    return out;
}

std::string ToHex(const std::vector<uint8_t>& bytes) {
    std::string s;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", bytes[i]);
        s += buf;
    }
    return s;
}

int TFakePort::InQueCount() { return open ? static_cast<int>(incoming.size()) : -1; }

int TFakePort::Read(char* buffer, unsigned long count) {
    if (!open) return -1;
    const size_t n = std::min<size_t>(count, incoming.size());
    for (size_t i = 0; i < n; ++i) {
        buffer[i] = static_cast<char>(incoming.front());
        incoming.pop_front();
    }
    return static_cast<int>(n);
}

int TFakePort::Write(const char* buffer, unsigned long count) {
    if (!open) return -1;
    const auto* b = reinterpret_cast<const uint8_t*>(buffer);
    written.insert(written.end(), b, b + count);
    if (on_write) on_write(b, count);
    return static_cast<int>(count);
}

void TScriptedHost::Round() {
    ++rounds;
    if (!steps.empty()) {
        auto step = std::move(steps.front());
        steps.pop_front();
        step();
    } else if (idle) {
        idle();
    }
}

TCoreRig::TCoreRig() {
    host.idle = [this] {
        if (link.QueueEmpty() && port.incoming.empty()) link.stop_request = true;
    };
}

void TCoreRig::Deliver(const std::vector<uint8_t>& bytes) {
    port.incoming.insert(port.incoming.end(), bytes.begin(), bytes.end());
    if (!port.incoming.empty()) link.CommRxChar(static_cast<uint32_t>(port.incoming.size()));
}

std::string KeysReported(const std::string& output) {
    std::string keys;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("key ", 0) != 0) continue;
        std::istringstream tokens(line.substr(4));
        auto hex = [](const std::string& t) {
            return t.size() == 2 && std::isxdigit(static_cast<unsigned char>(t[0])) &&
                   std::isxdigit(static_cast<unsigned char>(t[1]));
        };
        // A key is one byte, ESC and one byte, or ESC [ and one byte; its name follows, and
        // may look like hex itself ("F1").
        std::string key;
        for (std::string t; key.size() < 3 && tokens >> t && hex(t);) {
            key += static_cast<char>(std::stoi(t, nullptr, 16));
            if (key[0] != '\x1B' || (key.size() == 2 && key[1] != '[')) break;
        }
        keys += key;
    }
    return keys;
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
