// An Xvfb server of a test program, on a display it picks itself (POSIX only).
#pragma once

#include <string>
#include <sys/types.h>

// The full path of `program` on PATH, or "" where it is not installed.
std::string FindOnPath(const char* program);

// An Xvfb server of this test program, on a display it picks itself (-displayfd), stopped
// at destruction.
class TXvfb {
  public:
    // Returns an empty string on success, else why the server is not there. `screen` is
    // Xvfb's WIDTHxHEIGHTxDEPTH.
    std::string Start(const char* screen = "1024x768x24");
    // Start, then points this process's Qt at the server: DISPLAY, the xcb platform, and no
    // desktop session bus (no accessibility bridge, input method service or portal).
    std::string StartForQt(const char* screen = "1024x768x24");
    const std::string& Display() const { return display_; }
    ~TXvfb();

  private:
    pid_t pid_ = -1;
    std::string display_;
};

