// The "Network port..." dialog of the Win32 window: host, port, and RFC 2217 or raw TCP, as a
// modal dialog made from an in-memory template (no resource file needed).
#pragma once

#include "form_view.h"

#include <windows.h>

// Shows the dialog over `owner`, starting from `port`'s fields; false when cancelled.
bool RunNetworkPortDialog(HINSTANCE instance, HWND owner, TNetworkPortDesc& port);
