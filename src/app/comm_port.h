// The serial component as the core sees it (TPortIO over TComm).
#pragma once

#include "comm.h"
#include "link.h"

class TCommPort final : public TPortIO {
  public:
    explicit TCommPort(TComm& comm) : comm_(comm) {}
    int InQueCount() override { return comm_.InQueCount(); }
    int Read(char* buffer, unsigned long count) override { return comm_.Read(buffer, count); }
    int Write(const char* buffer, unsigned long count) override {
        return comm_.Write(buffer, count);
    }

  private:
    TComm& comm_;
};
