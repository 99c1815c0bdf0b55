// COM1 under wine: the pty peer's pseudo-terminal 0 (scripts/win-test maps it).
#include "pty_peer_win32.h"
#include "pty_target.h"

#include <chrono>
#include <vector>

namespace {

constexpr int kCom1Pty = 0;

TPeer& Peer() {
    static TPeer peer; // one connection for the whole test program
    return peer;
}

} // namespace

TPtyTarget::TPtyTarget() : slave_path_("COM1") {
    Peer().Drain(kCom1Pty); // nothing of an earlier test is taken for this one's
}

TPtyTarget::~TPtyTarget() = default;

void TPtyTarget::Send(const std::string& bytes) {
    Peer().Send(kCom1Pty, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

const std::string& TPtyTarget::Received() {
    const std::vector<uint8_t> got = Peer().Receive(kCom1Pty, 65536, std::chrono::milliseconds(0));
    received_.append(got.begin(), got.end());
    return received_;
}

void MapCom2ToNoDevice() {}
