#pragma once

#include "relay/store/relay_database.h"

#include <map>
#include <memory>
#include <string>

struct pg_conn;

/// A connection to a PostgreSQL server that several relays may share. Statements are prepared on the
/// server once per connection. A connection the server dropped is opened again before the next
/// statement.
class PostgresDatabase final : public RelayDatabase {
public:
    /// Connects with a libpq connection URI. Throws RelayStoreError.
    explicit PostgresDatabase(std::string uri);

    Engine engine() const override { return Engine::postgresql; }
    std::vector<Row> run(const std::string& sql, const std::vector<Value>& parameters = {}) override;
    void begin(bool writing) override;

private:
    struct Finish {
        void operator()(pg_conn* connection) const;
    };

    void reconnectIfDropped();

    const std::string uri_;
    std::unique_ptr<pg_conn, Finish> connection_;
    /// Statement names are their SQL's position here, per connection.
    std::map<std::string, std::string, std::less<>> prepared_;
};
