#pragma once

#include "relay/store/relay_store.h"

#include <filesystem>
#include <optional>
#include <stdexcept>

/// A state file that cannot be read or decoded.
class RelayStateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// The single JSON file an earlier tesk-relay kept its whole state in, read once into a store.
namespace RelayStateImport {

/// The Macs of such a file's text, by id. Throws RelayStateError when `text` is not such a document.
std::map<std::string, RelayMacRecord> decode(std::string_view text);

/// Adds every Mac of the file at `path` that `store` does not hold yet, in one transaction, then
/// renames the file to "<path>.imported-<now>", as it was; the new name, or nothing when there is no
/// file. A second run after a crash between the two steps adds nothing twice. Throws RelayStateError
/// when the file cannot be read or decoded (it is left as it is), RelayStoreError, or
/// std::filesystem::filesystem_error.
std::optional<std::filesystem::path> importFile(RelayStore& store, const std::filesystem::path& path,
                                                std::int64_t now);

} // namespace RelayStateImport
