#pragma once

#include "relay/relay_state.h"

#include <filesystem>

/// The one file that holds the relay's whole state. It holds secret digests and device hashes, so it is
/// written with mode 0600.
namespace RelayStateFile {

/// The state in `path`; an empty state when there is no such file. Throws RelayStateError when the file
/// exists but cannot be read or decoded; the file is left as it is.
RelayState load(const std::filesystem::path& path, RelayLimits limits = {});

/// Replaces `path` atomically with `state`. Throws std::filesystem::filesystem_error.
void save(const std::filesystem::path& path, const RelayState& state);

} // namespace RelayStateFile
