// The latency look-up on Linux: sysfs read for a ttyUSB device (also through a by-id link),
// nothing read or said for a pseudo-terminal, and the component on a pty quiet about it.
#include "comm_rig.h"
#include "latency_advice.h"
#include "test_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(LatencyAdvice, SysfsIsReadForTheDeviceALinkNamesAndNotForAPseudoTerminal) {
    const std::string root = TestPath("sys");
    fs::create_directories(root + "/bus/usb-serial/devices/ttyUSB3");
    std::ofstream(root + "/bus/usb-serial/devices/ttyUSB3/latency_timer") << "16\n";
    fs::create_directories(TestPath("dev/serial/by-id"));
    std::ofstream(TestPath("dev/ttyUSB3")) << "";
    fs::create_symlink("../../ttyUSB3", TestPath("dev/serial/by-id/usb-Adapter-if00-port0"));

    EXPECT_NE(SysfsLatencyAdvice(TestPath("dev/ttyUSB3"), root), "");
    EXPECT_NE(SysfsLatencyAdvice(TestPath("dev/serial/by-id/usb-Adapter-if00-port0"), root), "");
    EXPECT_EQ(SysfsLatencyAdvice(TestPath("dev/ttyUSB4"), root), "") << "no attribute for it";
    std::ofstream(root + "/bus/usb-serial/devices/ttyUSB3/latency_timer") << "1\n";
    EXPECT_EQ(SysfsLatencyAdvice(TestPath("dev/ttyUSB3"), root), "");
    // A pseudo-terminal is never looked up, whatever sysfs would say of its name.
    fs::create_directories(root + "/bus/usb-serial/devices/3");
    std::ofstream(root + "/bus/usb-serial/devices/3/latency_timer") << "16\n";
    EXPECT_EQ(SysfsLatencyAdvice("/dev/pts/3", root), "");
}

TEST(LatencyAdvice, OnAPseudoTerminalTheLowLatencyRequestIsANoOpWithoutAnyMessage) {
    TPty pty;
    TComm comm(nullptr);
    comm.SetDeviceName(pty.path);
    ASSERT_NO_THROW(comm.Open());
    ASSERT_TRUE(comm.Enabled());
    EXPECT_EQ(comm.OpenAdvice(), "");
    comm.Close();
    EXPECT_EQ(comm.OpenAdvice(), "") << "nothing left over for the next Open";
}
