// The serial ports this machine has, for the user to choose from. Nothing is opened to find
// them (a port may be a system console, or a device that resets when opened).
//  - Linux (port_list_posix.cpp): the names in /dev/serial/by-id with the tty each points to,
//    then the ttyUSB and ttyACM devices of /sys/class/tty with the USB product's name, then
//    the ttyS devices for which sysfs shows a driver and a port type (the rest of the 32
//    ttyS devices the kernel makes have no hardware behind them).
//  - Windows (port_list_win32.cpp): the ports in the registry's SERIALCOMM key, with the
//    friendly names that SetupAPI gives them ("USB Serial Port (COM7)").
// Main thread; never raises; an empty list when there is nothing.
#pragma once

#include <string>
#include <vector>

struct TSerialPortInfo {
    std::string target;      // what QUORVIK_COMn or the menu maps a COM item to
    std::string description; // for the user, may be ""
    bool operator==(const TSerialPortInfo&) const = default;
};

std::vector<TSerialPortInfo> ListSerialPorts();
// The same below other roots, for tests (Linux: a sysfs tree and a /dev tree of files).
std::vector<TSerialPortInfo> ListSerialPorts(const std::string& sys_root,
                                             const std::string& dev_root);
