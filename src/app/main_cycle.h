// The main cycle: takes the target's byte stream apart and dispatches it. Runs on the window
// thread, nested inside the Connect handler, until the stop request is set.
#pragma once

#include "link.h"

class TScreen;

// The floppy service as the main cycle sees it.
class TDiskService {
  public:
    virtual ~TDiskService() = default;
    // Whether an image file is attached (the status query answers 55 then, AA otherwise).
    virtual bool ImageAttached() const = 0;
    // The target sent ESC 'D': take the request frame from the queue and serve it. May throw
    // TAbandonExchange from any depth.
    virtual void DiskRequest() = 0;
};

extern const char* const kBannerLine;
extern const char* const kMakerLine;

// Writes the banner, then runs until link.stop_request is set. The time-out counter is set to
// 20 at the start of each burst; a burst that ends with it at 0 shows "Timeout!". Between
// bursts, and whenever it waits for a byte, it lets the window system run, blocking in the
// window system rather than spinning while nothing arrives.
void Maincycle(TScreen& screen, TLink& link, TDiskService& disk);
