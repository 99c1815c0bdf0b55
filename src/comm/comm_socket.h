// A TCP connection to a console server: the system calls beneath the network port
// (comm_socket_posix.cpp with BSD sockets, comm_socket_win32.cpp with Winsock). Internal to
// the component; it only connects out, nothing in it listens.
//
// Threads: Wait with `wakeable` runs on the event thread, Wake on any thread; Send, Receive and
// Wait without it may run on the main thread at the same time. Connect and Close never run
// while another thread uses the socket. Nothing raises.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

enum TConnectFailure {
    cfNone,
    cfResolve,     // the host name cannot be resolved
    cfRefused,     // nothing listens on that port
    cfUnreachable, // no route to the host or its network
    cfTimedOut,    // no answer within the time-out
    cfOther,       // anything else (see the error number)
};

struct TConnectResult {
    TConnectFailure failure = cfNone;
    int error = 0;    // the system's error number (errno, WSAGetLastError, or EAI_* for cfResolve)
    std::string text; // the system's words for it
};

class TSocket {
  public:
    static constexpr int kWouldBlock = -1;
    static constexpr int kFailed = -2; // reset or failed: the connection is gone

    virtual ~TSocket() = default;
    // Resolves `host`, connects to each of its addresses in turn until one answers or the
    // time-out has passed, and sets TCP_NODELAY (the disk exchange is stop-and-wait).
    virtual TConnectResult Connect(const std::string& host, const std::string& port,
                                   int timeout_ms) = 0;
    // Sends every byte, waiting for room up to `timeout_ms` in total; the count sent.
    virtual size_t Send(const char* bytes, size_t count, int timeout_ms) = 0;
    // What has arrived, without waiting: the count, 0 once the peer has closed, kWouldBlock,
    // or kFailed.
    virtual int Receive(char* buffer, size_t size) = 0;
    // Waits until something can be received (or the peer closed), up to `timeout_ms` (-1: no
    // limit). With `wakeable` a Wake ends it too, and `watch_socket` false waits for that alone.
    // True unless the time passed.
    virtual bool Wait(int timeout_ms, bool wakeable, bool watch_socket = true) = 0;
    virtual void Wake() = 0;
    virtual void ClearWake() = 0;
    virtual void Close() = 0;
};

std::unique_ptr<TSocket> CreateSocket();
