#include "relay/store/sqlite_database.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

SQLiteDatabase::SQLiteDatabase(const std::filesystem::path& path) {
    // The state holds secret digests and device hashes: nobody but the relay reads it. SQLite gives
    // its log files the database file's mode.
    if (const int fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600); fd >= 0) {
        ::close(fd);
    }
    sqlite3* opened = nullptr;
    const int status =
        sqlite3_open_v2(path.c_str(), &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    database_.reset(opened);
    if (status != SQLITE_OK) {
        fail("cannot open " + path.string());
    }
    sqlite3_extended_result_codes(opened, 1);
    // First: switching to WAL reads the file, which another connection opening it at the same moment
    // may hold locked for an instant.
    run("PRAGMA busy_timeout = 5000");
    // WAL: a commit appends to the log. NORMAL: a commit is on disk once the process has written it,
    // so a killed relay loses nothing it acknowledged; only a power cut may lose the last commits,
    // never the file's consistency.
    run("PRAGMA journal_mode = WAL");
    run("PRAGMA synchronous = NORMAL");
    run("PRAGMA foreign_keys = ON");
    // Up to 64 MiB of pages in memory (taken as needed): a relay of tens of thousands of Macs keeps its
    // whole file cached, so a check-in reads nothing from the file system.
    run("PRAGMA cache_size = -65536");
}

void SQLiteDatabase::CloseDatabase::operator()(sqlite3* database) const {
    sqlite3_close_v2(database);
}

void SQLiteDatabase::FinalizeStatement::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

void SQLiteDatabase::fail(std::string_view what) const {
    throw RelayStoreError(std::string(what) + ": " + sqlite3_errmsg(database_.get()));
}

std::vector<RelayDatabase::Row> SQLiteDatabase::run(const std::string& sql,
                                                    const std::vector<Value>& parameters) {
    auto found = statements_.find(sql);
    if (found == statements_.end()) {
        sqlite3_stmt* prepared = nullptr;
        if (sqlite3_prepare_v3(database_.get(), sql.c_str(), static_cast<int>(sql.size()),
                               SQLITE_PREPARE_PERSISTENT, &prepared, nullptr) != SQLITE_OK) {
            fail("cannot prepare \"" + sql + "\"");
        }
        found = statements_.emplace(sql, Statement(prepared)).first;
    }
    sqlite3_stmt* statement = found->second.get();
    // Reset on every way out, so a statement never holds a read lock between calls.
    const std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_reset)> resetting(statement, &sqlite3_reset);
    sqlite3_clear_bindings(statement);
    for (std::size_t index = 0; index < parameters.size(); ++index) {
        const std::string name = "$" + std::to_string(index + 1);
        const int position = sqlite3_bind_parameter_index(statement, name.c_str());
        if (position == 0) {
            continue; // a parameter this statement does not use
        }
        const Value& value = parameters[index];
        if (const auto* number = std::get_if<std::int64_t>(&value)) {
            sqlite3_bind_int64(statement, position, *number);
        } else if (const auto* text = std::get_if<std::string>(&value)) {
            sqlite3_bind_text(statement, position, text->data(), static_cast<int>(text->size()),
                              SQLITE_STATIC);
        } else {
            sqlite3_bind_null(statement, position);
        }
    }
    std::vector<Row> rows;
    for (;;) {
        const int status = sqlite3_step(statement);
        if (status == SQLITE_DONE) {
            return rows;
        }
        if (status != SQLITE_ROW) {
            fail("\"" + sql + "\" failed");
        }
        Row& row = rows.emplace_back();
        const int columns = sqlite3_column_count(statement);
        for (int column = 0; column < columns; ++column) {
            switch (sqlite3_column_type(statement, column)) {
            case SQLITE_NULL:
                row.emplace_back(std::monostate());
                break;
            case SQLITE_INTEGER:
                row.emplace_back(static_cast<std::int64_t>(sqlite3_column_int64(statement, column)));
                break;
            default: {
                const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
                row.emplace_back(
                    std::string(bytes, static_cast<std::size_t>(sqlite3_column_bytes(statement, column))));
            }
            }
        }
    }
}

void SQLiteDatabase::begin(bool writing) {
    run(writing ? "BEGIN IMMEDIATE" : "BEGIN");
}
