// The serial ports a Linux system shows, read from a fake device folder and tty class folder,
// and the listing +list_ports prints of them.
#include "platform/tty_ports.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "app/port_choice.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

void make_file(const fs::path& path, const std::string& content = "") {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << content;
}

}  // namespace

TEST(SerialPorts, ListsPresentPortsByKindAndNumberWithTheirNamesById) {
    TempFolder folder;
    const fs::path dev = folder.path() / "dev";
    const fs::path tty = folder.path() / "sys" / "class" / "tty";
    for (const char* name : {"ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyS4", "ttyS10", "ttyUSB1",
                             "ttyUSB0", "ttyACM0", "tty0", "ttyS", "ttySAC0", "ttyUSBx",
                             "console"}) {
        make_file(dev / name);
    }
    // UART types as the kernel reports them: 4 is a 16550A, 0 none at the port's address. ttyS3
    // has no record and ttyS4 an empty one: neither is known to be there.
    make_file(tty / "ttyS0" / "type", "4\n");
    make_file(tty / "ttyS1" / "type", "0\n");
    make_file(tty / "ttyS2" / "type", "4\n");
    make_file(tty / "ttyS4" / "type", "");
    make_file(tty / "ttyS10" / "type", "4\n");
    make_file(tty / "ttyUSB0" / "type", "0\n");  // adapters' own types do not count

    const fs::path by_id = dev / "serial" / "by-id";
    fs::create_directories(by_id);
    const std::string ftdi = "usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0";
    const std::string arduino = "usb-Arduino_Uno_55736-if00";
    std::error_code error;
    fs::create_symlink("../../ttyUSB1", by_id / ftdi, error);
    fs::create_symlink("../../ttyACM0", by_id / arduino, error);
    fs::create_symlink("../../ttyUSB5", by_id / "usb-Prolific_unplugged-if00-port0", error);
    if (error) {
        GTEST_SKIP() << "no symbolic links here: " << error.message();
    }

    const auto line = [&](const char* name, const std::string& alias = "") {
        return (dev / name).string() + (alias.empty() ? "" : "  " + (by_id / alias).string()) +
               "\n";
    };
    const std::string expected = line("ttyS0") + line("ttyS2") + line("ttyS10") +
                                 line("ttyUSB0") + line("ttyUSB1", ftdi) + line("ttyACM0", arduino);
    EXPECT_EQ(port_listing(find_tty_ports(dev, tty)), expected);
}

TEST(SerialPorts, NoPortIsOneLine) {
    TempFolder folder;
    const fs::path dev = folder.path() / "dev";
    make_file(dev / "ttyS0");  // a device file with no UART behind it
    make_file(folder.path() / "tty" / "ttyS0" / "type", "0\n");
    EXPECT_TRUE(find_tty_ports(dev, folder.path() / "tty").empty());
    EXPECT_TRUE(find_tty_ports(folder.path() / "missing", folder.path() / "tty").empty());
    EXPECT_EQ(port_listing({}), "No serial port found.\n");
}
