// The Win32 window's own dialogs, each modal and made from an in-memory template (no resource
// file needed): "Network port..." (host, port, RFC 2217 or raw TCP) and "New blank image..."
// (format and volume label); and the shell's folder chooser.
#pragma once

#include "form_view.h"

#include <windows.h>

#include <string>

// Shows the dialog over `owner`, starting from `port`'s fields; false when cancelled.
bool RunNetworkPortDialog(HINSTANCE instance, HWND owner, TNetworkPortDesc& port);
// The same for a new image's format (a place in FatFormats()) and label.
bool RunNewImageDialog(HINSTANCE instance, HWND owner, TNewImageDesc& desc);
// The shell's folder chooser titled `title`; the folder as UTF-8, "" when cancelled.
std::string RunFolderDialog(HWND owner, const char* title);
