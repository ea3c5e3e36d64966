#pragma once

#include "app/startup/command_output.h"

#include <functional>
#include <iostream>

/// A command's answer on this process's own terminal.
class ConsoleOutput : public CommandOutput {
public:
    /// `onFinish` gets the exit status when the command is over.
    explicit ConsoleOutput(std::function<void(int)> onFinish = {})
        : onFinish_(std::move(onFinish)) {}

    void print(const std::string& text) override { std::cout << text << std::endl; }
    void warn(const std::string& text) override { std::cerr << text << std::endl; }
    void finish(int status) override {
        if (onFinish_) {
            onFinish_(status);
        }
    }
    bool isOpen() const override { return true; }

private:
    std::function<void(int)> onFinish_;
};
