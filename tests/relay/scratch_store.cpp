#include "scratch_store.h"

#include <fstream>
#include <stdexcept>
#include <unistd.h>

namespace {

/// The server's base address, as scripts/postgresql.sh wrote it.
std::string postgresqlServer() {
    std::ifstream file(TESK_TEST_POSTGRESQL_URL_FILE);
    std::string url;
    if (!std::getline(file, url) || url.empty()) {
        throw std::runtime_error("no PostgreSQL server for the relay's tests: " TESK_TEST_POSTGRESQL_URL_FILE
                                 " is missing. ctest starts one (test RelayPostgreSQLStart, needs Debian's "
                                 "postgresql package); by hand: bash scripts/postgresql.sh start DIR");
    }
    return url;
}

} // namespace

ScratchStore::ScratchStore(RelayDatabase::Engine engine) {
    if (engine == RelayDatabase::Engine::sqlite) {
        address_ = "sqlite:" + (dir_.path() / "relay.sqlite").string();
        return;
    }
    static int made = 0;
    server_ = postgresqlServer();
    name_ = "relay_" + std::to_string(::getpid()) + "_" + std::to_string(++made);
    RelayDatabase::open(server_)->run("CREATE DATABASE " + name_);
    address_ = server_.substr(0, server_.rfind('/') + 1) + name_;
}

ScratchStore::~ScratchStore() {
    if (!name_.empty()) {
        try {
            RelayDatabase::open(server_)->run("DROP DATABASE " + name_ + " WITH (FORCE)");
        } catch (const RelayStoreError&) {
            // Gone with the server at the end of the run.
        }
    }
}
