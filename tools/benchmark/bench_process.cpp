#include "tools/benchmark/bench_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

namespace {

double seconds_of(const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// In the child between fork and exec only async-signal-safe calls are allowed (the parent has
// other threads): everything it needs is prepared before the fork.
[[noreturn]] void exec_child(const char* dir, const char* out, const char* err, char* const* argv,
                             int report_fd) {
    int code = 0;
    const auto fail = [&] {
        code = errno;
        [[maybe_unused]] const ssize_t n = ::write(report_fd, &code, sizeof code);
        ::_exit(127);
    };
    if (::chdir(dir) != 0) {
        fail();
    }
    const int in_fd = ::open("/dev/null", O_RDONLY);
    const int out_fd = ::open(out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = ::open(err, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in_fd < 0 || out_fd < 0 || err_fd < 0 || ::dup2(in_fd, 0) < 0 || ::dup2(out_fd, 1) < 0 ||
        ::dup2(err_fd, 2) < 0) {
        fail();
    }
    // Nothing of the parent's (the simulated unit's end of the line among them) stays open in
    // the program but the report pipe, which closes on exec.
    for (int fd = 3; fd < 1024; ++fd) {
        if (fd != report_fd) {
            ::close(fd);
        }
    }
    ::execv(argv[0], argv);
    fail();
    ::_exit(127);
}

}  // namespace

child_run run_child(const std::filesystem::path& program, const std::vector<std::string>& args,
                    const std::filesystem::path& work_dir, const std::filesystem::path& out_file,
                    const std::filesystem::path& err_file, std::chrono::seconds limit) {
    child_run run;
    std::vector<std::string> words;
    words.push_back(program.string());
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    const std::string dir = work_dir.string();
    const std::string out = out_file.string();
    const std::string err = err_file.string();

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) {
        run.error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return run;
    }
    const auto started_at = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) {
        run.error = std::string("cannot fork: ") + std::strerror(errno);
        ::close(report[0]);
        ::close(report[1]);
        return run;
    }
    if (pid == 0) {
        ::close(report[0]);
        exec_child(dir.c_str(), out.c_str(), err.c_str(), argv.data(), report[1]);
    }
    ::close(report[1]);
    // The pipe closes on a successful exec; before that the child reports why it failed.
    int code = 0;
    ssize_t got = 0;
    while ((got = ::read(report[0], &code, sizeof code)) < 0 && errno == EINTR) {
    }
    ::close(report[0]);
    if (got == static_cast<ssize_t>(sizeof code)) {
        run.error = "cannot run " + program.string() + ": " + std::strerror(code);
        int status = 0;
        ::waitpid(pid, &status, 0);
        return run;
    }
    run.started = true;

    const auto deadline = started_at + limit;
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = ::wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            run.error = std::string("cannot wait for the program: ") + std::strerror(errno);
            return run;
        }
        if (std::chrono::steady_clock::now() >= deadline && !run.timed_out) {
            run.timed_out = true;
            ::kill(pid, SIGKILL);
        }
        // Polled rather than blocked on, for the time limit; the wall time is only context.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.wall_seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started_at).count();
    run.user_seconds = seconds_of(usage.ru_utime);
    run.system_seconds = seconds_of(usage.ru_stime);
    if (WIFEXITED(status)) {
        run.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run.exit_status = 128 + WTERMSIG(status);
    }
    return run;
}

double own_cpu_seconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
}
