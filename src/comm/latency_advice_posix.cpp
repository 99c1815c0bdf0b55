// The latency timer of a USB serial device as sysfs shows it (the ftdi_sio driver's attribute).
#include "latency_advice.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

// The device's own name: a /dev/serial/by-id link and the like resolved first.
std::string DeviceName(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
    const std::string resolved = real ? std::string(real.get()) : path;
    const size_t slash = resolved.rfind('/');
    return slash == std::string::npos ? resolved : resolved.substr(slash + 1);
}

std::string Small(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return "";
    char text[32] = {};
    const size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    return std::string(text, n);
}

} // namespace

std::string SysfsLatencyAdvice(const std::string& device_path, const std::string& sysfs_root) {
    const std::string tty = DeviceName(device_path);
    if (!UsbSerialDevice(tty)) return ""; // a pseudo-terminal, a real UART: nothing to read
    return UsbSerialLatencyAdvice(
        tty, Small(sysfs_root + "/bus/usb-serial/devices/" + tty + "/latency_timer"));
}

std::string PortLatencyAdvice(const std::string& device_path) {
    return SysfsLatencyAdvice(device_path, "/sys");
}
