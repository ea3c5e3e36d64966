#pragma once

#include "core/unique_fd.h"

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

/// A program the test started, its standard output and error captured through pipes. Killed and reaped
/// when it goes away, so a failed assertion never leaves it running.
class ChildProcess {
public:
    /// Starts `arguments[0]` with `arguments`. With `environment` ("NAME=value" entries) it sees only
    /// those; without, it inherits this process's. Throws std::system_error when it cannot start.
    explicit ChildProcess(std::vector<std::string> arguments,
                          std::optional<std::vector<std::string>> environment = std::nullopt);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    /// The next whole line of standard output without its newline; nullopt when none came within
    /// `timeout` or the output ended first.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    /// Standard error up to its end; waits for the child to close it, so call once it has ended.
    std::string readError();

    void signal(int number);
    /// Its exit code, or -1 when it did not exit normally within `timeout`.
    int exitCode(std::chrono::milliseconds timeout);
    /// SIGKILL, then reaps it (if not already reaped); the wait status.
    int kill();

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
    UniqueFd out_;
    UniqueFd err_;
    /// Output read past the last line handed out.
    std::string pending_;
};
