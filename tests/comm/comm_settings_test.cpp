// Opening, closing and the line settings as the device sees them.
#include "comm_rig.h"
#include "test_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <string>
#include <unistd.h>

namespace {

// The message of the Exception that `f` raises, or "" when it raises none.
template <typename F> std::string Failure(F f) {
    try {
        f();
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

class CommSettings : public ::testing::Test {
  protected:
    TPty pty;
    TComm comm{nullptr};
    void SetUp() override { comm.SetDeviceName(pty.path); }
    speed_t OutputSpeed() const {
        const termios t = pty.Attributes();
        return cfgetospeed(&t);
    }
};

TEST(CommDefaults, NewPortIsClosedWithTheDocumentedSettings) {
    TComm comm(nullptr);
    EXPECT_FALSE(comm.Enabled());
    EXPECT_EQ(comm.DeviceName(), "Com2");
    EXPECT_EQ(comm.ReadTimeout, 1000);
    EXPECT_EQ(comm.WriteTimeout, 1000);
    EXPECT_EQ(comm.ReadBufSize(), 4096);
    EXPECT_EQ(comm.WriteBufSize(), 2048);
    EXPECT_EQ(comm.SuspendTime(), 5u);
    EXPECT_EQ(comm.MonitorEvents().ToBits(), 0x1FF);
    EXPECT_EQ(comm.BaudRate(), br9600);
    EXPECT_EQ(comm.Parity(), paNone);
    EXPECT_EQ(comm.StopBits(), sb10);
    EXPECT_EQ(comm.DataBits(), da8);
    EXPECT_TRUE(comm.Options().Empty());
    EXPECT_EQ(comm.FlowControl(), fcDefault);
    EXPECT_EQ(comm.UserBaud(), 0);
    EXPECT_EQ(comm.EventChars()->XOnChar(), 17);
    EXPECT_EQ(comm.EventChars()->XOffChar(), 19);
    EXPECT_EQ(comm.EventChars()->ErrorChar(), 0);
    EXPECT_EQ(comm.EventChars()->EofCharc(), 0);
    EXPECT_EQ(comm.EventChars()->EvtChar(), 0);
    EXPECT_FALSE(comm.OnRxChar);
}

TEST(CommDefaults, EnumerationOrdinalsAndEventBitsAreThoseOfTheStoredFormat) {
    EXPECT_EQ(br256000, 14);
    EXPECT_EQ(br230400, 15);
    EXPECT_EQ(brUSER, 18);
    EXPECT_EQ(BaudRateBitsPerSecond(br256000), 256000u);
    EXPECT_EQ(BaudRateBitsPerSecond(br230400), 230400u);
    EXPECT_EQ(BaudRateBitsPerSecond(brUSER), 0u);
    EXPECT_EQ(paSpace, 4);
    EXPECT_EQ(sb20, 2);
    EXPECT_EQ(da8, 4);
    EXPECT_EQ(fcDefault, 4);
    EXPECT_EQ(coNullStrip, 4);
    EXPECT_EQ(evTxEmpty, 8);
    // The system's set [evBreak, evError, evRxChar].
    EXPECT_EQ(EventMask({evBreak, evError, evRxChar}), 0xC1u);
    EXPECT_EQ(EventMask(TCommEvents::All()), kEvAll);
    // Bits beyond the nine events carry nothing and do not make two sets differ.
    EXPECT_TRUE(TCommEvents::FromBits(0xFE41) == TCommEvents({evBreak, evRxChar}));
    EXPECT_EQ(TCommOptions({coParityCheck, coNullStrip}).ToBits(), 0x11);
}

TEST_F(CommSettings, OpenByPathPutsTheTerminalInRawModeAndCloseRestoresIt) {
    const termios before = pty.Attributes();
    ASSERT_TRUE(before.c_lflag & ICANON); // a fresh terminal is cooked
    comm.Open();
    ASSERT_TRUE(comm.Enabled());
    termios t = pty.Attributes();
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_oflag & OPOST);
    EXPECT_FALSE(t.c_iflag & ICRNL);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));

    comm.Close();
    EXPECT_FALSE(comm.Enabled());
    t = pty.Attributes();
    EXPECT_EQ(t.c_lflag, before.c_lflag);
    EXPECT_EQ(t.c_iflag, before.c_iflag);
    EXPECT_EQ(t.c_cflag, before.c_cflag);
    comm.Close(); // closing a closed port does nothing
    EXPECT_FALSE(comm.Enabled());
}

