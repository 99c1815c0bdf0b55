// TCP on the loopback for the test rigs (POSIX): a port to hand to a server, and whether a
// server listens there yet, read from the kernel's table (a test connection would count as a
// client: ser2net opens its device for it, QEMU takes it as its one connection).
#pragma once

// A port on 127.0.0.1 that nothing uses at this moment (and that refuses connections).
int FreeLoopbackPort();
bool ListeningOnLoopback(int port);
