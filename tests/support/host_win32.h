// Host (Unix) programs and files, for test programs that run under wine: wine runs a Unix
// program named in a command line as it is, but its exit code does not come back, so the
// helpers leave files behind instead.
#pragma once

#include <chrono>
#include <string>

// Starts a host shell command without waiting for it; false (and a test failure) when it
// could not be started.
bool SpawnHost(const std::string& shell_command);
// Runs a host (Unix) command through /bin/sh and waits up to `timeout` for it. False when it
// could not be started, did not end in time, or failed.
bool RunHost(const std::string& shell_command,
             std::chrono::milliseconds timeout = std::chrono::seconds(30));
bool HostFileExists(const std::string& unix_path);
// Waits for a file to appear, sleeping between looks.
bool WaitForFile(const std::string& unix_path, std::chrono::milliseconds timeout);
// A Unix environment variable as wine passes it ("" when unset).
std::string Env(const char* name);
// The running test's folder (test_dir.h) as host programs spell it: a Unix path.
std::string HostTestDir();
// The Windows spelling of a Unix path (drive Z: is the Unix root under wine).
std::string WinPath(const std::string& unix_path);
std::string FileBytes(const std::string& unix_path);
// Points the prefix's COMn at a Unix path (wine resolves the name on every open).
void MapComPort(int n, const std::string& unix_path);
