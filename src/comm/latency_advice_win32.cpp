// The latency timer of an FTDI port as its driver keeps it: the LatencyTimer value in the
// device's "Device Parameters" registry key, found through the Ports class of SetupAPI (the
// device instance under FTDIBUS, whose PortName is the port). Read only: the key is opened for
// reading and nothing is ever written.
#include "latency_advice.h"

#include <windows.h>
#include <setupapi.h>

#include <string>

namespace {

// "COM7" from "\\.\COM7" or "COM7".
std::string PortName(const std::string& device_path) {
    return device_path.rfind("\\\\.\\", 0) == 0 ? device_path.substr(4) : device_path;
}

bool QueryString(HKEY key, const char* name, std::string* out) {
    char text[64] = {};
    DWORD size = sizeof text - 1, type = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return false;
    *out = text;
    return true;
}

// The FTDI driver's latency timer of port `com`; false when no FTDI port has that name.
bool FtdiLatency(const std::string& com, uint32_t* latency) {
    static const GUID kPortsClass = {
        0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    HDEVINFO set = ::SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE) return false;
    bool found = false;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; !found && ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        char id[512] = {};
        if (!::SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id - 1, nullptr) ||
            _strnicmp(id, "FTDIBUS\\", 8) != 0)
            continue;
        HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        std::string port;
        DWORD value = 0, size = sizeof value, type = 0;
        if (QueryString(key, "PortName", &port) && _stricmp(port.c_str(), com.c_str()) == 0 &&
            ::RegQueryValueExA(key, "LatencyTimer", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                               &size) == ERROR_SUCCESS &&
            type == REG_DWORD) {
            *latency = value;
            found = true;
        }
        ::RegCloseKey(key);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return found;
}

} // namespace

std::string PortLatencyAdvice(const std::string& device_path) {
    const std::string com = PortName(device_path);
    uint32_t latency = 0;
    return FtdiLatency(com, &latency) ? FtdiLatencyAdvice(com, latency) : "";
}
