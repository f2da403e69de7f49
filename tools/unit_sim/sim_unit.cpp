#include "tools/unit_sim/sim_unit.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <system_error>
#include <unistd.h>

#include "tools/unit_sim/sim_download.h"
#include "tools/unit_sim/sim_samples.h"

namespace fs = std::filesystem;

namespace {

std::optional<sim_clock::time_point> earliest(std::optional<sim_clock::time_point> a,
                                              std::optional<sim_clock::time_point> b) {
    if (!a) {
        return b;
    }
    if (!b) {
        return a;
    }
    return std::min(*a, *b);
}

// ppoll() time-out: none when nothing is due. Exact to the nanosecond, so that a byte leaves
// when a real line would let it go, not up to a millisecond late.
std::optional<timespec> poll_timeout(std::optional<sim_clock::time_point> wake,
                                     sim_clock::time_point now) {
    if (!wake) {
        return std::nullopt;
    }
    const auto left = std::max(sim_clock::duration::zero(), *wake - now);
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    wait.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    return wait;
}

// The core a unit starts with. The core stores the usual factory images; a unit with images
// of its own gets its variant of them instead, with the preloads again on top.
unit_core starting_core(const sim_unit_options& options, sim_clock::time_point start) {
    unit_core core(options, start);
    if (options.image_variant != 0) {
        unit_memory& memory = core.view().memory;
        memory = factory_memory(options.image_variant);
        for (const image_preload& preload : options.preloads) {
            preload_image(memory, preload);
        }
    }
    return core;
}

}  // namespace

sim_unit::sim_unit(sim_unit_options options)
    : options_(std::move(options)), core_(starting_core(options_, sim_clock::now())) {}

sim_unit::~sim_unit() { stop(); }

void sim_unit::start() {
    if (started_) {
        throw std::logic_error("the simulated unit has already been started");
    }
    started_ = true;
    link_path_ = options_.link_dir / ("COM" + std::to_string(options_.port));
    if (options_.wine_prefix) {
        const fs::path devices = *options_.wine_prefix / "dosdevices";
        std::error_code error;
        if (!fs::is_directory(devices, error)) {
            throw std::runtime_error(options_.wine_prefix->string() +
                                     " is not a wine prefix: it has no dosdevices folder");
        }
        wine_link_path_ = devices / ("com" + std::to_string(options_.port));
    }
    std::error_code error;
    if (!fs::is_directory(options_.link_dir, error)) {
        throw std::runtime_error("the link folder " + options_.link_dir.string() +
                                 " does not exist");
    }

    open_port();
    try {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
            throw std::system_error(errno, std::generic_category(), "cannot create a pipe");
        }
        wake_read_ = ends[0];
        wake_write_ = ends[1];
    } catch (...) {
        release_port();
        throw;
    }

    {
        const std::lock_guard<std::mutex> lock(mutex_);
        core_ = starting_core(options_, sim_clock::now());
        core_.set_line(true);
        line_ = port_.master();
    }
    worker_ = std::thread(&sim_unit::run, this);
}

void sim_unit::reconnect() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (!worker_.joinable() || stop_requested_) {
            throw std::logic_error("the simulated unit is not running");
        }
        if (core_.view().port_open) {
            throw std::logic_error("the port of the simulated unit is in place: pull it first");
        }
    }
    // The worker leaves the port alone while it is pulled.
    open_port();
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        core_.set_line(true);
        line_ = port_.master();
    }
    wake();
    changed_.notify_all();
}

void sim_unit::open_port() {
    port_.open();
    pty_path_ = port_.slave_path();
    try {
        make_port_link(link_path_, pty_path_);
        if (!wine_link_path_.empty()) {
            make_port_link(wine_link_path_, pty_path_);
        }
    } catch (...) {
        release_port();
        throw;
    }
}

void sim_unit::release_port() noexcept {
    port_.close();
    remove_port_link(link_path_, pty_path_);
    if (!wine_link_path_.empty()) {
        remove_port_link(wine_link_path_, pty_path_);
    }
}

void sim_unit::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_requested_ = true;
    }
    wake();
    if (worker_.joinable()) {
        worker_.join();
    }
    release_port();
    for (int* fd : {&wake_read_, &wake_write_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    core_.set_line(false);
    line_ = -1;
}

void sim_unit::disconnect() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!worker_.joinable() || !core_.view().port_open) {
        lock.unlock();
        release_port();
        lock.lock();
        core_.set_line(false);
        line_ = -1;
        return;
    }
    disconnect_requested_ = true;
    wake();
    changed_.wait(lock, [this] { return !core_.view().port_open; });
}

