// What a port name opens. The window's COM items ("COM1", "COM2") and any "COMn" map, in this
// order, to the target chosen for this run (TThreadComm::MapPort), to the environment variable
// QUORVIK_COMn, or to the platform's own device for the name (Linux: /dev/ttyS0 ... /dev/ttyS8
// for COM1 ... COM9; Windows: the COM port of that name). A target is a device path, a Windows
// port name, "tcp://HOST:PORT" (raw TCP) or "rfc2217://HOST:PORT" (Telnet with the serial line
// options); HOST may be a name, an IPv4 address or an IPv6 address in brackets.
#pragma once

#include <cstdint>
#include <map>
#include <string>

struct TPortTarget {
    std::string target; // "" when the name maps to nothing
    std::string source; // why: "QUORVIK_COM2", "chosen for this run", or "" (the default)
};

// "COM1" ... "COM255" in any case, upper-cased; "" for any other name.
std::string ComName(const std::string& name);

// `chosen`: COM name (upper case) -> target, for this run.
TPortTarget ResolvePortName(const std::string& name,
                            const std::map<std::string, std::string>& chosen);

// The platform's device for a name that nothing maps (comm_posix.cpp, comm_win32.cpp).
std::string DefaultPortTarget(const std::string& name);

struct TNetworkTarget {
    bool telnet = false; // rfc2217://
    std::string host;
    std::string port; // digits, 1 ... 65535
};
// True for "tcp://HOST:PORT" and "rfc2217://HOST:PORT" (scheme in any case).
bool IsNetworkTarget(const std::string& target);
// False, with `error` for the user, when a network target is malformed.
bool ParseNetworkTarget(const std::string& target, TNetworkTarget* out, std::string* error);
std::string NetworkTargetText(const TNetworkTarget& target);
