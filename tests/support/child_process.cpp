#include "support/child_process.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> result;
    for (auto& text : strings) {
        result.push_back(text.data());
    }
    result.push_back(nullptr);
    return result;
}

/// A pipe whose ends close on exec, so no other child started meanwhile holds them open.
std::pair<UniqueFd, UniqueFd> makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::system_error(errno, std::generic_category(), "pipe2");
    }
    return {UniqueFd(fds[0]), UniqueFd(fds[1])};
}

/// RAII for the spawn file actions, which own memory of their own.
class FileActions {
public:
    FileActions() { posix_spawn_file_actions_init(&actions_); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions_); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

} // namespace

ChildProcess::ChildProcess(std::vector<std::string> arguments,
                           std::optional<std::vector<std::string>> environment) {
    auto [outRead, outWrite] = makePipe();
    auto [errRead, errWrite] = makePipe();
    FileActions actions;
    // dup2 clears close-on-exec on the copies, so only descriptors 1 and 2 reach the child.
    posix_spawn_file_actions_adddup2(actions.get(), outWrite.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(actions.get(), errWrite.get(), STDERR_FILENO);
    auto argv = pointers(arguments);
    std::vector<char*> envp;
    if (environment) {
        envp = pointers(*environment);
    }
    const int error = ::posix_spawn(&pid_, argv.front(), actions.get(), nullptr, argv.data(),
                                    environment ? envp.data() : environ);
    if (error != 0) {
        pid_ = -1;
        throw std::system_error(error, std::generic_category(), "posix_spawn " + arguments.front());
    }
    out_ = std::move(outRead);
    err_ = std::move(errRead);
}

ChildProcess::~ChildProcess() {
    kill();
}

std::optional<std::string> ChildProcess::readLine(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (const auto end = pending_.find('\n'); end != std::string::npos) {
            std::string line = pending_.substr(0, end);
            pending_.erase(0, end + 1);
            return line;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd p{out_.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return std::nullopt;
        }
        char buffer[4096];
        const ssize_t got = ::read(out_.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return std::nullopt;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

std::string ChildProcess::readError() {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(err_.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return text;
        }
        text.append(buffer, static_cast<std::size_t>(got));
    }
}

void ChildProcess::signal(int number) {
    if (!status_) {
        ::kill(pid_, number);
    }
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!status_) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = status;
        } else if (std::chrono::steady_clock::now() >= until) {
            break;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return status_;
}

int ChildProcess::exitCode(std::chrono::milliseconds timeout) {
    const auto status = wait(timeout);
    return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

int ChildProcess::kill() {
    if (!status_ && pid_ > 0) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        status_ = status;
    }
    return status_.value_or(0);
}
