// Full speed on USB serial adapters: the disk exchange waits for a short answer at every frame,
// and an adapter that holds received bytes back until its latency timer runs out (16 ms unless
// set) makes each wait that long. Where the opened port's timer is still above 1 ms after Open
// (which asks for low latency where the driver allows), the component offers one line of advice
// saying so and how to set it; "" everywhere else (a pseudo-terminal, a network port, an
// adapter without such a timer, a timer the system does not show).
//
// The decisions are pure functions; the look-ups read the system, never write it (sysfs on
// Linux, latency_advice_posix.cpp; the FTDI driver's registry values on Windows,
// latency_advice_win32.cpp). Main thread, at Open.
#pragma once

#include <cstdint>
#include <string>

// Linux: whether `tty` names a USB serial device ("ttyUSB" and digits), whose timer sysfs shows.
bool UsbSerialDevice(const std::string& tty);
// Linux: `tty` is the device's name ("ttyUSB0"), `latency_text` what its
// /sys/bus/usb-serial/devices/TTY/latency_timer reads ("16\n"), "" when it has none.
std::string UsbSerialLatencyAdvice(const std::string& tty, const std::string& latency_text);

// Windows: `com` is the port's name ("COM7"), `latency_ms` its FTDI driver's LatencyTimer.
std::string FtdiLatencyAdvice(const std::string& com, uint32_t latency_ms);

// The advice for the serial device at `device_path` as the platform opened it ("/dev/ttyUSB0",
// a /dev/serial/by-id link to it; "\\.\COM7").
std::string PortLatencyAdvice(const std::string& device_path);

// Linux: the same with the sysfs tree at `sysfs_root` ("/sys" for the system's).
std::string SysfsLatencyAdvice(const std::string& device_path, const std::string& sysfs_root);
