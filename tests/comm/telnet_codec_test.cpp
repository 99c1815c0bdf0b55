// The Telnet and COM-PORT-OPTION decoder: every input is also fed split at every byte, and one
// byte at a time, and must give the same data, answers and line state.
#include "telnet_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string S(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

struct TResult {
    std::string data, reply;
    uint8_t line_state = 0;
    int dropped = 0;
    bool operator==(const TResult&) const = default;
};

TResult Feed(const std::vector<std::string>& chunks, bool com_port = true) {
    TTelnetCodec codec(com_port);
    codec.Start();
    TResult r;
    for (const std::string& c : chunks)
        codec.Receive(reinterpret_cast<const uint8_t*>(c.data()), c.size(), r.data, r.reply);
    r.line_state = codec.TakeLineState();
    r.dropped = codec.DroppedSubnegotiations();
    return r;
}

// The result of `input` fed whole, after checking that every split gives the same.
TResult Decode(const std::string& input, bool com_port = true) {
    const TResult whole = Feed({input}, com_port);
    for (size_t at = 1; at < input.size(); ++at)
        EXPECT_EQ(Feed({input.substr(0, at), input.substr(at)}, com_port), whole) << "split at " << at;
    std::vector<std::string> single;
    for (char c : input) single.emplace_back(1, c);
    EXPECT_EQ(Feed(single, com_port), whole) << "one byte at a time";
    return whole;
}

TEST(TelnetCodec, DoubledFfIsOneDataByteAndASectorOfFfPassesBothWays) {
    EXPECT_EQ(Decode(S({'A', 255, 255, 'B', 255, 255})).data, S({'A', 255, 'B', 255}));
    const std::string sector(512, '\xFF');
    std::string wire;
    TTelnetCodec::Escape(reinterpret_cast<const uint8_t*>(sector.data()), sector.size(), wire);
    EXPECT_EQ(wire.size(), 1024u);
    const TResult r = Feed({wire.substr(0, 333), wire.substr(333, 1), wire.substr(334)});
    EXPECT_EQ(r.data, sector);
    EXPECT_EQ(r.reply, "");
}

TEST(TelnetCodec, CommandsBetweenDataCarryNothingAndUnknownOptionsAreRefused) {
    // NOP, go-ahead, DO ECHO, WILL 99, a stray SE.
    const TResult r = Decode(S({'a', 255, 241, 'b', 255, 249, 'c', 255, 253, 1, 'd', 255, 251, 99,
                                'e', 255, 240, 'f'}));
    EXPECT_EQ(r.data, "abcdef");
    EXPECT_EQ(r.reply, S({255, 252, 1, 255, 254, 99}));
}

TEST(TelnetCodec, AnswersToOurOwnOffersAreNotAnsweredAgain) {
    // The peer agrees to everything the console offered and asked for.
    const TResult agreed = Decode(S({255, 253, 0, 255, 251, 0, 255, 253, 3, 255, 251, 3, 255, 253,
                                     44}));
    EXPECT_EQ(agreed.reply, "");
    // A repeated request for what is already agreed is not answered either.
    EXPECT_EQ(Decode(S({255, 253, 0, 255, 253, 0})).reply, "");
    // Refusing a refused option twice gets no answer; turning off an agreed one is confirmed once.
    EXPECT_EQ(Decode(S({255, 254, 0, 255, 254, 0, 255, 252, 3, 255, 252, 3})).reply, "");
    EXPECT_EQ(Decode(S({255, 253, 0, 255, 254, 0, 255, 254, 0})).reply, S({255, 252, 0}));
    // Plain Telnet does not do the COM-PORT-OPTION.
    EXPECT_EQ(Decode(S({255, 253, 44}), false).reply, S({255, 252, 44}));
}

TEST(TelnetCodec, LineStateNotificationsAreCollectedAndOtherSubnegotiationsIgnored) {
    // NOTIFY-LINESTATE break, then framing, with data around; a modem state; an answer to
    // SET-BAUDRATE whose value holds a doubled FF.
    const TResult r = Decode(S({'x', 255, 250, 44, 106, 0x10, 255, 240, 'y', 255, 250, 44, 106,
                                0x08, 255, 240, 255, 250, 44, 107, 0x30, 255, 240, 255, 250, 44,
                                101, 0, 255, 255, 0, 255, 255, 255, 240, 'z'}));
    EXPECT_EQ(r.data, "xyz");
    EXPECT_EQ(r.line_state, 0x18);
    EXPECT_EQ(r.reply, "");
}

TEST(TelnetCodec, AnOverlongSubnegotiationIsDroppedAndTheStreamGoesOn) {
    std::string input = S({255, 250, 44, 106});
    input += std::string(200, '\x10');
    input += S({255, 240, 'o', 'k'});
    const TResult r = Decode(input);
    EXPECT_EQ(r.data, "ok");
    EXPECT_EQ(r.line_state, 0);
    EXPECT_EQ(r.dropped, 1);
    // A command inside a sub-negotiation ends it: the DO is answered, the data after it flows.
    const TResult cut = Decode(S({255, 250, 44, 106, 0x10, 255, 253, 5, 'k'}));
    EXPECT_EQ(cut.reply, S({255, 252, 5}));
    EXPECT_EQ(cut.data, "k");
    EXPECT_EQ(cut.line_state, 0);
}

TEST(TelnetCodec, ComPortCommandsAreFramedWithTheirValueEscaped) {
    EXPECT_EQ(TTelnetCodec::SetBaudRate(115200), S({255, 250, 44, 1, 0, 1, 0xC2, 0, 255, 240}));
    EXPECT_EQ(TTelnetCodec::SetBaudRate(0xFF00FF01),
              S({255, 250, 44, 1, 255, 255, 0, 255, 255, 1, 255, 240}));
    EXPECT_EQ(TTelnetCodec::ComPortCommand(telnet::kPurgeData, 3), S({255, 250, 44, 12, 3, 255, 240}));
    TTelnetCodec plain(false), com(true);
    EXPECT_EQ(plain.Start(), S({255, 251, 0, 255, 251, 3, 255, 253, 0, 255, 253, 3}));
    const std::string start = com.Start();
    EXPECT_NE(start.find(S({255, 251, 44})), std::string::npos);
    EXPECT_NE(start.find(S({255, 250, 44, 10, 0x1E, 255, 240})), std::string::npos);
}

} // namespace
