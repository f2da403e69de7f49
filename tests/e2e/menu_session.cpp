#include "e2e/menu_session.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include "e2e/wire_log.h"

std::string connected_menu(int bank, int verbose_level) {
    return printed("  Connected: Bank %d  Verbose level %2d No of Retries %5d \n", bank,
                   verbose_level, 0) +
           "\n"
           "  B: Boot unit\n"
           "  L: Load file to flash\n"
           "  E: Load file to eeprom\n"
           "  G: Get file from flash\n"
           "  H: Get file from eeprom\n"
           "  S: Show file information in flash\n"
           "  T: Get log\n"
           "  W: View log\n"
           "  V: Verbose level\n"
           "  U: Scan directory\n"
           "  #: Toggle between loader mode and remote access\n"
           "\n\n"
           "  R: Refresh menu\n"
           "  Q: Quit\n";
}

std::string printed(const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(length > 0 ? static_cast<std::size_t>(length) : 0U, '\0');
    if (length > 0) {
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    return text;
}

void MenuRun::start_connected(const sim_unit_options& options, launch_settings settings) {
    start_unit(options);
    settings.args = {"/interface", "3"};
    settings.console = console_mode::terminal;
    program_ = launch(std::move(settings));
    ASSERT_NE(await_text(connected_menu(1, 0), 0, 30s), std::string::npos)
        << target_.name() << ": no connected menu; the screen was:\n" << screen_from(0);
}

std::size_t MenuRun::mark() const { return screen_form(program_->output()).size(); }

void MenuRun::press(std::string_view keys) {
    EXPECT_TRUE(program_->wait_for_single_keys(5s))
        << target_.name() << ": the terminal still edits lines, so keys wait for Enter";
    EXPECT_TRUE(program_->type(keys)) << target_.name() << ": cannot type " << keys;
}

std::size_t MenuRun::await_text(std::string_view text, std::size_t from,
                                std::chrono::milliseconds timeout) const {
    std::size_t found = std::string::npos;
    program_->wait_for_output(
        [&](const std::string& output) {
            found = find_on_screen(screen_form(output), text, from);
            return found != std::string::npos;
        },
        timeout);
    return found;
}

std::size_t MenuRun::await_in_order(std::initializer_list<std::string_view> texts,
                                    std::size_t from, std::chrono::milliseconds timeout) const {
    std::size_t found = std::string::npos;
    program_->wait_for_output(
        [&](const std::string& output) {
            const std::string screen = screen_form(output);
            std::size_t at = from;
            for (const std::string_view text : texts) {
                at = find_on_screen(screen, text, at);
                if (at == std::string::npos) {
                    break;
                }
                found = at;
                at += text_form(text).size();
            }
            if (at == std::string::npos) {
                found = std::string::npos;
            }
            return found != std::string::npos;
        },
        timeout);
    return found;
}

std::string MenuRun::screen_from(std::size_t from) const {
    const std::string screen = screen_form(program_->output());
    return from < screen.size() ? screen.substr(from) : std::string();
}

run_result MenuRun::quit() {
    press("Q");
    run_result result = program_->wait(20s);
    EXPECT_FALSE(result.timed_out) << "Q did not end the run: " << describe(result);
    EXPECT_EQ(result.status, 0) << describe(result);
    EXPECT_TRUE(unit_->wait_until([](const sim_view& v) { return v.loader_exits > 0; }, 2s))
        << target_.name() << ": no LOADER_EXIT at the end";
    const std::vector<std::string> lines = wire();
    EXPECT_TRUE(!lines.empty() && lines.back() == short_request_line(sub_code::LOADER_EXIT))
        << target_.name() << ": the run must end with LOADER_EXIT; the unit got:\n"
        << ::testing::PrintToString(lines);
    return result;
}

namespace {

template <std::size_t N>
std::string text_of(const char (&field)[N]) {
    return std::string(field, ::strnlen(field, N));
}

}  // namespace

std::string bank_table_text(const unit_memory& memory) {
    std::string table = "  Bank information\n\n";
    for (std::size_t k = 0; k < memory.banks.size(); ++k) {
        const int number = static_cast<int>(k);
        const flash_bank& bank = memory.banks[k];
        if (!bank.fpga.valid() || !bank.software.valid()) {
            table += printed("  Bank %i does not contain valid images\n\n", number);
            continue;
        }
        const image_descriptor& image = bank.fpga.descriptor;
        const image_descriptor& software = bank.software.descriptor;
        table += printed("  Bank %i        : Image                     Software\n", number);
        table += printed("  File name     : %-24s  %s\n", text_of(image.file_name).c_str(),
                         text_of(software.file_name).c_str());
        table += printed("  File date     : %-24s  %s\n", text_of(image.file_date).c_str(),
                         text_of(software.file_date).c_str());
        table += printed("  Download date : %-24s  %s\n", text_of(image.download_date).c_str(),
                         text_of(software.download_date).c_str());
        table += printed("  File CRC      : 0x%-22X  0x%X\n", image.crc, software.crc);
        table += printed("  Flash addr    : 0x%-22X  0x%X\n", image.flash_address,
                         software.flash_address);
        table += printed("  File size     : %-24d  %d\n", static_cast<int>(image.size),
                         static_cast<int>(software.size));
        table += printed("  User          : %-24s  %s\n", text_of(bank.fpga.notes.user).c_str(),
                         text_of(bank.software.notes.user).c_str());
        table += printed("  Comment       : %-24s  %s\n\n",
                         text_of(bank.fpga.notes.comment).c_str(),
                         text_of(bank.software.notes.comment).c_str());
    }
    return table;
}
