// The command line as a user meets it: the real program, its output and its exit status, the
// same on Linux and, for kestrel.exe, under wine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "blackbox/program_runner.h"

namespace {

const std::string usage_text =
    "Usage: Kestrel [option ...]\n"
    "\n"
    "      Option     Type       Default  Meaning\n"
    "\n"
    " /h /? /help                         Show this help\n"
    "    /version                         Show version\n"
    "       /bank     uint             0  Specific Bank for the operation. Default the new bank\n"
    "    /load_sw   string                Software file to load\n"
    "    /load_fw   string                Firmware file to load\n"
    "     -/+boot  boolean         FALSE  Boot unit to specificed bank\n"
    "   -/+reboot  boolean         FALSE  Reboot unit to current active bank\n"
    "     -/+info  boolean         FALSE  Print File information from unit\n"
    "   -/+get_sw  boolean         FALSE  Get Software file\n"
    "   -/+get_fw  boolean         FALSE  Get Firmware file\n"
    "  -/+get_log  boolean         FALSE  Get Log file\n"
    " -/+get_conf  boolean         FALSE  Get Configuration\n"
    "    /comment   string                Comment for file download\n"
    "  /prom_type   string                Specific type: Controller,Charger,PAx,TCx\n"
    "  /load_prom   string                Eeprom file to load\n"
    " -/+get_prom  boolean         FALSE  Get Eeprom file\n"
    " -/+safemode  boolean         FALSE  Safemode. Default not safemode\n"
    "    /verbose     uint             0  Verbose level. Default none verbose\n"
    "  /interface     uint             0  Link Interface. Alphadata=0, COMx=x\n"
    "       /card     uint             0  ID of card to use\n"
    "      /index     uint             0  index of card to use\n"
    "       /size     uint         65536  send/receive buffer size (bytes)\n"
    "       /lclk    float     30.000000  local bus clock frequency (MHz)\n"
    "    /bitfile   string    top_V5.bit  bitstream\n"
    "       /port   string                Serial port by name (COM12, /dev/ttyUSB0)\n"
    "-/+list_ports  boolean         FALSE  List the serial ports present\n"
    "   -/+verify  boolean         FALSE  Read back and compare what is loaded\n"
    "     /report   string                Write a JSON report of the run to a file\n"
    "      /ports   string                Several units: serial ports (COM3,COM4) or all\n"
    "     /events   string                JSON lines of the run's events to a file (- standard output)\n"
    "-/+skip_same  boolean         FALSE  Skip a load the unit already holds\n"
    "  /wait_port     uint             0  Seconds to wait for a port to appear\n";

void expect_run(const std::vector<std::string>& args, const std::string& out, int status) {
    std::string shown;
    for (const auto& a : args) {
        shown += "[" + a + "] ";
    }
    const program_result r = run_kestrel(args);
    ASSERT_FALSE(r.timed_out) << target_name() << ": " << shown;
    EXPECT_EQ(r.out, out) << target_name() << ": " << shown << "\nstderr: " << r.err;
    EXPECT_EQ(r.status, status) << target_name() << ": " << shown;
}

}  // namespace

TEST(CommandLine, VersionAnswersWhateverThePrefix) {
    for (const char* word : {"/version", "-version", "+version"}) {
        expect_run({word}, "  Kestrel QX_RL4471902-3\n", 0);
    }
    // Arguments after it are not examined.
    expect_run({"/version", "nonsense"}, "  Kestrel QX_RL4471902-3\n", 0);
}

TEST(CommandLine, HelpPrintsTheUsageTable) {
    for (const char* word : {"/h", "/?", "/help", "-h", "+?"}) {
        expect_run({word}, usage_text, 0);
    }
    expect_run({"+info", "/h", "not-an-option"}, usage_text, 0);
}

