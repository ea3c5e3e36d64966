#pragma once

#include <exception>

/// A failure of the store that callers tell apart from file-system errors.
class LibraryError : public std::exception {
public:
    enum Code {
        /// A source file, bundle or device is missing, or nothing was stored.
        notFound = 0,
        /// An upload names a folder the share does not cover.
        outsideShare = 1,
    };

    explicit LibraryError(Code code)
        : code_(code) {}

    Code code() const { return code_; }
    const char* what() const noexcept override {
        return code_ == notFound ? "LibraryError.notFound" : "LibraryError.outsideShare";
    }

private:
    Code code_;
};
