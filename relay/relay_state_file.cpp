#include "relay/relay_state_file.h"

#include "core/atomic_file.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace RelayStateFile {

RelayState load(const fs::path& path, RelayLimits limits) {
    std::error_code error;
    const auto status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
        return RelayState(limits);
    }
    if (error) {
        throw RelayStateError("cannot read " + path.string() + ": " + error.message());
    }
    if (!fs::is_regular_file(status)) {
        throw RelayStateError(path.string() + " is not a regular file");
    }
    std::ifstream file(path, std::ios::binary);
    std::ostringstream contents;
    if (file) {
        contents << file.rdbuf();
    }
    if (!file || file.bad()) {
        throw RelayStateError("cannot read " + path.string() + ": " + std::strerror(errno));
    }
    try {
        return RelayState::fromJSON(contents.str(), limits);
    } catch (const RelayStateError& decoding) {
        throw RelayStateError("cannot decode " + path.string() + ": " + decoding.what());
    }
}

void save(const fs::path& path, const RelayState& state) {
    AtomicFile::write(path, state.toJSON(), 0600);
}

} // namespace RelayStateFile
