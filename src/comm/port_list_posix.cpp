#include "port_list.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>

namespace {

std::vector<std::string> Entries(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        // ttyUSB2 before ttyUSB10
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return names;
}

std::string FirstLine(const std::string& path) {
    std::ifstream f(path);
    std::string line;
    std::getline(f, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) line.pop_back();
    return line;
}

bool Exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

// The USB device's product name above a tty's device in sysfs ("" when it has none).
std::string UsbProduct(const std::string& tty_dir) {
    char resolved[PATH_MAX];
    if (!::realpath((tty_dir + "/device").c_str(), resolved)) return {};
    std::string dir = resolved;
    for (int up = 0; up < 4 && dir.size() > 1; ++up) {
        const std::string product = FirstLine(dir + "/product");
        if (!product.empty()) {
            const std::string maker = FirstLine(dir + "/manufacturer");
            return maker.empty() ? product : maker + " " + product;
        }
        dir = dir.substr(0, dir.find_last_of('/'));
    }
    return {};
}

const char* UartName(int type) {
    switch (type) {
    case 1: return "8250";
    case 2: return "16450";
    case 3: return "16550";
    case 4: return "16550A";
    case 5: return "Cirrus";
    case 6: return "16650";
    case 7: return "16650V2";
    case 8: return "16750";
    default: return nullptr;
    }
}

bool Prefixed(const std::string& name, const char* prefix) {
    return name.rfind(prefix, 0) == 0;
}

} // namespace

std::vector<TSerialPortInfo> ListSerialPorts(const std::string& sys_root,
                                             const std::string& dev_root) {
    std::vector<TSerialPortInfo> ports;
    const std::string by_id = dev_root + "/serial/by-id";
    for (const std::string& name : Entries(by_id)) {
        char link[PATH_MAX];
        const ssize_t n = ::readlink((by_id + "/" + name).c_str(), link, sizeof link - 1);
        std::string tty = n > 0 ? std::string(link, static_cast<size_t>(n)) : std::string();
        tty = tty.substr(tty.find_last_of('/') + 1);
        ports.push_back({"/dev/serial/by-id/" + name, tty.empty() ? "" : "-> " + tty});
    }
    const std::string classes = sys_root + "/class/tty";
    for (const char* kind : {"ttyUSB", "ttyACM", "ttyS"}) {
        for (const std::string& name : Entries(classes)) {
            if (!Prefixed(name, kind) || (std::string(kind) == "ttyS" && Prefixed(name, "ttySA")))
                continue;
            const std::string dir = classes + "/" + name;
            std::string description;
            if (std::string(kind) == "ttyS") {
                // Only a port with hardware behind it: a driver and a known UART type.
                const char* uart = UartName(std::atoi(FirstLine(dir + "/type").c_str()));
                if (!uart || !Exists(dir + "/device/driver")) continue;
                description = std::string("serial port, ") + uart;
            } else {
                description = UsbProduct(dir);
            }
            ports.push_back({"/dev/" + name, description});
        }
    }
    return ports;
}

std::vector<TSerialPortInfo> ListSerialPorts() {
    return ListSerialPorts("/sys", "/dev");
}
