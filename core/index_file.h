#pragma once

#include "library.h"

#include <stdexcept>
#include <string>
#include <string_view>

/// The index file "library.json": the whole library as one pretty-printed JSON object with sorted
/// keys, dates as seconds since 2001-01-01 00:00:00 UTC, and absent values left out.
namespace IndexFile {

/// The index cannot be decoded: bad JSON, a wrong type, a missing required key, an unknown kind or
/// duration, or a share target without exactly one case.
class DecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The text of the index file for `library`.
std::string encode(const Library& library);

/// The library an index file holds. Unknown keys are ignored and null optionals read as absent.
/// Throws DecodeError.
Library decode(std::string_view text);

} // namespace IndexFile
