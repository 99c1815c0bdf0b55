// The Win32 control block and write time-out from the line settings: what a pseudo-terminal
// under wine cannot show (it keeps 8 data bits and no parity whatever is set).
#include "comm.h"
#include "comm_dcb_win32.h"

#include <gtest/gtest.h>

namespace {

DCB Compose(const TLineSettings& s, DCB from = DCB{}) {
    DcbCompose(s, &from);
    return from;
}

} // namespace

TEST(CommWin32Dcb, ParityStopAndDataBitsTakeTheSystemsCodesTheRightWayRound) {
    TLineSettings s;
    const BYTE parity[] = {NOPARITY, ODDPARITY, EVENPARITY, MARKPARITY, SPACEPARITY};
    for (TParity p : {paNone, paOdd, paEven, paMark, paSpace}) {
        s.parity = p;
        EXPECT_EQ(Compose(s).Parity, parity[p]) << int(p);
    }
    EXPECT_EQ(ODDPARITY, 1); // the codes the driver reads: odd is 1, even 2
    EXPECT_EQ(EVENPARITY, 2);
    s.stop_bits = sb15;
    s.data_bits = da5;
    s.bits_per_second = 31250;
    const DCB dcb = Compose(s);
    EXPECT_EQ(dcb.StopBits, ONE5STOPBITS);
    EXPECT_EQ(dcb.ByteSize, 5);
    EXPECT_EQ(dcb.BaudRate, 31250u);
    EXPECT_TRUE(dcb.fBinary);
}

TEST(CommWin32Dcb, EachFlowControlSetsOneHandshakeAndDefaultKeepsTheDrivers) {
    TLineSettings s;
    s.flow = fcCTS;
    DCB d = Compose(s);
    EXPECT_TRUE(d.fOutxCtsFlow);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_HANDSHAKE);
    EXPECT_FALSE(d.fOutxDsrFlow || d.fOutX || d.fInX);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_ENABLE);

    s.flow = fcDTR;
    d = Compose(s);
    EXPECT_TRUE(d.fOutxDsrFlow);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_HANDSHAKE);
    EXPECT_FALSE(d.fOutxCtsFlow || d.fOutX || d.fInX);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_ENABLE);

    s.flow = fcSoftware;
    d = Compose(s);
    EXPECT_TRUE(d.fOutX && d.fInX);
    EXPECT_FALSE(d.fOutxCtsFlow || d.fOutxDsrFlow);

    // fcNone clears a handshake the driver had on.
    DCB driver{};
    driver.fOutxCtsFlow = TRUE;
    driver.fRtsControl = RTS_CONTROL_HANDSHAKE;
    driver.fOutX = driver.fInX = TRUE;
    s.flow = fcNone;
    d = Compose(s, driver);
    EXPECT_FALSE(d.fOutxCtsFlow || d.fOutxDsrFlow || d.fOutX || d.fInX);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_ENABLE);
    EXPECT_EQ(d.fDtrControl, DTR_CONTROL_ENABLE);

    s.flow = fcDefault;
    d = Compose(s, driver);
    EXPECT_TRUE(d.fOutxCtsFlow && d.fOutX && d.fInX);
    EXPECT_EQ(d.fRtsControl, RTS_CONTROL_HANDSHAKE);
}

TEST(CommWin32Dcb, OptionsSetTheirFlagsAndTheDriversOtherFieldsStay) {
    TLineSettings s;
    s.options = TCommOptions{coParityCheck, coNullStrip};
    s.xon = 0x11;
    s.evt_char = 0x7e;
    DCB driver{};
    driver.fDsrSensitivity = driver.fTXContinueOnXoff = driver.fErrorChar = TRUE;
    driver.fAbortOnError = TRUE;
    const DCB d = Compose(s, driver);
    EXPECT_TRUE(d.fParity && d.fNull);
    EXPECT_FALSE(d.fDsrSensitivity || d.fTXContinueOnXoff || d.fErrorChar);
    EXPECT_TRUE(d.fAbortOnError);
    EXPECT_EQ(d.XonChar, 0x11);
    EXPECT_EQ(d.EvtChar, 0x7e);
    EXPECT_EQ(d.XonLim, 1024);
    EXPECT_EQ(d.XoffLim, 1024);
}

TEST(CommWin32Dcb, AFrameOf517BytesFinishesWithinTheWriteTimeOutAtEverySpeed) {
    for (int r = br110; r < brUSER; ++r) {
        const uint32_t bps = BaudRateBitsPerSecond(static_cast<TBaudRate>(r));
        // 11 bits a byte (start, 8 data, parity, stop) on the line, in ms.
        const double on_line = 517.0 * 11 * 1000 / bps;
        const double limit = 517.0 * WriteTimeoutPerByteMs(bps) + kWriteTimeoutConstantMs;
        EXPECT_GT(limit, on_line * 1.5) << bps << " bit/s";
        EXPECT_LT(limit, on_line * 3 + kWriteTimeoutConstantMs + 517) << bps << " bit/s";
    }
    EXPECT_GT(WriteTimeoutPerByteMs(0), 0u);
    EXPECT_EQ(WriteTimeoutPerByteMs(115200), 1u);
}
