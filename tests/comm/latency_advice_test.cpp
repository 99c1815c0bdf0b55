// When a USB adapter's latency timer will make disk service slow, and what the advice says.
#include "latency_advice.h"

#include <gmock/gmock.h>

using ::testing::HasSubstr;

TEST(LatencyAdvice, OnLinuxOnlyAUsbSerialDeviceWhoseTimerReadsAboveOneGetsAdvice) {
    const std::string advice = UsbSerialLatencyAdvice("ttyUSB0", "16\n");
    EXPECT_THAT(advice, HasSubstr("/dev/ttyUSB0 holds what it receives back for up to 16 ms"));
    EXPECT_THAT(advice, HasSubstr("disk service will be slow"));
    EXPECT_THAT(advice, HasSubstr("SUBSYSTEM==\"usb-serial\", DRIVER==\"ftdi_sio\", "
                                  "ATTR{latency_timer}=\"1\""));
    EXPECT_EQ(advice.find('\n'), std::string::npos) << "one line";

    EXPECT_EQ(UsbSerialLatencyAdvice("ttyUSB0", "1\n"), "");
    EXPECT_EQ(UsbSerialLatencyAdvice("ttyUSB0", ""), "") << "no such attribute";
    EXPECT_EQ(UsbSerialLatencyAdvice("ttyUSB0", "fast"), "");
    EXPECT_EQ(UsbSerialLatencyAdvice("ttyACM0", "16"), "") << "no latency timer there";
    EXPECT_EQ(UsbSerialLatencyAdvice("ttyUSB", "16"), "");
    EXPECT_EQ(UsbSerialLatencyAdvice("3", "16"), "");
}

TEST(LatencyAdvice, OnWindowsAnFtdiTimerAboveOneSendsTheUserToTheAdvancedSettings) {
    const std::string advice = FtdiLatencyAdvice("COM7", 16);
    EXPECT_THAT(advice, HasSubstr("COM7 holds what it receives back for up to 16 ms"));
    EXPECT_THAT(advice, HasSubstr("Device Manager"));
    EXPECT_THAT(advice, HasSubstr("Advanced..., Latency Timer (msec)"));
    EXPECT_EQ(FtdiLatencyAdvice("COM7", 1), "");
    EXPECT_EQ(FtdiLatencyAdvice("COM7", 0), "");
}

TEST(LatencyAdvice, APortThatIsNoUsbAdapterOfThatKindGetsNone) {
    // Linux: no ttyUSB name. Windows (wine): no FTDI device among the ports.
    EXPECT_EQ(PortLatencyAdvice("COM1"), "");
    EXPECT_EQ(PortLatencyAdvice("\\\\.\\COM12"), "");
}