TEST_F(CommSettings, ComNamesInAnyCaseOpenThePathOfTheirEnvironmentVariable) {
    setenv("QUORVIK_COM1", pty.path.c_str(), 1);
    comm.SetDeviceName("com1");
    comm.Open();
    unsetenv("QUORVIK_COM1");
    ASSERT_TRUE(comm.Enabled());
    EXPECT_FALSE(pty.Attributes().c_lflag & ICANON);
    comm.Close();

    setenv("QUORVIK_COM3", pty.path.c_str(), 1);
    comm.SetDeviceName("COM3");
    comm.Open();
    unsetenv("QUORVIK_COM3");
    EXPECT_TRUE(comm.Enabled());
}

TEST_F(CommSettings, DeviceThatCannotBeOpenedLeavesThePortClosedWithoutError) {
    comm.SetDeviceName("/nonexistent/ttyQ9");
    EXPECT_NO_THROW(comm.Open());
    EXPECT_FALSE(comm.Enabled());

    comm.SetDeviceName("COM10"); // names no device
    EXPECT_NO_THROW(comm.Open());
    EXPECT_FALSE(comm.Enabled());

    const std::string file = TestPath("plain-file"); // a plain file is no character device
    ASSERT_TRUE(std::ofstream(file).good());
    comm.SetDeviceName(file);
    EXPECT_NO_THROW(comm.Open());
    EXPECT_FALSE(comm.Enabled());
    EXPECT_EQ(comm.Read(nullptr, 0), -1);
}

TEST_F(CommSettings, CharacterDeviceThatIsNoTerminalFailsTheTimeoutsAndStaysOpenUntilClose) {
    comm.SetDeviceName("/dev/null");
    EXPECT_EQ(Failure([&] { comm.Open(); }), "Error updating CommTimeouts (Error: 25)");
    EXPECT_TRUE(comm.Enabled());
    comm.Close();
    EXPECT_FALSE(comm.Enabled());
}

TEST_F(CommSettings, OpenTwiceRaisesAndLeavesThePortAsItWas) {
    comm.SetBaudRate(br115200);
    comm.Open();
    ASSERT_TRUE(comm.Enabled());
    EXPECT_EQ(Failure([&] { comm.Open(); }), "Port already assigned (open) (Error: -1)");
    EXPECT_EQ(Failure([&] { comm.CheckOpen(); }), "Port already assigned (open) (Error: -1)");
    EXPECT_TRUE(comm.Enabled());
    EXPECT_EQ(OutputSpeed(), static_cast<speed_t>(B115200));
    // Still the same working port.
    EXPECT_EQ(comm.Write("ok", 2), 2);
    const auto got = pty.Receive(2);
    EXPECT_EQ(std::string(got.begin(), got.end()), "ok");
    comm.Close();
    EXPECT_EQ(Failure([&] { comm.CheckOpen(); }), "");
}

TEST_F(CommSettings, SecondHolderOfTheDeviceIsRefusedWhoeverItIs) {
    // Exclusive mode does not bind root; the device lock does, and terminal programs take it.
    comm.Open();
    ASSERT_TRUE(comm.Enabled());
    TComm second(nullptr);
    second.SetDeviceName(pty.path);
    EXPECT_NO_THROW(second.Open());
    EXPECT_FALSE(second.Enabled());
    comm.Close();

    const int other = open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    comm.Open();
    EXPECT_FALSE(comm.Enabled());
    close(other);
    comm.Open();
    EXPECT_TRUE(comm.Enabled());
}

TEST_F(CommSettings, SettingsMadeWhileClosedReachTheDeviceAtOpen) {
    comm.SetBaudRate(br115200);
    comm.SetParity(paOdd);
    comm.SetStopBits(sb20);
    comm.SetDataBits(da7);
    comm.SetFlowControl(fcCTS);
    comm.SetOptions({coParityCheck});
    comm.EventChars()->SetXOnChar(0x05); // no port yet: only stored
    EXPECT_EQ(OutputSpeed(),
              static_cast<speed_t>(B38400)); // untouched until Open
    comm.Open();
    const termios t = pty.Attributes();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
    EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B115200));
    // A pseudo-terminal keeps CS8 and drops PARENB whatever is set (the composition of those
    // bits is checked without a device); the odd-parity bit stays.
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), static_cast<tcflag_t>(PARODD));
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
    EXPECT_TRUE(t.c_iflag & INPCK);
    EXPECT_EQ(t.c_cc[VSTART], 0x05);
    EXPECT_EQ(t.c_cc[VSTOP], 19);
}

