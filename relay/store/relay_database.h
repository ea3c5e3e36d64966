#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

/// The relay's database could not be opened or a statement failed. Whatever the failed transaction
/// changed is rolled back; the relay answers 503.
class RelayStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// One connection to the database that holds the relay's state. Statements use "$1", "$2"… for their
/// parameters in either engine. Not thread-safe: its owner serialises access.
class RelayDatabase {
public:
    enum class Engine { sqlite, postgresql };
    /// A column's value: NULL, an integer or text.
    using Value = std::variant<std::monostate, std::int64_t, std::string>;
    using Row = std::vector<Value>;

    virtual ~RelayDatabase() = default;

    virtual Engine engine() const = 0;
    /// Runs `sql` with `parameters` and answers its rows. Throws RelayStoreError.
    virtual std::vector<Row> run(const std::string& sql, const std::vector<Value>& parameters = {}) = 0;
    /// Starts a transaction. One that will write takes SQLite's write lock at once, so two writers never
    /// deadlock upgrading a read lock.
    virtual void begin(bool writing) = 0;

    /// Opens "sqlite:PATH" (created with mode 0600 when missing) or a "postgresql://…" connection URI.
    /// Throws RelayStoreError, also for any other form.
    static std::unique_ptr<RelayDatabase> open(std::string_view address);
};

/// The integer in `value`; 0 for NULL. Text holding digits (PostgreSQL's aggregates) is read as well.
std::int64_t integerOf(const RelayDatabase::Value& value);
/// The text in `value`; "" for NULL.
std::string textOf(const RelayDatabase::Value& value);