void sim_unit::wake() const noexcept {
    if (wake_write_ >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_write_, &byte, 1);
    }
}

bool sim_unit::wait_until(const std::function<bool(const sim_view&)>& condition,
                          std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return condition(core_.view()); });
}

sim_view sim_unit::snapshot() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return core_.view();
}

std::vector<received_item> sim_unit::received() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return core_.view().received;
}

std::uint8_t sim_unit::current_bank() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return core_.view().current_bank;
}

unit_mode sim_unit::mode() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return core_.view().mode;
}

unit_memory sim_unit::memory() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return core_.view().memory;
}

void sim_unit::clear_received() {
    const std::lock_guard<std::mutex> lock(mutex_);
    core_.view().received.clear();
}

void sim_unit::set_faults(const sim_faults& faults) {
    const std::lock_guard<std::mutex> lock(mutex_);
    core_.set_faults(faults);
}

// The worker: takes in what has arrived by now, in time order with the reboot steps, writes
// what is due, and sleeps in poll() until the next byte, step or piece is due or the line or
// the wake pipe has something. While the port is pulled it runs the reboot steps alone.
void sim_unit::run() {
    receive_queue incoming(options_.pacing);
    transmit_queue outgoing(options_.pacing);
    std::array<std::uint8_t, 4096> buffer{};
    std::vector<std::uint8_t> piece;

    for (;;) {
        const sim_clock::time_point now = sim_clock::now();
        std::optional<sim_clock::time_point> wake_at;
        bool leave = false;
        bool pull_plug = false;
        int master = -1;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            leave = stop_requested_;
            pull_plug = disconnect_requested_;
            master = line_;
            if (!leave && !pull_plug) {
                while (!incoming.empty() && incoming.due(0) <= now) {
                    const auto [byte, at] = incoming.pop();
                    core_.run_timers(at);
                    core_.receive(byte, at);
                }
                core_.run_timers(now);
                for (const timed_bytes& out : core_.take_output()) {
                    outgoing.push(out.bytes, out.at);
                }
                wake_at = core_.next_timer();
                if (!incoming.empty()) {
                    const std::size_t needed = std::min(core_.bytes_needed(), incoming.size());
                    wake_at = earliest(wake_at, incoming.due(needed - 1));
                }
            }
        }
        changed_.notify_all();
        if (leave) {
            return;
        }
        if (pull_plug) {
            release_port();
            // Bytes on their way in either direction are lost with the line.
            incoming = receive_queue(options_.pacing);
            outgoing = transmit_queue(options_.pacing);
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                core_.set_line(false);
                line_ = -1;
                disconnect_requested_ = false;
            }
            changed_.notify_all();
            continue;
        }

        bool blocked = false;
        const std::size_t ready = master >= 0 ? outgoing.ready(now) : 0;
        if (ready > 0) {
            piece.clear();
            for (std::size_t i = 0; i < ready; ++i) {
                piece.push_back(outgoing.at(i));
            }
            const ssize_t n = ::write(master, piece.data(), piece.size());
            if (n > 0) {
                outgoing.written(static_cast<std::size_t>(n));
            }
            blocked = n < 0 ? (errno == EAGAIN || errno == EINTR)
                            : static_cast<std::size_t>(n) < piece.size();
            if (n < 0 && !blocked) {
                // The line cannot take anything (it should not happen while the slave end is
                // held open): what waits is lost, as on a broken cable.
                outgoing.written(ready);
            }
        }
        if (!blocked) {
            wake_at = earliest(wake_at, outgoing.next_wake());
        }

        // poll() leaves out an entry whose descriptor is negative: the line while pulled.
        std::array<pollfd, 2> fds = {{{master, POLLIN, 0}, {wake_read_, POLLIN, 0}}};
        if (blocked) {
            fds[0].events |= POLLOUT;
        }
        std::optional<timespec> wait = poll_timeout(wake_at, sim_clock::now());
        if (::ppoll(fds.data(), fds.size(), wait ? &*wait : nullptr, nullptr) < 0) {
            continue;  // interrupted by a signal: look again
        }
        if ((fds[1].revents & POLLIN) != 0) {
            char drain[64];
            while (::read(wake_read_, drain, sizeof drain) > 0) {
            }
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const sim_clock::time_point arrival = sim_clock::now();
            ssize_t n = 0;
            while ((n = ::read(master, buffer.data(), buffer.size())) > 0) {
                incoming.arrive(
                    std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)),
                    arrival);
            }
        }
    }
}