TEST_F(CommSettings, EachParityReachesTheDeviceAsItsOwnLineParity) {
    comm.Open();
    // PARENB itself does not stay on a pseudo-terminal; the bits that tell the kinds apart do.
    auto kind = [&] { return pty.Attributes().c_cflag & (PARODD | CMSPAR); };
    comm.SetParity(paOdd);
    EXPECT_EQ(kind(), static_cast<tcflag_t>(PARODD));
    comm.SetParity(paEven);
    EXPECT_EQ(kind(), 0u);
    comm.SetParity(paMark);
    EXPECT_EQ(kind(), static_cast<tcflag_t>(PARODD | CMSPAR));
    comm.SetParity(paSpace);
    EXPECT_EQ(kind(), static_cast<tcflag_t>(CMSPAR));
    comm.SetParity(paNone);
    EXPECT_EQ(kind(), 0u);
}

TEST_F(CommSettings, SpeedDataAndStopBitsChangedWhileOpenReachTheDeviceAtOnce) {
    comm.Open();
    comm.SetBaudRate(br57600);
    termios t = pty.Attributes();
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B57600));
    EXPECT_EQ(LineSpeed(pty.slave), 57600u);
    EXPECT_FALSE(LineSpeedIsOther(pty.slave));

    comm.SetBaudRate(br14400); // no standard code: the exact number
    EXPECT_EQ(LineSpeed(pty.slave), 14400u);
    EXPECT_TRUE(LineSpeedIsOther(pty.slave));
    comm.SetBaudRate(br256000);
    EXPECT_EQ(LineSpeed(pty.slave), 256000u);

    comm.SetStopBits(sb15); // one and a half goes as two
    EXPECT_TRUE(pty.Attributes().c_cflag & CSTOPB);
    comm.SetStopBits(sb10);
    EXPECT_FALSE(pty.Attributes().c_cflag & CSTOPB);
}

TEST_F(CommSettings, UserBaudSelectsBrUserAndSetsTheExactSpeed) {
    comm.Open();
    comm.SetUserBaud(250000);
    EXPECT_EQ(comm.BaudRate(), brUSER);
    EXPECT_EQ(comm.UserBaud(), 250000);
    EXPECT_EQ(LineSpeed(pty.slave), 250000u);
    EXPECT_TRUE(LineSpeedIsOther(pty.slave));

    // The same value again does nothing, even after the speed was changed another way.
    comm.SetBaudRate(br9600);
    comm.SetUserBaud(250000);
    EXPECT_EQ(comm.BaudRate(), br9600);
    EXPECT_EQ(LineSpeed(pty.slave), 9600u);

    comm.SetBaudRate(brUSER);
    EXPECT_EQ(LineSpeed(pty.slave), 250000u);
}

TEST_F(CommSettings, SettingsTheLineCannotTakeRaiseAfterTheValueWasStored) {
    comm.Open();
    comm.SetDataBits(da7);
    EXPECT_EQ(Failure([&] { comm.SetDataBits(da4); }),
              "Error updating DataControlBlock (Error: 22)");
    EXPECT_EQ(comm.DataBits(), da4);
    EXPECT_TRUE(comm.Enabled());

    EXPECT_EQ(Failure([&] { comm.SetUserBaud(-5); }),
              "Error updating DataControlBlock (Error: 22)");
    EXPECT_EQ(comm.BaudRate(), brUSER);
    comm.Close();
    // While closed nothing is written, so nothing fails.
    EXPECT_EQ(Failure([&] {
                  comm.SetDataBits(da4);
                  comm.SetUserBaud(-7);
              }),
              "");
}

TEST_F(CommSettings, FlowControlModesSetTheHandshake) {
    comm.Open();
    auto t = [&] { return pty.Attributes(); };
    comm.SetFlowControl(fcSoftware);
    EXPECT_TRUE(t().c_iflag & IXON);
    EXPECT_TRUE(t().c_iflag & IXOFF);
    EXPECT_FALSE(t().c_cflag & CRTSCTS);

    comm.EventChars()->SetXOffChar(0x13 + 1);
    EXPECT_EQ(t().c_cc[VSTOP], 0x14);
    comm.EventChars()->SetXOnChar(0x16);
    EXPECT_EQ(t().c_cc[VSTART], 0x16);

    comm.SetFlowControl(fcDefault); // keeps what the driver has
    EXPECT_TRUE(t().c_iflag & IXON);
    comm.SetFlowControl(fcCTS);
    EXPECT_TRUE(t().c_cflag & CRTSCTS);
    EXPECT_FALSE(t().c_iflag & (IXON | IXOFF));
    comm.SetFlowControl(fcDefault);
    EXPECT_TRUE(t().c_cflag & CRTSCTS);
    comm.SetFlowControl(fcNone);
    EXPECT_FALSE(t().c_cflag & CRTSCTS);
    EXPECT_FALSE(t().c_iflag & (IXON | IXOFF | IXANY));
    comm.SetFlowControl(fcSoftware);
    comm.SetFlowControl(fcDTR); // no DTR handshake in termios: none of the others
    EXPECT_FALSE(t().c_cflag & CRTSCTS);
    EXPECT_FALSE(t().c_iflag & (IXON | IXOFF));
}

