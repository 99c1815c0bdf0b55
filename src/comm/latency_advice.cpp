#include "latency_advice.h"

#include <cerrno>
#include <cstdlib>

bool UsbSerialDevice(const std::string& tty) {
    if (tty.size() <= 6 || tty.compare(0, 6, "ttyUSB") != 0) return false;
    for (size_t i = 6; i < tty.size(); ++i)
        if (tty[i] < '0' || tty[i] > '9') return false;
    return true;
}

std::string UsbSerialLatencyAdvice(const std::string& tty, const std::string& latency_text) {
    if (!UsbSerialDevice(tty)) return "";
    char* end = nullptr;
    errno = 0;
    const long ms = std::strtol(latency_text.c_str(), &end, 10);
    if (end == latency_text.c_str() || errno != 0 || ms <= 1) return "";
    const std::string attribute = "/sys/bus/usb-serial/devices/" + tty + "/latency_timer";
    return "/dev/" + tty + " holds what it receives back for up to " + std::to_string(ms) +
           " ms (its adapter's latency timer), so disk service will be slow; for 1 ms now: "
           "echo 1 | sudo tee " +
           attribute +
           ", and for good a udev rule in "
           "/etc/udev/rules.d/99-usb-serial-latency.rules: ACTION==\"add\", "
           "SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"";
}

std::string FtdiLatencyAdvice(const std::string& com, uint32_t latency_ms) {
    if (com.empty() || latency_ms <= 1) return "";
    return com + " holds what it receives back for up to " + std::to_string(latency_ms) +
           " ms (the FTDI driver's latency timer), so disk service will be slow; set it to 1 "
           "in Device Manager: Ports (COM & LPT), " +
           com +
           ", Properties, Port Settings, "
           "Advanced..., Latency Timer (msec)";
}
