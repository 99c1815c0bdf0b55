// quorvik-term's scripted run against a real PC: QEMU boots SYSLINUX from the image that
// quorvik-term serves, as a CI job would boot a freshly built floppy and check its prompt.
#include "qemu_target.h"
#include "test_dir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

TEST(QemuTerm, AScriptedRunBootsSyslinuxToItsPromptAndMenu) {
    const std::string image = TestPath("syslinux.img");
    {
        std::ifstream in(QUORVIK_ROM_FLOPPY, std::ios::binary);
        std::ofstream out(image, std::ios::binary);
        out << in.rdbuf();
    }
    TQemuTarget qemu(QUORVIK_QEMU, QUORVIK_ROM, TestPath("com1.log")); // sets QUORVIK_COM1
    TChildProcess term({QUORVIK_TERM_PROGRAM, "--image", image, "--timeout", "120", "--expect",
                        "boot:", "--expect", "Quorvik: a PC booting over the serial line",
                        "--expect", "Boot this floppy again", "--quiet", "1000", "--screen"});
    term.WaitForOutput([](const std::string&) { return false; }, std::chrono::seconds(240));
    ASSERT_TRUE(term.Exited()) << term.Output() << qemu.Output();
    EXPECT_EQ(term.ExitCode(), 0) << term.Output();
    // The menu at rest, drawn whole: its last entry too.
    EXPECT_NE(term.Output().find("Back to the boot: prompt"), std::string::npos) << term.Output();
}
