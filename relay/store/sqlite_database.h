#pragma once

#include "relay/store/relay_database.h"

#include <filesystem>
#include <map>
#include <memory>

struct sqlite3;
struct sqlite3_stmt;

/// The embedded engine: one file, in WAL mode, so readers never wait for the writer and a commit
/// appends to the log instead of rewriting pages. Statements are prepared once and kept.
class SQLiteDatabase final : public RelayDatabase {
public:
    /// Opens or creates `path`. Throws RelayStoreError.
    explicit SQLiteDatabase(const std::filesystem::path& path);

    Engine engine() const override { return Engine::sqlite; }
    std::vector<Row> run(const std::string& sql, const std::vector<Value>& parameters = {}) override;
    void begin(bool writing) override;

private:
    struct CloseDatabase {
        void operator()(sqlite3* database) const;
    };
    struct FinalizeStatement {
        void operator()(sqlite3_stmt* statement) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

    [[noreturn]] void fail(std::string_view what) const;

    // Declared first so that it is closed last, after every statement is finalized.
    std::unique_ptr<sqlite3, CloseDatabase> database_;
    std::map<std::string, Statement, std::less<>> statements_;
};