TEST_F(CommSettings, EventCharsAssignDoesNotReachTheDeviceUntilTheNextReapply) {
    comm.Open();
    TCommEventChars other(nullptr);
    other.SetXOnChar(0x01);
    comm.EventChars()->Assign(&other);
    EXPECT_EQ(comm.EventChars()->XOnChar(), 0x01);
    EXPECT_EQ(pty.Attributes().c_cc[VSTART], 17);
    comm.EventChars()->SetEvtChar(0); // any character set re-applies, changed or not
    EXPECT_EQ(pty.Attributes().c_cc[VSTART], 0x01);
}

TEST_F(CommSettings, OnlyWhileClosedSettersAreIgnoredWhileOpenAndTakenAfterClose) {
    comm.Open();
    comm.SetDeviceName("COM4");
    comm.SetReadBufSize(8192);
    comm.SetWriteBufSize(8192);
    comm.SetSuspendTime(9);
    comm.SetMonitorEvents({evBreak, evError, evRxChar});
    EXPECT_EQ(comm.DeviceName(), pty.path);
    EXPECT_EQ(comm.ReadBufSize(), 4096);
    EXPECT_EQ(comm.WriteBufSize(), 2048);
    EXPECT_EQ(comm.SuspendTime(), 5u);
    EXPECT_EQ(comm.MonitorEvents().ToBits(), 0x1FF);
    comm.ReadTimeout = 100; // plain fields: always taken
    EXPECT_EQ(comm.ReadTimeout, 100);

    comm.Close();
    comm.SetDeviceName("COM4");
    comm.SetReadBufSize(8192);
    comm.SetWriteBufSize(8192);
    comm.SetSuspendTime(9);
    comm.SetMonitorEvents({evBreak, evError, evRxChar});
    EXPECT_EQ(comm.DeviceName(), "COM4");
    EXPECT_EQ(comm.ReadBufSize(), 8192);
    EXPECT_EQ(comm.WriteBufSize(), 8192);
    EXPECT_EQ(comm.SuspendTime(), 9u);
    EXPECT_EQ(comm.MonitorEvents().ToBits(), 0x49);
}

TEST_F(CommSettings, LineControlOnAClosedPortRaisesPortNotOpen) {
    const std::string not_open = "Port not open (Error: -1)";
    EXPECT_EQ(Failure([&] { comm.SetDTRState(true); }), not_open);
    EXPECT_EQ(Failure([&] { comm.SetRTSState(false); }), not_open);
    EXPECT_EQ(Failure([&] { comm.SetBREAKState(true); }), not_open);
    EXPECT_EQ(Failure([&] { comm.SetXONState(true); }), not_open);
    EXPECT_EQ(Failure([&] { comm.EscapeComm(kSetDtr); }), not_open);
    // The status side never raises.
    EXPECT_FALSE(comm.GetModemState(1));
    EXPECT_FALSE(comm.GetComState(1));
    EXPECT_NO_THROW(comm.PurgeIn());
    EXPECT_NO_THROW(comm.PurgeOut());
}

TEST_F(CommSettings, LineControlThatTheDriverLacksRaisesItsError) {
    comm.Open();
    // A pseudo-terminal has no modem lines.
    EXPECT_EQ(Failure([&] { comm.SetDTRState(true); }), "EscapeCommFunction failure (Error: 25)");
    EXPECT_EQ(Failure([&] { comm.SetRTSState(true); }), "EscapeCommFunction failure (Error: 25)");
    EXPECT_EQ(Failure([&] { comm.EscapeComm(7); }), "EscapeCommFunction failure (Error: 22)");
    EXPECT_EQ(Failure([&] { comm.SetXONState(true); }), "");
    EXPECT_FALSE(comm.GetModemState(0));
    EXPECT_FALSE(comm.GetModemState(1));
    EXPECT_FALSE(comm.GetModemState(5));
    EXPECT_FALSE(comm.GetComState(9)); // fCtsHold: no handshake, no hold
}

} // namespace
