#pragma once

#include <cstdlib>
#include <optional>
#include <string>

/// An environment variable a test changes, put back as it was when the object goes.
class ScopedEnv {
public:
    explicit ScopedEnv(const char* name)
        : name_(name) {
        if (const char* value = std::getenv(name)) {
            saved_ = value;
        }
    }
    /// Sets the variable at once.
    ScopedEnv(const char* name, const std::string& value)
        : ScopedEnv(name) {
        set(value);
    }
    ~ScopedEnv() {
        if (saved_) {
            ::setenv(name_, saved_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void set(const std::string& value) { ::setenv(name_, value.c_str(), 1); }

private:
    const char* name_;
    std::optional<std::string> saved_;
};
