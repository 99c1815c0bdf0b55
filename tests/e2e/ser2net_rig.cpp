#include "ser2net_rig.h"

#include "loopback.h"
#include "test_dir.h"

#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <unistd.h>

namespace {

constexpr const char* kProgram = "/usr/sbin/ser2net";

} // namespace

bool Ser2netInstalled() {
    return access(kProgram, X_OK) == 0;
}

TSer2net::TSer2net(const std::string& pty_path, bool rfc2217)
    : rfc2217_(rfc2217), port_(FreeLoopbackPort()) {
    static int counter = 0;
    config_ = TestPath("ser2net-" + std::to_string(++counter) + ".yaml");
    std::ofstream yaml(config_);
    // The line starts at 9600 baud: over RFC 2217 the console sets its own speed.
    yaml << "%YAML 1.1\n---\n"
         << "connection: &quorvik\n"
         // nodelay: the disk exchange is stop-and-wait (as a lab would set it up).
         << "  accepter: " << (rfc2217 ? "telnet(rfc2217),tcp(nodelay)," : "tcp(nodelay),")
         << "127.0.0.1," << port_ << "\n"
         << "  connector: serialdev," << pty_path << "," << (rfc2217 ? "9600n81" : "115200n81")
         << ",local\n"
         << "  options:\n    max-connections: 1\n    kickolduser: true\n"
         // Pass bytes on as they come, rather than waiting a few character times for more.
         << "    chardelay: false\n";
    yaml.close();
    Start();
}

TSer2net::~TSer2net() { Stop(); }

void TSer2net::Start() {
    Stop();
    // -u: no lock files; -n: in the foreground; -c: this configuration alone.
    process_ = std::make_unique<TChildProcess>(
        std::vector<std::string>{kProgram, "-n", "-u", "-c", config_, "-P", config_ + ".pid"});
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!ListeningOnLoopback(port_)) {
        if (process_->Exited() || std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("ser2net does not listen: " + process_->Output());
        poll(nullptr, 0, 20);
    }
}

void TSer2net::Stop() {
    if (!process_) return;
    process_->Stop();
    last_output_ = process_->Output();
    process_.reset();
}

std::string TSer2net::Url() const {
    return std::string(rfc2217_ ? "rfc2217" : "tcp") + "://127.0.0.1:" + std::to_string(port_);
}

const std::string& TSer2net::Output() {
    if (process_) last_output_ = process_->Output();
    return last_output_;
}
