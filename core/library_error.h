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
        /// An add was stopped on request; what it had begun is undone.
        cancelled = 2,
    };

    explicit LibraryError(Code code)
        : code_(code) {}

    Code code() const { return code_; }
    const char* what() const noexcept override {
        switch (code_) {
        case notFound:
            return "LibraryError.notFound";
        case outsideShare:
            return "LibraryError.outsideShare";
        case cancelled:
            return "LibraryError.cancelled";
        }
        return "LibraryError";
    }

private:
    Code code_;
};
