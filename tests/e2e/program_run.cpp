#include "e2e/program_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <system_error>

#include "e2e/screen_text.h"

extern char** environ;

using namespace std::chrono_literals;

namespace {

// A file descriptor closed when it goes out of scope unless released.
class descriptor {
public:
    descriptor() = default;
    explicit descriptor(int fd) : fd_(fd) {}
    ~descriptor() { reset(); }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;

    int get() const noexcept { return fd_; }
    int release() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) noexcept {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

struct pipe_ends {
    descriptor read;
    descriptor write;
};

void make_pipe(pipe_ends& ends) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "cannot create a pipe");
    }
    ends.read.reset(fds[0]);
    ends.write.reset(fds[1]);
}

// The name part of a "NAME=value" entry, with its '='.
std::string_view name_of(std::string_view entry) {
    const std::size_t equals = entry.find('=');
    return equals == std::string_view::npos ? entry : entry.substr(0, equals + 1);
}

// The test's own environment; under wine with the prefix of the run and the loader quiet; and
// the run's own entries, which replace those of the same name.
std::vector<std::string> environment_for(const program_target& target,
                                         const std::vector<std::string>& extra) {
    const auto replaced = [&](std::string_view text) {
        for (const std::string& entry : extra) {
            if (name_of(entry) == name_of(text)) {
                return true;
            }
        }
        return target.wine && (text.starts_with("WINEPREFIX=") || text.starts_with("WINEDEBUG="));
    };
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        if (!replaced(text)) {
            result.emplace_back(text);
        }
    }
    if (target.wine) {
        result.push_back("WINEPREFIX=" + target.prefix);
        result.push_back("WINEDEBUG=-all");
    }
    result.insert(result.end(), extra.begin(), extra.end());
    return result;
}

std::vector<char*> null_terminated(std::vector<std::string>& texts) {
    std::vector<char*> result;
    for (auto& text : texts) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

// posix_spawn's settings, released on every way out.
struct spawn_settings {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
    spawn_settings() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~spawn_settings() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    spawn_settings(const spawn_settings&) = delete;
    spawn_settings& operator=(const spawn_settings&) = delete;
};

double seconds_of(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

}  // namespace

program_run::program_run(const program_target& target, const launch_settings& settings)
    : text_mode_pipes_(target.wine && settings.console != console_mode::terminal) {
    // Typing into a program that has already gone must fail with an error, not end the test.
    ::signal(SIGPIPE, SIG_IGN);

    pipe_ends error_pipe;
    pipe_ends output_pipe;
    pipe_ends input_pipe;
    pipe_ends stop_pipe;
    make_pipe(error_pipe);
    make_pipe(stop_pipe);

    spawn_settings spawn;
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&spawn.attributes, &none);
    sigset_t defaults;  // SIGPIPE is ignored here; the program gets the usual dispositions
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGHUP);
    posix_spawnattr_setsigdefault(&spawn.attributes, &defaults);

    if (!settings.working_directory.empty()) {
        posix_spawn_file_actions_addchdir_np(&spawn.actions, settings.working_directory.c_str());
    }
    if (settings.console == console_mode::terminal) {
        terminal_ = std::make_unique<pseudo_terminal>(settings.terminal_rows,
                                                      settings.terminal_columns);
        if (settings.terminal_setup) {
            // On Linux the master reaches the settings of the terminal pair.
            termios wanted{};
            if (::tcgetattr(terminal_->master(), &wanted) != 0) {
                throw std::system_error(errno, std::generic_category(),
                                        "cannot read the terminal's settings");
            }
            settings.terminal_setup(wanted);
            if (::tcsetattr(terminal_->master(), TCSANOW, &wanted) != 0) {
                throw std::system_error(errno, std::generic_category(),
                                        "cannot change the terminal's settings");
            }
        }
        terminal_at_start_ = terminal_settings();
        // A session of its own whose controlling terminal is the slave, opened first after
        // setsid(), as a terminal window's shell would have it.
        flags |= POSIX_SPAWN_SETSID;
        posix_spawn_file_actions_addopen(&spawn.actions, 0, terminal_->slave_path().c_str(),
                                         O_RDWR, 0);
        posix_spawn_file_actions_adddup2(&spawn.actions, 0, 1);
    } else {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&spawn.attributes, 0);
        make_pipe(output_pipe);
        if (settings.console == console_mode::input_pipe) {
            make_pipe(input_pipe);
            posix_spawn_file_actions_adddup2(&spawn.actions, input_pipe.read.get(), 0);
        } else {
            posix_spawn_file_actions_addopen(&spawn.actions, 0, "/dev/null", O_RDONLY, 0);
        }
        posix_spawn_file_actions_adddup2(&spawn.actions, output_pipe.write.get(), 1);
    }
    posix_spawn_file_actions_adddup2(&spawn.actions, error_pipe.write.get(), 2);
    posix_spawnattr_setflags(&spawn.attributes, flags);

    std::vector<std::string> argv_text = settings.command_prefix;
    for (std::string& word : target.command(settings.args)) {
        argv_text.push_back(std::move(word));
    }
    std::vector<std::string> env_text = environment_for(target, settings.environment);
    const std::vector<char*> argv = null_terminated(argv_text);
    const std::vector<char*> envp = null_terminated(env_text);
    started_ = std::chrono::steady_clock::now();
    const int failed =
        ::posix_spawn(&pid_, argv[0], &spawn.actions, &spawn.attributes, argv.data(), envp.data());
    if (failed != 0) {
        throw std::system_error(failed, std::generic_category(), "cannot start " + argv_text[0]);
    }

    if (terminal_) {
        output_ = ::fcntl(terminal_->master(), F_DUPFD_CLOEXEC, 0);
    } else {
        output_ = output_pipe.read.release();
        input_ = input_pipe.write.release();
    }
    errors_ = error_pipe.read.release();
    stop_read_ = stop_pipe.read.release();
    stop_write_ = stop_pipe.write.release();
    collector_ = std::thread(&program_run::collect, this);
}

