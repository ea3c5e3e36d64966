#include "support/child_process.h"

#include <algorithm>
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

/// Appends what one read of `fd` brings to `text`; false at its end (or on an error other than EINTR).
bool readInto(int fd, std::string& text) {
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) < 0 && errno == EINTR) {
    }
    text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    return got > 0;
}

} // namespace

ChildProcess::ChildProcess(std::vector<std::string> arguments,
                           std::optional<std::vector<std::string>> environment) {
    auto [outRead, outWrite] = makePipe();
    auto [errRead, errWrite] = makePipe();
    auto argv = pointers(arguments);
    auto envp = environment ? pointers(*environment) : std::vector<char*>();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // dup2 clears close-on-exec on the copies, so only descriptors 1 and 2 reach the child.
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errWrite.get(), STDERR_FILENO);
    const int error = ::posix_spawn(&pid_, argv.front(), &actions, nullptr, argv.data(),
                                    environment ? envp.data() : environ);
    posix_spawn_file_actions_destroy(&actions);
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
        if (ready <= 0 || !readInto(out_.get(), pending_)) {
            return std::nullopt;
        }
    }
}

std::string ChildProcess::readError() {
    std::string text;
    while (readInto(err_.get(), text)) {
    }
    return text;
}

void ChildProcess::signal(int number) {
    if (!status_) {
        ::kill(pid_, number);
    }
}

int ChildProcess::exitCode(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!status_) {
        if (int status = 0; ::waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = status;
        } else if (std::chrono::steady_clock::now() >= until) {
            break;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return status_ && WIFEXITED(*status_) ? WEXITSTATUS(*status_) : -1;
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
