// The serial port named as the system names it (/port) and the list of the ports present
// (+list_ports), with the simulated unit on port 12: natively it is reached by the path of its
// pseudo-terminal, under wine as COM12, which the unit links into the wine prefix (a two-digit
// port, which Windows opens only as \\.\COM12).
#include <sstream>
#include <string>

#include "e2e/unit_files.h"

class PortByName : public OperationsTest {
protected:
    static constexpr unsigned unit_port = 12;

    std::string unit_port_name() const { return target_.wine ? "COM12" : unit_->pty_path(); }
};

TEST_F(PortByName, CommandLineRunOverThePortNamedAsTheSystemNamesIt) {
    start_unit(unit_options(unit_port));
    const run_result result =
        run({"/port", unit_port_name(), "+info"}, console_mode::input_null, 90s);
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    expect_in_order(result, {"  Bank information\n\n",
                             "  Bank 1        : Image                     Software\n",
                             "  Bank 3 does not contain valid images\n\n"});
    EXPECT_EQ(requests_of_run(), connect_and_end()) << target_.name();
}

TEST_F(PortByName, ListingEndsTheRunBeforeAnyLinkIsLookedFor) {
    start_unit(unit_options(unit_port));
    // Without /interface the link is the card, whose driver library is not on this machine: a
    // run that looked for it would end with status -1.
    const run_result result = run({"+list_ports", "+info"});
    ASSERT_FALSE(result.timed_out) << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    ASSERT_FALSE(result.out.empty()) << describe(result);
    EXPECT_EQ(result.out.back(), '\n') << describe(result);
    // A pseudo-terminal is no serial port of the system: natively only real ports show.
    const std::string kind = target_.wine ? "COM" : "/dev/tty";
    std::istringstream lines(result.out);
    bool unit_listed = false;
    for (std::string line; std::getline(lines, line);) {
        unit_listed = unit_listed || line == "COM12";
        EXPECT_TRUE(line.rfind(kind, 0) == 0 || line == "No serial port found.")
            << "not a port: \"" << line << "\": " << describe(result);
    }
    EXPECT_EQ(unit_listed, target_.wine) << describe(result);
}