program_run::~program_run() {
    if (!reaped_) {
        kill_group();
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
    }
    stop_collecting();
    for (int* fd : {&input_, &output_, &errors_, &stop_read_, &stop_write_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void program_run::kill_group() noexcept {
    if (pid_ > 0 && !reaped_) {
        ::kill(-pid_, SIGKILL);
    }
}

void program_run::collect() {
    int sources[2] = {output_, errors_};
    std::string* sinks[2] = {&out_, &err_};
    bool open[2] = {sources[0] >= 0, sources[1] >= 0};
    char buffer[4096];
    while (open[0] || open[1]) {
        pollfd fds[3] = {{stop_read_, POLLIN, 0}, {-1, POLLIN, 0}, {-1, POLLIN, 0}};
        for (int k = 0; k < 2; ++k) {
            fds[k + 1].fd = open[k] ? sources[k] : -1;  // poll() skips negative descriptors
        }
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        for (int k = 0; k < 2; ++k) {
            if (!open[k] || fds[k + 1].revents == 0) {
                continue;
            }
            const ssize_t n = ::read(sources[k], buffer, sizeof buffer);
            if (n > 0) {
                const std::lock_guard<std::mutex> lock(mutex_);
                sinks[k]->append(buffer, static_cast<std::size_t>(n));
                arrived_.notify_all();
            } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
                // End of the pipe, or EIO from a terminal whose slave every process has closed.
                open[k] = false;
            }
        }
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    collecting_ = false;
    arrived_.notify_all();
}

void program_run::stop_collecting() {
    if (collector_.joinable()) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(stop_write_, &byte, 1);
        collector_.join();
    }
}

bool program_run::type(std::string_view keys) {
    const int fd = terminal_ ? terminal_->master() : input_;
    if (fd < 0) {
        throw std::logic_error("this run has no input to type into");
    }
    while (!keys.empty()) {
        const ssize_t n = ::write(fd, keys.data(), keys.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        keys.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool program_run::wait_for_single_keys(std::chrono::milliseconds timeout) const {
    if (!terminal_) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // On Linux the master reports the settings of the terminal pair.
        termios settings{};
        if (::tcgetattr(terminal_->master(), &settings) == 0 && (settings.c_lflag & ICANON) == 0) {
            return true;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
}

std::optional<termios> program_run::terminal_settings() const {
    termios settings{};
    if (!terminal_ || ::tcgetattr(terminal_->master(), &settings) != 0) {
        return std::nullopt;
    }
    return settings;
}

std::string program_run::output() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return out_;
}

bool program_run::wait_for_output(const std::function<bool(const std::string&)>& condition,
                                  std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, timeout, [&] { return !collecting_ || condition(out_); });
    return condition(out_);
}

bool program_run::running() const {
    if (reaped_) {
        return false;
    }
    // Looks without collecting the end, which wait() reports.
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        return false;
    }
    return info.si_pid == 0;
}

std::optional<double> program_run::cpu_seconds() const {
    if (!running()) {
        return std::nullopt;
    }
    const std::string path = "/proc/" + std::to_string(pid_) + "/stat";
    descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    char buffer[1024] = {};
    const ssize_t n = file.get() >= 0 ? ::read(file.get(), buffer, sizeof buffer - 1) : -1;
    if (n <= 0) {
        return std::nullopt;
    }
    // The command name in parentheses may hold blanks; the fields after it do not. utime and
    // stime, in clock ticks, are fields 14 and 15: the 12th and 13th after the name.
    const char* cursor = std::strrchr(buffer, ')');
    unsigned long long ticks = 0;
    for (int k = 0; k <= 13 && cursor != nullptr; ++k) {
        if (k >= 12) {
            char* end = nullptr;
            ticks += std::strtoull(cursor, &end, 10);
            if (end == cursor) {
                return std::nullopt;
            }
        }
        cursor = std::strchr(cursor + 1, ' ');
        while (cursor != nullptr && *cursor == ' ') {
            ++cursor;
        }
    }
    if (cursor == nullptr) {
        return std::nullopt;
    }
    return static_cast<double>(ticks) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

run_result program_run::wait(std::chrono::milliseconds timeout) {
    run_result result;
    int status = 0;
    rusage usage{};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!reaped_) {
        const pid_t done = ::wait4(pid_, &status, WNOHANG, &usage);
        if (done == pid_) {
            reaped_ = true;
        } else if (done < 0 && errno != EINTR) {
            throw std::system_error(errno, std::generic_category(), "cannot wait for the program");
        } else if (std::chrono::steady_clock::now() > deadline) {
            result.timed_out = true;
            kill_group();
            while (::wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
            }
            reaped_ = true;
        } else {
            std::this_thread::sleep_for(5ms);
        }
    }
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started_);
    result.cpu_seconds = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);

    // Output still on its way: take it until every source has ended, or until it has been
    // quiet for a moment (wine's helper processes may keep the pipes open), at most 2 s.
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto give_up = std::chrono::steady_clock::now() + 2s;
        for (;;) {
            const std::size_t seen = out_.size() + err_.size();
            arrived_.wait_for(lock, 300ms, [&] { return !collecting_; });
            if (!collecting_ || out_.size() + err_.size() == seen ||
                std::chrono::steady_clock::now() > give_up) {
                break;
            }
        }
    }
    stop_collecting();
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        result.out = text_mode_pipes_ ? undo_text_mode(out_) : out_;
        result.err = err_;
    }
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.status = 128 + WTERMSIG(status);
    }
    return result;
}