TEST(CommandLine, EveryParserFailureHasItsMessageAndStatus) {
    const int minus_one = 255;  // -1 as the shell reads it, on Linux and under wine
    expect_run({"image.bin"}, "Unknown option: image.bin\n", minus_one);
    expect_run({"/Bank", "2"}, "Unknown option: /Bank\n", minus_one);
    expect_run({"/bank=2"}, "Unknown option: /bank=2\n", minus_one);
    expect_run({"/bank"},
               "/bank option requires parameter: Specific Bank for the operation. Default the "
               "new bank\n",
               minus_one);
    expect_run({"/boot"}, "Boolean option boot should be specified as -boot or +boot\n",
               minus_one);
    expect_run({"/sdk"}, "/sdk option requires parameter: path to ADM-XRC SDK root\n", minus_one);
    expect_run({"/bitdir"}, "/bitdir option requires parameter: path to bitstream directory\n",
               minus_one);
    expect_run({"/boot", "/h"}, "Boolean option boot should be specified as -boot or +boot\n",
               minus_one);
    // A number past 32 bits is refused before anything is opened, not wrapped to another bank
    // or port: the same on both homes, whose C libraries read such numbers differently.
    expect_run({"/interface", "4294967299", "+info"},
               "Option /interface: 4294967299 is not a whole number from 0 to 4294967295\n",
               minus_one);
    expect_run({"/bank", "4294967298", "/load_fw", "a.bin"},
               "Option /bank: 4294967298 is not a whole number from 0 to 4294967295\n",
               minus_one);
}

TEST(CommandLine, AnAbsurdlyLongArgumentIsCutNotOverflowed) {
    const std::string huge = "-" + std::string(20000, 'z');
    const program_result r = run_kestrel({huge});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "Unknown option: -" + std::string(1023 - 17, 'z'));
}

TEST(CommandLine, WithoutTheCardsDriverTheCardLinkEndsTheRun) {
    // The card is the default link; these machines have no driver library for it.
    const std::string missing =
        target_is_wine() ? "admxrc.dll not found.\n" : "libadmxrc.so not found.\n";
    expect_run({}, missing, 255);
    expect_run({"/verbose", "abc", "+bank0", "/lclk", "12", "/size", "1", "-sdk", "C:/x/"},
               missing, 255);
    expect_run({"/interface", "0", "+info"}, missing, 255);
}

TEST(CommandLine, PortIsRefusedWithInterfaceOrWithoutAName) {
    const std::string both =
        "Give either /port or /interface, not both: /port names the serial port, /interface "
        "numbers it\n";
    expect_run({"/port", "COM3", "/interface", "3", "+info"}, both, 255);
    // Also with the card's /interface 0, and before +list_ports would list anything.
    expect_run({"/interface", "0", "+list_ports", "/port", "COM3"}, both, 255);
    expect_run({"/port", "", "+info"},
               "/port needs the name of a serial port (+list_ports lists them)\n", 255);
}

// A list of ports that cannot be served is refused before anything is opened.
TEST(CommandLine, PortsAreRefusedWithAnotherPortEmptyTwiceOrWithNothingToDo) {
    const std::string alone =
        "Give /ports alone: /port and /interface choose the port of a single unit\n";
    expect_run({"/ports", "COM3,COM4", "/port", "COM5", "+info"}, alone, 255);
    expect_run({"/interface", "0", "/ports", "COM3,COM4", "+info"}, alone, 255);
    const std::string names =
        "/ports needs the names of serial ports separated by commas (COM3,COM4), or all\n";
    expect_run({"/ports", "", "+info"}, names, 255);
    expect_run({"/ports", "COM3,,COM4", "+info"}, names, 255);
    expect_run({"/ports", "COM3,", "+info"}, names, 255);
    expect_run({"/ports", "COM3,COM4,COM3", "+info"}, "/ports names the port COM3 twice\n", 255);
    expect_run({"/ports", "COM3,COM4", "+verify"},
               "/ports runs the operations of the command line on every unit: give at least one "
               "(+info, /load_fw FILE, +get_log, ...)\n",
               255);
    expect_run({"/ports", "COM3,COM4", "+info", "/events", "no-such-folder/e.jsonl"},
               "Events file \"no-such-folder/e.jsonl\" cannot be written: there is no folder "
               "no-such-folder\n",
               255);
}

TEST(CommandLine, APortThatCannotBeOpenedIsNamedAsGiven) {
    const std::string name = target_is_wine() ? "COM250" : "/dev/kestrel-no-such-port";
    const program_result r = run_kestrel({"/port", name, "+info"});
    ASSERT_FALSE(r.timed_out) << target_name();
    EXPECT_EQ(r.status, 2) << target_name() << ": " << r.out;
    EXPECT_EQ(r.out.rfind("\nSerial port " + name + ": cannot open the port (error 8): ", 0), 0U)
        << target_name() << ": " << r.out;
    EXPECT_NE(r.out.find(" (system error 2)\n"), std::string::npos)
        << target_name() << ": " << r.out;
}
