#include "relay/store/relay_database.h"

#include "relay/store/postgres_database.h"
#include "relay/store/sqlite_database.h"

#include <charconv>

std::unique_ptr<RelayDatabase> RelayDatabase::open(std::string_view address) {
    constexpr std::string_view sqlite = "sqlite:";
    if (address.starts_with(sqlite) && address.size() > sqlite.size()) {
        return std::make_unique<SQLiteDatabase>(std::filesystem::path(address.substr(sqlite.size())));
    }
    if (address.starts_with("postgresql://") || address.starts_with("postgres://")) {
        return std::make_unique<PostgresDatabase>(std::string(address));
    }
    throw RelayStoreError("not a store: " + std::string(address) +
                          " (give sqlite:PATH or postgresql://USER@HOST:PORT/DATABASE)");
}

std::int64_t integerOf(const RelayDatabase::Value& value) {
    if (const auto* number = std::get_if<std::int64_t>(&value)) {
        return *number;
    }
    std::int64_t parsed = 0;
    if (const auto* text = std::get_if<std::string>(&value)) {
        std::from_chars(text->data(), text->data() + text->size(), parsed);
    }
    return parsed;
}

std::string textOf(const RelayDatabase::Value& value) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        return *text;
    }
    return {};
}
