// The main cycle: takes the target's byte stream apart and dispatches it. Runs on the window
// thread, nested inside the Connect handler, until the stop request is set.
#pragma once

#include "disk_service.h"
#include "link.h"

class TScreen;

extern const char* const kBannerLine;
extern const char* const kMakerLine;

// Writes the banner, then runs until link.stop_request is set. The time-out counter is set to
// 20 at the start of each burst; a burst that ends with it at 0 shows "Timeout!". Between
// bursts, and whenever it waits for a byte, it lets the window system run, blocking in the
// window system rather than spinning while nothing arrives.
void Maincycle(TScreen& screen, TLink& link, TDiskService& disk);
