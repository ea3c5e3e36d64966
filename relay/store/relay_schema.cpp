#include "relay/store/relay_schema.h"

#include <string>
#include <vector>

namespace {

/// Step n brings version n-1 to n. "{id}" is each engine's spelling of a growing row id, "{owner}" a
/// reference to the Mac that goes with it.
const std::vector<std::vector<std::string>> steps{
    {
        "CREATE TABLE macs (id TEXT PRIMARY KEY, secret_hash TEXT NOT NULL, created_at BIGINT NOT NULL,"
        " last_check_in BIGINT NOT NULL DEFAULT 0, name TEXT NOT NULL, ssid TEXT NOT NULL DEFAULT '',"
        " lan TEXT NOT NULL DEFAULT '')",
        "CREATE INDEX macs_by_check_in ON macs (last_check_in)",
        "CREATE TABLE shares ({owner}, position INTEGER NOT NULL, token TEXT NOT NULL, title TEXT NOT NULL,"
        " PRIMARY KEY (mac_id, token))",
        "CREATE TABLE devices ({owner}, position INTEGER NOT NULL, hash TEXT NOT NULL, PRIMARY KEY (mac_id, "
        "hash))",
        // The key is what keeps a browser from being counted twice, whichever relay it reaches.
        "CREATE TABLE followers ({owner}, token TEXT NOT NULL, visitor TEXT NOT NULL,"
        " PRIMARY KEY (mac_id, token, visitor))",
        "CREATE TABLE notifications (id {id}, {owner}, token TEXT NOT NULL, title TEXT NOT NULL,"
        " body TEXT NOT NULL, at BIGINT NOT NULL)",
        "CREATE INDEX notifications_by_mac ON notifications (mac_id, token)",
        "CREATE INDEX notifications_by_age ON notifications (at)",
        "CREATE TABLE pending (id {id}, {owner}, device TEXT NOT NULL, token TEXT NOT NULL, title TEXT NOT "
        "NULL,"
        " at BIGINT NOT NULL)",
        "CREATE INDEX pending_by_mac ON pending (mac_id, device)",
        "CREATE INDEX pending_by_age ON pending (at)",
        "CREATE TABLE signups (source TEXT NOT NULL, hour BIGINT NOT NULL, count BIGINT NOT NULL,"
        " PRIMARY KEY (source, hour))",
    },
    // Where each Mac checks in from, per address family, so a launcher knows a phone on its network.
    {
        "ALTER TABLE macs ADD COLUMN seen_ipv4 TEXT NOT NULL DEFAULT ''",
        "ALTER TABLE macs ADD COLUMN seen_ipv4_at BIGINT NOT NULL DEFAULT 0",
        "ALTER TABLE macs ADD COLUMN seen_ipv6 TEXT NOT NULL DEFAULT ''",
        "ALTER TABLE macs ADD COLUMN seen_ipv6_at BIGINT NOT NULL DEFAULT 0",
    },
    // Web Push: the relay's one signing key, and the browsers that take notifications for a phone
    // (device) or for a follower of a share (share and visitor).
    {
        "CREATE TABLE push_key (id INTEGER PRIMARY KEY, private_key TEXT NOT NULL)",
        "CREATE TABLE subscriptions (id {id}, {owner}, device TEXT NOT NULL DEFAULT '',"
        " share TEXT NOT NULL DEFAULT '', visitor TEXT NOT NULL DEFAULT '', endpoint TEXT NOT NULL,"
        " p256dh TEXT NOT NULL, auth TEXT NOT NULL, at BIGINT NOT NULL)",
        "CREATE INDEX subscriptions_by_mac ON subscriptions (mac_id, device, share)",
        "CREATE INDEX subscriptions_by_endpoint ON subscriptions (endpoint)",
        "ALTER TABLE pending ADD COLUMN ref TEXT NOT NULL DEFAULT ''",
    }};

std::string spelled(std::string sql, RelayDatabase::Engine engine) {
    const auto replace = [&sql](const std::string& name, const std::string& with) {
        for (auto at = sql.find(name); at != std::string::npos; at = sql.find(name, at + with.size())) {
            sql.replace(at, name.size(), with);
        }
    };
    replace("{id}", engine == RelayDatabase::Engine::sqlite
                        ? "INTEGER PRIMARY KEY"
                        : "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY");
    replace("{owner}", "mac_id TEXT NOT NULL REFERENCES macs (id) ON DELETE CASCADE");
    return sql;
}

} // namespace

namespace RelaySchema {

void migrate(RelayDatabase& database) {
    const bool postgresql = database.engine() == RelayDatabase::Engine::postgresql;
    database.begin(true);
    try {
        if (postgresql) {
            // Held until the commit: a second relay starting now waits here, then finds the work done.
            database.run("SELECT pg_advisory_xact_lock(7201612)");
        }
        database.run("CREATE TABLE IF NOT EXISTS relay_schema (version INTEGER NOT NULL)");
        const auto rows = database.run("SELECT version FROM relay_schema");
        const std::int64_t version = rows.empty() ? 0 : integerOf(rows.front().front());
        if (version > currentVersion) {
            throw RelayStoreError("the database is of version " + std::to_string(version) +
                                  ", newer than this tesk-relay knows (" + std::to_string(currentVersion) +
                                  ")");
        }
        for (auto step = static_cast<std::size_t>(version); step < steps.size(); ++step) {
            for (const auto& statement : steps[step]) {
                database.run(spelled(statement, database.engine()));
            }
        }
        if (rows.empty()) {
            database.run("INSERT INTO relay_schema (version) VALUES ($1)", {std::int64_t{currentVersion}});
        } else {
            database.run("UPDATE relay_schema SET version = $1", {std::int64_t{currentVersion}});
        }
        database.run("COMMIT");
    } catch (...) {
        try {
            database.run("ROLLBACK");
        } catch (const RelayStoreError&) {
            // The connection is gone; so is the transaction.
        }
        throw;
    }
}

} // namespace RelaySchema
