// Interactive runs driven step by step: the program on a terminal with the simulated unit on
// COM3, one key or a few typed per step, and each step's texts looked for on the screen after
// the point where the step began, so that an earlier screen never answers for a later one.
#pragma once

#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "e2e/e2e_fixture.h"
#include "e2e/program_run.h"
#include "tools/unit_sim/sim_memory.h"

// The screen of a connected unit below the header: status line and menu on a serial link.
std::string connected_menu(int bank, int verbose_level);

// The bank table as the user should see it, from what the unit holds.
std::string bank_table_text(const unit_memory& memory);

// printf into a string, for expected screen lines.
std::string printed(const char* format, ...) __attribute__((format(printf, 1, 2)));

class MenuRun : public EndToEndTest {
protected:
    // A redraw clears the screen first; under wine that runs the command interpreter, which
    // may take seconds on a busy machine.
    std::chrono::milliseconds redraw_wait() const {
        return target_.wine ? std::chrono::milliseconds(20s) : std::chrono::milliseconds(10s);
    }

    // Starts the unit, then the program ("/interface 3" on a terminal, with the rest of
    // `settings`), and waits for the menu of a connected unit in bank 1.
    void start_connected(const sim_unit_options& options, launch_settings settings = {});
    void start_connected() { start_connected(unit_options()); }

    // Where the screen (in its compared form) ends now: later texts are looked for from here.
    std::size_t mark() const;
    // Types keys once the terminal takes single keys.
    void press(std::string_view keys);
    // Waits until `text` shows on the screen at or after `from`; where it starts then, or npos
    // when it did not show within `timeout`.
    std::size_t await_text(std::string_view text, std::size_t from,
                           std::chrono::milliseconds timeout) const;
    // Waits until the texts show one after the other at or after `from`, other output being
    // allowed between them (the receiver thread prints as frames arrive); where the last one
    // starts, or npos.
    std::size_t await_in_order(std::initializer_list<std::string_view> texts, std::size_t from,
                               std::chrono::milliseconds timeout) const;
    // The screen from `from` on, for failure messages.
    std::string screen_from(std::size_t from) const;

    // Presses Q and waits for the end of the run, expecting status 0 and LOADER_EXIT as the
    // last message the unit got.
    run_result quit();

    std::unique_ptr<program_run> program_;
};
