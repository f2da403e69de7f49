// The simulated unit: an emulation of the unit's boot loader that speaks the loader protocol
// over a pseudo-terminal, reachable by the program as the serial port COM<n> through a
// symbolic link. One worker thread reads the line, answers and writes at line rate; tests
// watch what it received and what it stores through thread-safe copies and wait_until().
// start(), stop(), disconnect() and reconnect() are called from one thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tools/unit_sim/sim_core.h"
#include "tools/unit_sim/sim_options.h"
#include "tools/unit_sim/sim_pty.h"
#include "tools/unit_sim/sim_view.h"

class sim_unit {
public:
    explicit sim_unit(sim_unit_options options);
    ~sim_unit();
    sim_unit(const sim_unit&) = delete;
    sim_unit& operator=(const sim_unit&) = delete;

    // Creates the pseudo-terminal and the links and starts the worker. Throws
    // std::runtime_error (or std::system_error) with a text for the user; nothing is left
    // behind then. Only once per object.
    void start();
    // Ends the worker, closes the line and removes the links. Safe to call more than once.
    void stop();
    // Pulls the plug while the program may still have the port open: closes both ends of the
    // line and removes the links. The unit runs on (its reboots complete) but takes in nothing
    // more, and what it would send is lost. Waits until done.
    void disconnect();
    // Puts a pulled port back: a fresh pseudo-terminal (pty_path() changes) under the same
    // links. The unit takes up the new line as it is, with what it stores, its bank and its
    // line mode; it sends nothing of its own accord. Throws std::logic_error unless the unit
    // runs with its port pulled, and like start() when the line cannot be made; the port then
    // stays pulled and nothing is left behind.
    void reconnect();

    // "<link folder>/COM<n>"; and "<prefix>/dosdevices/com<n>", or empty without a prefix.
    const std::filesystem::path& link_path() const noexcept { return link_path_; }
    const std::filesystem::path& wine_link_path() const noexcept { return wine_link_path_; }
    // The slave side, e.g. "/dev/pts/7"; empty before start().
    const std::string& pty_path() const noexcept { return pty_path_; }

    // Waits until `condition` holds for the unit's state, or the time is up; true if it held.
    // The condition runs with the state locked: it must not call into this object.
    bool wait_until(const std::function<bool(const sim_view&)>& condition,
                    std::chrono::milliseconds timeout) const;

    // Copies, each taken at one instant.
    sim_view snapshot() const;
    std::vector<received_item> received() const;
    std::uint8_t current_bank() const;
    unit_mode mode() const;
    unit_memory memory() const;

    // Forgets what was received so far (the counters stay).
    void clear_received();
    // Changes the faults from now on; wrong_block_once is armed afresh when set.
    void set_faults(const sim_faults& faults);

private:
    void run();
    void wake() const noexcept;
    // A fresh pseudo-terminal under the links; on failure nothing is left behind.
    void open_port();
    void release_port() noexcept;

    sim_unit_options options_;
    std::filesystem::path link_path_;
    std::filesystem::path wine_link_path_;
    std::string pty_path_;
    pty_port port_;
    int line_ = -1;  // the master end the worker serves, -1 while pulled; guarded by mutex_
    int wake_read_ = -1;
    int wake_write_ = -1;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    unit_core core_;                    // guarded by mutex_
    bool stop_requested_ = false;       // guarded by mutex_
    bool disconnect_requested_ = false; // guarded by mutex_
    bool started_ = false;
    std::thread worker_;
};
