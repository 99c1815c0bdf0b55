// The floppy service as the main cycle sees it: the seam between connection control and the
// disk exchange.
#pragma once

class TDiskService {
  public:
    virtual ~TDiskService() = default;
    // Whether an image file is attached (the status query answers 55 then, AA otherwise).
    virtual bool ImageAttached() const = 0;
    // The target sent ESC 'D': take the request frame from the queue and serve it. May throw
    // TAbandonExchange (link.h) from any depth.
    virtual void DiskRequest() = 0;
};
