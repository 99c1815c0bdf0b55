// The component on a network port: a loopback server in the test plays the console server,
// raw and with the COM-PORT-OPTION, and sees the bytes on the wire.
#include "comm.h"
#include "telnet_codec.h"
#include "test_poster.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace {

std::string S(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

std::string Failure(const std::function<void()>& f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

// One listening socket on 127.0.0.1 and the connection it accepted.
class TTcpPeer {
  public:
    explicit TTcpPeer(int backlog = 4) {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof a;
        if (bind(listener_, reinterpret_cast<sockaddr*>(&a), size) != 0 ||
            listen(listener_, backlog) != 0 ||
            getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
            ADD_FAILURE() << "cannot listen on loopback";
        port_ = ntohs(a.sin_port);
    }
    ~TTcpPeer() {
        CloseConnection();
        close(listener_);
    }
    std::string Url(const char* scheme) const {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
    }
    int Port() const { return port_; }
    bool Accept(std::chrono::milliseconds timeout = 5s) {
        pollfd p{listener_, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(timeout.count())) != 1) return false;
        conn_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        return conn_ >= 0;
    }
    void Send(const std::string& bytes) {
        ASSERT_EQ(send(conn_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Reads until `count` bytes came or the time-out passed.
    std::string Receive(size_t count, std::chrono::milliseconds timeout = 5s) {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        char buf[4096];
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd p{conn_, POLLIN, 0};
            if (poll(&p, 1, 50) != 1) continue;
            const ssize_t n = recv(conn_, buf, std::min(sizeof buf, count - got.size()), 0);
            if (n <= 0) break;
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }
    // Everything that came within `quiet` of silence.
    std::string Drain(std::chrono::milliseconds quiet = 200ms) {
        std::string got;
        char buf[4096];
        for (;;) {
            pollfd p{conn_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(quiet.count())) != 1) return got;
            const ssize_t n = recv(conn_, buf, sizeof buf, 0);
            if (n <= 0) return got;
            got.append(buf, static_cast<size_t>(n));
        }
    }
    void CloseConnection() {
        if (conn_ >= 0) close(conn_);
        conn_ = -1;
    }
    void Reset() { // an abortive close: RST instead of FIN
        linger l{1, 0};
        setsockopt(conn_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        CloseConnection();
    }

  private:
    int listener_ = -1;
    int conn_ = -1;
    int port_ = 0;
};

class CommNet : public testing::Test {
  protected:
    void SetUp() override {
        comm.SetMainThreadPoster(&poster);
        comm.SetMonitorEvents(TCommEvents{evBreak, evError, evRxChar});
        comm.SetBaudRate(br115200);
        comm.SetFlowControl(fcNone);
        comm.OnRxChar = [this](TObject*, uint32_t n) {
            std::string b(n, '\0');
            const int got = comm.Read(b.data(), n);
            if (got > 0) received.append(b.data(), static_cast<size_t>(got));
        };
        comm.OnBreak = [this](TObject*) { ++breaks; };
        comm.OnError = [this](TObject*, int e) { errors.push_back(e); };
    }
    void Open(const std::string& url) {
        comm.SetDeviceName("COM3");
        comm.MapPort("COM3", url);
        comm.Open();
        ASSERT_TRUE(comm.Enabled()) << comm.DescribeOpenFailure();
        ASSERT_TRUE(peer.Accept());
    }

    TTestPoster poster;
    TComm comm{nullptr};
    TTcpPeer peer;
    std::string received;
    int breaks = 0;
    std::vector<int> errors;
};

TEST_F(CommNet, RawTcpCarriesEveryByteValueBothWaysAndAnnouncesIt) {
    Open(peer.Url("tcp"));
    EXPECT_EQ(comm.PortLine(), "COM3 is " + peer.Url("tcp") + " (chosen for this run).");
    std::string all;
    for (int i = 0; i < 512; ++i) all += static_cast<char>(i & 0xFF);
    all += std::string(512, '\xFF');
    EXPECT_EQ(comm.Write(all.data(), all.size()), static_cast<int>(all.size()));
    EXPECT_EQ(peer.Receive(all.size()), all);
    EXPECT_EQ(peer.Drain(100ms), ""); // raw: no negotiation, no settings on the wire
    peer.Send(all);
    EXPECT_TRUE(poster.PumpUntil([&] { return received.size() >= all.size(); }));
    EXPECT_EQ(received, all);
    EXPECT_EQ(comm.InQueCount(), 0);
    // A read of what has not come returns what there is after its second.
    peer.Send("ab");
    char buf[8];
    EXPECT_TRUE(poster.WaitQueued());
    EXPECT_EQ(comm.Read(buf, 8), 2);
    EXPECT_EQ(comm.Read(buf, 0), 0);
    EXPECT_EQ(Failure([&] { comm.SetBREAKState(true); }).rfind("EscapeCommFunction failure", 0), 0u);
}

TEST_F(CommNet, Rfc2217NegotiatesBinaryAndSendsTheLineSettingsAndControls) {
    Open(peer.Url("rfc2217"));
    const std::string wire = peer.Drain();
    for (const std::string& expected :
         {S({255, 251, 0}), S({255, 253, 0}), S({255, 251, 44}),
          S({255, 250, 44, 1, 0, 1, 0xC2, 0, 255, 240}), // 115200
          S({255, 250, 44, 2, 8, 255, 240}),             // 8 data bits
          S({255, 250, 44, 3, 1, 255, 240}),             // no parity
          S({255, 250, 44, 4, 1, 255, 240}),             // one stop bit
          S({255, 250, 44, 5, 1, 255, 240})})            // no flow control
        EXPECT_NE(wire.find(expected), std::string::npos) << testing::PrintToString(expected);
    // The server agrees and asks for an option the console does not know.
    peer.Send(S({255, 253, 0, 255, 251, 0, 255, 253, 44, 255, 253, 24}));
    EXPECT_EQ(peer.Receive(3), S({255, 252, 24}));
    comm.SetParity(paEven); // the settings go again, with the new parity
    EXPECT_NE(peer.Drain().find(S({255, 250, 44, 3, 3, 255, 240})), std::string::npos);
    comm.SetBREAKState(true);
    EXPECT_EQ(peer.Receive(7), S({255, 250, 44, 5, 5, 255, 240}));
    EXPECT_EQ(peer.Receive(7), S({255, 250, 44, 12, 3, 255, 240})); // the purge that follows
    comm.PurgeIn();
    EXPECT_EQ(peer.Receive(7), S({255, 250, 44, 12, 1, 255, 240}));
}

TEST_F(CommNet, Rfc2217PassesASectorOfFfIntactAndRaisesBreakAndErrorEvents) {
    Open(peer.Url("rfc2217"));
    peer.Drain();
    const std::string sector(512, '\xFF');
    EXPECT_EQ(comm.Write(sector.data(), sector.size()), 512);
    EXPECT_EQ(peer.Receive(1024), std::string(1024, '\xFF'));
    std::string doubled;
    TTelnetCodec::Escape(reinterpret_cast<const uint8_t*>(sector.data()), sector.size(), doubled);
    peer.Send(doubled);
    EXPECT_TRUE(poster.PumpUntil([&] { return received.size() >= 512; }));
    EXPECT_EQ(received, sector);
    peer.Send(S({255, 250, 44, 106, 0x10, 255, 240}));
    EXPECT_TRUE(poster.PumpUntil([&] { return breaks == 1; }));
    peer.Send(S({255, 250, 44, 106, 0x08, 255, 240}));
    EXPECT_TRUE(poster.PumpUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors.front() & kCeFrame, kCeFrame);
    EXPECT_EQ(errors.front() & kCeMode, 0);
}

TEST_F(CommNet, APeerThatClosesOrResetsIsReportedOnceAsGone) {
    for (const bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        errors.clear();
        Open(peer.Url(reset ? "rfc2217" : "tcp"));
        peer.Send("last");
        if (reset) {
            peer.Drain(50ms);
            peer.Reset();
        } else {
            peer.CloseConnection();
        }
        EXPECT_TRUE(poster.PumpUntil([&] { return !errors.empty(); }));
        poster.PumpFor(200ms);
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0] & kCeMode, kCeMode);
        EXPECT_EQ(comm.Write("x", 1) <= 1, true);
        comm.Close();
        received.clear();
    }
}

TEST_F(CommNet, ConnectFailuresLeaveThePortClosedAndSayWhyAndWhatToDo) {
    const auto failure = [&](const std::string& url) {
        comm.MapPort("COM3", url);
        comm.SetDeviceName("COM3");
        comm.Open();
        EXPECT_FALSE(comm.Enabled()) << url;
        return comm.DescribeOpenFailure();
    };
    std::string refused_url;
    {
        TTcpPeer gone; // listened, and no more
        refused_url = gone.Url("tcp");
    }
    std::string text = failure(refused_url);
    EXPECT_NE(text.find("refused the connection"), std::string::npos) << text;
    EXPECT_NE(text.find("start the console server"), std::string::npos) << text;
    text = failure("rfc2217://nonexistent.invalid:2217");
    EXPECT_NE(text.find("cannot be resolved"), std::string::npos) << text;
    text = failure("tcp://127.0.0.1");
    EXPECT_NE(text.find("names no port"), std::string::npos) << text;
    text = failure("tcp://[::1:80");
    EXPECT_NE(text.find("[ADDRESS]:PORT"), std::string::npos) << text;

    // A listener whose queue is full takes no more connections: the console gives up in time.
    TTcpPeer full(0);
    const int filler = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(full.Port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    const int filler2 = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    connect(filler2, reinterpret_cast<sockaddr*>(&a), sizeof a);
    comm.ConnectTimeoutMs = 300;
    const auto start = std::chrono::steady_clock::now();
    text = failure(full.Url("tcp"));
    EXPECT_LT(Seconds(std::chrono::steady_clock::now() - start), 3.0);
    EXPECT_NE(text.find("did not answer"), std::string::npos) << text;
    close(filler);
    close(filler2);
}

} // namespace
