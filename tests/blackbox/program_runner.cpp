#include "blackbox/program_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace {

std::string env_or_empty(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

// msvcrt writes "\n" as "\r\n" to a pipe; the program's own text has no "\r\n" of its own
// ("\n\r" stays "\n\r" after the round trip), so the translation is undone exactly.
std::string undo_text_mode(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

struct pipe_pair {
    int fd[2]{-1, -1};
    pipe_pair() {
        if (pipe(fd) != 0) {
            throw std::runtime_error("pipe failed");
        }
    }
    ~pipe_pair() {
        for (int f : fd) {
            if (f >= 0) {
                close(f);
            }
        }
    }
    void close_end(int which) {
        if (fd[which] >= 0) {
            close(fd[which]);
            fd[which] = -1;
        }
    }
};

}  // namespace

bool target_is_wine() { return env_or_empty("KESTREL_TARGET") == "wine"; }

std::string target_name() { return target_is_wine() ? "wine" : "native"; }

program_result run_kestrel(const std::vector<std::string>& args, const run_options& options) {
    const std::string exe = env_or_empty("KESTREL_EXE");
    if (exe.empty()) {
        throw std::runtime_error("KESTREL_EXE is not set");
    }
    std::vector<std::string> argv_text;
    if (target_is_wine()) {
        argv_text.push_back(env_or_empty("WINE"));
    }
    argv_text.push_back(exe);
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    pipe_pair in, out, err;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in.fd[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err.fd[1], 2);
    for (int f : {in.fd[0], in.fd[1], out.fd[0], out.fd[1], err.fd[0], err.fd[1]}) {
        posix_spawn_file_actions_addclose(&actions, f);
    }
    if (!options.working_directory.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, options.working_directory.c_str());
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // Its own process group, so that a hung run can be ended with everything it started.
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        throw std::runtime_error("cannot start " + argv_text[0]);
    }
    in.close_end(0);
    out.close_end(1);
    err.close_end(1);
    if (!options.input.empty()) {
        signal(SIGPIPE, SIG_IGN);
        [[maybe_unused]] const auto n = write(in.fd[1], options.input.data(), options.input.size());
    }
    in.close_end(1);

    program_result result;
    // Wine may leave helper processes that hold the pipes open, so the run is over when the
    // program itself has ended, not when its pipes close.
    fcntl(out.fd[0], F_SETFL, O_NONBLOCK);
    fcntl(err.fd[0], F_SETFL, O_NONBLOCK);
    const auto drain = [&]() {
        char buffer[4096];
        for (int k = 0; k < 2; ++k) {
            const int fd = k == 0 ? out.fd[0] : err.fd[0];
            ssize_t n;
            while ((n = read(fd, buffer, sizeof buffer)) > 0) {
                (k == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            }
        }
    };
    const auto deadline = std::chrono::steady_clock::now() + options.timeout;
    int wait_status = 0;
    for (;;) {
        pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {err.fd[0], POLLIN, 0}};
        poll(fds, 2, 20);
        drain();
        const pid_t done = waitpid(pid, &wait_status, WNOHANG);
        if (done == pid) {
            drain();
            break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            result.timed_out = true;
            kill(-pid, SIGKILL);
            while (waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
            }
            drain();
            break;
        }
    }
    if (WIFEXITED(wait_status)) {
        result.status = WEXITSTATUS(wait_status);
    } else if (WIFSIGNALED(wait_status)) {
        result.status = 128 + WTERMSIG(wait_status);
    }
    if (target_is_wine()) {
        result.out = undo_text_mode(result.out);
    }
    return result;
}
