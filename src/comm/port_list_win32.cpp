#include "port_list.h"

#include <windows.h>
#include <setupapi.h>

#include <algorithm>
#include <cstdlib>
#include <map>

namespace {

// The number of "COMn", or 0.
int PortNumber(const std::string& name) {
    if (name.size() < 4 || _strnicmp(name.c_str(), "COM", 3) != 0) return 0;
    return std::atoi(name.c_str() + 3);
}

// COM name -> friendly name, from the Ports class of the device manager.
std::map<std::string, std::string> FriendlyNames() {
    std::map<std::string, std::string> names;
    static const GUID kPortsClass = {0x4d36e978, 0xe325, 0x11ce,
                                     {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    HDEVINFO set = ::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return names;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        char friendly[256] = {};
        if (!::SetupDiGetDeviceRegistryPropertyA(set, &device, SPDRP_FRIENDLYNAME, nullptr,
                                                 reinterpret_cast<BYTE*>(friendly),
                                                 sizeof friendly - 1, nullptr))
            continue;
        const std::string text = friendly;
        const size_t open = text.rfind("(COM");
        const size_t close = text.find(')', open == std::string::npos ? 0 : open);
        if (open != std::string::npos && close != std::string::npos)
            names[text.substr(open + 1, close - open - 1)] = text;
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return names;
}

} // namespace

std::vector<TSerialPortInfo> ListSerialPorts(const std::string&, const std::string&) {
    return ListSerialPorts();
}

std::vector<TSerialPortInfo> ListSerialPorts() {
    std::vector<std::string> found;
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            char value_name[256];
            BYTE data[256];
            DWORD name_size = sizeof value_name, data_size = sizeof data - 1, type = 0;
            if (::RegEnumValueA(key, i, value_name, &name_size, nullptr, &type, data,
                                &data_size) != ERROR_SUCCESS)
                break;
            if (type != REG_SZ) continue;
            data[data_size] = 0;
            const std::string port(reinterpret_cast<const char*>(data));
            if (PortNumber(port) > 0) found.push_back(port);
        }
        ::RegCloseKey(key);
    }
    const std::map<std::string, std::string> friendly = FriendlyNames();
    for (const auto& [port, name] : friendly)
        if (std::find(found.begin(), found.end(), port) == found.end()) found.push_back(port);
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
        return PortNumber(a) < PortNumber(b);
    });
    found.erase(std::unique(found.begin(), found.end()), found.end());
    std::vector<TSerialPortInfo> ports;
    for (const std::string& port : found) {
        const auto it = friendly.find(port);
        ports.push_back({port, it == friendly.end() ? "" : it->second});
    }
    return ports;
}
