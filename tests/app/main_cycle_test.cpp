// The main cycle over a scripted port and window system: the byte grammar, the status query,
// bursts and their time-out, the restart point, back-pressure and idle waiting.
#include "fakes.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::string Row(const TScreen& s, int row) {
    std::string t = s.RowText(row);
    t.erase(t.find_last_not_of(' ') + 1);
    return t;
}

// A rig whose banner is wiped in the first round, so rows start empty.
struct TRig : TCoreRig {
    TRig() {
        Step([this] { screen.ClearScreen(); });
    }
};

} // namespace

TEST(Grammar, ANulIsDroppedAndEndsTheBurst) {
    TRig rig;
    int rounds_before_second_half = -1;
    rig.StepDeliver(Bytes(std::string("abc\0def", 7)));
    rig.Step([&] { rounds_before_second_half = rig.host.rounds; });
    rig.Run();
    EXPECT_EQ(Row(rig.screen, 0), "abcdef");
    // "def" was written in a burst of its own, after the window system ran once more.
    EXPECT_EQ(rig.screen.CursorColumn(), 6);
    EXPECT_GT(rounds_before_second_half, 0);
}

TEST(Grammar, EscapeRunsActAsOneEscape) {
    for (const std::string s : {"\x1bS", "\x1b\x1bS", "\x1b\x1b\x1bS"}) {
        TRig rig;
        rig.StepDeliver(Bytes(s));
        rig.Run();
        EXPECT_EQ(ToHex(rig.port.written), "AA") << ToHex(Bytes(s));
        EXPECT_TRUE(rig.link.key_hold);
        EXPECT_EQ(Row(rig.screen, 0), "");
    }
}

TEST(Grammar, EscapeBeforeAnythingElseIsShownWithTheByteAfterIt) {
    TRig rig;
    rig.StepDeliver(Bytes(std::string("\x1b\0" "a\x1bXb", 6)));
    rig.Run();
    EXPECT_EQ(rig.screen.Cell(0, 0).ch, 0x1B);
    EXPECT_EQ(rig.screen.Cell(0, 1).ch, 0x00);
    EXPECT_EQ(rig.screen.RowText(0).substr(2, 4), "a\x1bXb");
    EXPECT_EQ(rig.screen.CursorColumn(), 6);
}

TEST(Grammar, AnEscapeLastInTheQueueWaitsForItsCommandByte) {
    TRig rig;
    rig.StepDeliver(Bytes("x\x1b"));
    rig.StepTick();
    rig.StepTick();
    rig.StepDeliver(Bytes("S"));
    rig.Run();
    EXPECT_EQ(ToHex(rig.port.written), "AA");
    EXPECT_EQ(Row(rig.screen, 0), "x");
}

TEST(StatusQuery, AnswersWhetherAnImageIsAttachedAndHoldsTheKeysUntilQ) {
    TRig rig;
    rig.disk.attached = true;
    bool held_between = false;
    rig.StepDeliver(Bytes("\x1bS"));
    rig.Step([&] { held_between = rig.link.key_hold; });
    rig.StepDeliver(Bytes("\x1bQ"));
    rig.Run();
    EXPECT_EQ(ToHex(rig.port.written), "55");
    EXPECT_TRUE(held_between);
    EXPECT_FALSE(rig.link.key_hold);
}

TEST(DiskRequest, EscapeDHandsOverAndAnAbandonedExchangeResynchronises) {
    TRig rig;
    rig.disk.on_request = [&] {
        // The exchange reads part of its frame, then gives up: the rest is discarded.
        EXPECT_EQ(rig.link.TakeByte(), 0x11);
        throw TAbandonExchange{};
    };
    rig.StepDeliver(Bytes("\x1b" "D\x11\x22\x33"));
    rig.StepDeliver(Bytes("ok"));
    rig.Run();
    EXPECT_EQ(rig.disk.requests, 1);
    EXPECT_EQ(Row(rig.screen, 0), "ok");
    EXPECT_TRUE(rig.host.statuses.empty()); // an abandoned exchange never shows "Timeout!"
}

TEST(DiskRequest, AbandoningDiscardsWhatWaitsInThePortToo) {
    TRig rig;
    rig.disk.on_request = [&] {
        rig.port.incoming.assign({'z', 'z', 'z'}); // arrived but not yet handed over
        throw TAbandonExchange{};
    };
    rig.StepDeliver(Bytes("\x1b" "D"));
    rig.StepDeliver(Bytes("after"));
    rig.Run();
    EXPECT_EQ(Row(rig.screen, 0), "after");
    EXPECT_EQ(rig.link.ReceivedCount(), 2 + 3 + 5);
}

TEST(Bursts, ABurstThatTookTwentyTicksShowsTimeout) {
    TRig rig;
    rig.StepDeliver(Bytes("\x1b"));
    rig.StepTick(19);
    rig.StepDeliver(Bytes("Q"));
    rig.StepDeliver(Bytes("\x1b"));
    rig.StepTick(20);
    rig.StepDeliver(Bytes("Q"));
    rig.Run();
    EXPECT_EQ(rig.host.statuses, std::vector<std::string>{"Timeout!"});
}

