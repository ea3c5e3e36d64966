#pragma once

#include "relay/store/relay_store.h"
#include "support/temp_dir.h"

#include <string>

/// An empty database of either engine for one test, removed at its end: an SQLite file in a temporary
/// directory, or a database of its own on the PostgreSQL server ctest starts for the relay's tests.
class ScratchStore {
public:
    explicit ScratchStore(RelayDatabase::Engine engine);
    ~ScratchStore();
    ScratchStore(const ScratchStore&) = delete;
    ScratchStore& operator=(const ScratchStore&) = delete;

    /// What `tesk-relay --store` takes.
    const std::string& address() const { return address_; }
    /// A store on it; several may be open at once, as several relays would.
    RelayStore open(RelayLimits limits = {}) const {
        return RelayStore(RelayDatabase::open(address_), limits);
    }

private:
    TempDir dir_;
    std::string server_, name_, address_;
};
