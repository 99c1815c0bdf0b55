// The list of serial ports from a made-up sysfs and /dev: the stable names with the tty each
// points to, USB adapters with their product, and only the ttyS ports with hardware behind
// them. Nothing in the trees is a device, so the list cannot have opened anything.
#include "port_list.h"
#include "test_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text << "\n";
}

TEST(PortList, StableNamesFirstThenUsbAdaptersThenOnlyTheUartsThatExist) {
    const fs::path sys = TestPath("sys"), dev = TestPath("dev");
    // A USB adapter: its tty's device sits below the interface, below the USB device.
    const fs::path usb = sys / "devices/usb1/1-2";
    Write(usb / "product", "FT232R USB UART");
    Write(usb / "manufacturer", "FTDI");
    fs::create_directories(usb / "1-2:1.0/ttyUSB0");
    fs::create_directories(sys / "class/tty/ttyUSB0");
    fs::create_directory_symlink(usb / "1-2:1.0/ttyUSB0", sys / "class/tty/ttyUSB0/device");
    // An ACM modem without a product name, and a second adapter numbered past 9.
    fs::create_directories(sys / "class/tty/ttyACM0");
    fs::create_directories(sys / "class/tty/ttyUSB10");
    // ttyS0 with a driver and a 16550A; ttyS1 with a driver but no UART; ttyS2 without a driver.
    for (const char* name : {"ttyS0", "ttyS1", "ttyS2"}) {
        const fs::path tty = sys / "class/tty" / name;
        fs::create_directories(tty / "device");
        Write(tty / "type", std::string(name) == "ttyS0" ? "4" : std::string(name) == "ttyS1" ? "0" : "4");
        if (std::string(name) != "ttyS2") fs::create_directories(tty / "device/driver");
    }
    fs::create_directories(sys / "class/tty/tty1"); // a virtual console: not a serial port
    fs::create_directories(dev / "serial/by-id");
    fs::create_symlink("../../ttyUSB0", dev / "serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0");

    const std::vector<TSerialPortInfo> expected = {
        {"/dev/serial/by-id/usb-FTDI_FT232R_A1B2-if00-port0", "-> ttyUSB0"},
        {"/dev/ttyUSB0", "FTDI FT232R USB UART"},
        {"/dev/ttyUSB10", ""},
        {"/dev/ttyACM0", ""},
        {"/dev/ttyS0", "serial port, 16550A"},
    };
    const std::vector<TSerialPortInfo> found = ListSerialPorts(sys.string(), dev.string());
    ASSERT_EQ(found.size(), expected.size());
    for (size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].target, expected[i].target) << i;
        EXPECT_EQ(found[i].description, expected[i].description) << i;
    }
    EXPECT_TRUE(ListSerialPorts(TestPath("none"), TestPath("none")).empty());
}

} // namespace
