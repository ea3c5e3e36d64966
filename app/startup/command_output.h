#pragma once

#include <string>

/// Where a command's answer goes: this process's terminal, or that of a later start over the socket.
class CommandOutput {
public:
    virtual ~CommandOutput() = default;

    /// Text for standard output; a line break is added.
    virtual void print(const std::string& text) = 0;
    /// Text for standard error; a line break is added.
    virtual void warn(const std::string& text) = 0;
    /// The command is over with this exit status; nothing is printed after it.
    virtual void finish(int status) = 0;
    /// Whether anyone still reads: a receive stops reporting once its terminal is gone.
    virtual bool isOpen() const = 0;
};