TEST(Bursts, AnIdleLineNeverTouchesTheCounterAndWaitsInsteadOfSpinning) {
    TRig rig;
    rig.link.timeout_counter = 7;
    for (int i = 0; i < 50; ++i) rig.StepTick(0);
    rig.Run();
    EXPECT_EQ(rig.link.timeout_counter, 7);
    EXPECT_TRUE(rig.host.statuses.empty());
    EXPECT_EQ(rig.host.waits, rig.host.rounds); // every idle round blocked for the next event
}

TEST(Restart, BytesPendingAtConnectAreCountedButNeverShown) {
    TRig rig;
    rig.port.incoming.assign({'o', 'l', 'd'});
    rig.StepDeliver(Bytes("new"));
    rig.Run();
    EXPECT_EQ(Row(rig.screen, 0), "new");
    EXPECT_EQ(rig.link.ReceivedCount(), 6);
}

TEST(Restart, AClosedPortYieldsNothingAndTheCycleEndsOnStop) {
    TRig rig;
    rig.disk.on_request = [&] {
        rig.link.stop_request = true; // Disconnect during the exchange
        rig.port.open = false;
        throw TAbandonExchange{};
    };
    rig.StepDeliver(Bytes("\x1b" "D"));
    rig.StepDeliver(Bytes("never"));
    rig.Run();
    EXPECT_EQ(Row(rig.screen, 0), "");
    EXPECT_EQ(rig.host.rounds, 2); // returned without another round
}

TEST(Queue, WrapsBetweenTwoBytesOfOneSequence) {
    TRig rig;
    // Fill the ring up to just before its end, so that the sequence straddles index 65535.
    const std::string filler(65533, 'f');
    rig.StepDeliver(Bytes(filler));
    rig.StepDeliver(Bytes("\x1b[7;9H"));
    rig.Run();
    EXPECT_EQ(rig.screen.CursorRow(), 6);
    EXPECT_EQ(rig.screen.CursorColumn(), 8);
}

TEST(Queue, TwoHundredKilobytesArrivingWhileBusyComeOutCompleteAndInOrder) {
    // The target floods the line with numbered records (ESC 'D' and a 32-bit number, here
    // taken apart by a scripted disk service) faster than the main cycle takes them: the port
    // holds three times what the ring can. Nothing may be lost or reordered.
    TRig rig;
    constexpr uint32_t kRecords = 200 * 1024 / 6;
    std::vector<uint8_t> flood;
    for (uint32_t i = 0; i < kRecords; ++i) {
        flood.insert(flood.end(), {0x1B, 'D', uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16),
                                   uint8_t(i >> 24)});
    }
    std::vector<uint32_t> seen;
    rig.disk.on_request = [&] {
        uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            rig.link.WaitForExchangeByte();
            v |= uint32_t(rig.link.TakeByte()) << (8 * k);
        }
        seen.push_back(v);
    };
    rig.StepDeliver(flood);
    // Later rounds: the port's event keeps announcing what it still holds, as the event
    // thread does while bytes wait; the ring takes only what fits.
    rig.host.idle = [&] {
        if (!rig.port.incoming.empty())
            rig.link.CommRxChar(static_cast<uint32_t>(rig.port.incoming.size()));
        else if (rig.link.QueueEmpty())
            rig.link.stop_request = true;
    };
    rig.Run();
    ASSERT_EQ(seen.size(), kRecords);
    for (uint32_t i = 0; i < kRecords; ++i) ASSERT_EQ(seen[i], i) << "record " << i;
    EXPECT_EQ(rig.link.ReceivedCount(), static_cast<int32_t>(flood.size()));
    EXPECT_EQ(Row(rig.screen, 0), "");
}

TEST(Queue, AWholeStreamAndTheSameStreamByteByByteGiveTheSameScreen) {
    std::mt19937 rng(11);
    const char* pieces[] = {"Hello", "\x1b[2J", "\x1b[5;10H", "\x1b[1;33;44m", "\x1b[0m",
                            "\x1b[7m", "\x1bX", "\x1b\x1b[H", "\r\n", "\x1b[99;99H",
                            "\xc9\xcd\xbb", "\x1b[3", "1m", "\x1b[?7h", "\x1bQ"};
    for (int trial = 0; trial < 20; ++trial) {
        std::string stream;
        for (int i = 0; i < 60; ++i) stream += pieces[rng() % std::size(pieces)];
        TRig whole, bytewise;
        whole.StepDeliver(Bytes(stream));
        for (char c : stream) bytewise.StepDeliver({static_cast<uint8_t>(c)});
        whole.Run();
        bytewise.Run();
        EXPECT_TRUE(whole.screen.Cells() == bytewise.screen.Cells()) << "trial " << trial;
        EXPECT_EQ(whole.screen.CursorRow(), bytewise.screen.CursorRow());
        EXPECT_EQ(whole.screen.CursorColumn(), bytewise.screen.CursorColumn());
        EXPECT_EQ(whole.screen.Attribute(), bytewise.screen.Attribute());
    }
}
