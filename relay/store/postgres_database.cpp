#include "relay/store/postgres_database.h"

#include <libpq-fe.h>

namespace {

/// Type ids from PostgreSQL's catalogue (pg_type.dat): the integers come back as text otherwise.
constexpr Oid int8Oid = 20, int2Oid = 21, int4Oid = 23;

struct ClearResult {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ClearResult>;

std::string trimmed(const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

/// `uri` without its password, for messages that end up in logs.
std::string redacted(const std::string& uri) {
    const auto start = uri.find("://");
    const auto at = uri.find('@');
    const auto colon = uri.find(':', start + 3);
    if (start == std::string::npos || at == std::string::npos || colon > at ||
        uri.find('/', start + 3) < at) {
        return uri;
    }
    return uri.substr(0, colon + 1) + "…" + uri.substr(at);
}

} // namespace

PostgresDatabase::PostgresDatabase(std::string uri)
    : uri_(std::move(uri))
    , connection_(PQconnectdb(uri_.c_str())) {
    if (!connection_ || PQstatus(connection_.get()) != CONNECTION_OK) {
        throw RelayStoreError("cannot connect to " + redacted(uri_) + ": " +
                              trimmed(connection_ ? PQerrorMessage(connection_.get()) : "out of memory"));
    }
    // Notices (such as "relation already exists, skipping") are not the relay's to print.
    PQsetNoticeProcessor(
        connection_.get(), [](void*, const char*) {}, nullptr);
}

void PostgresDatabase::Finish::operator()(pg_conn* connection) const {
    PQfinish(connection);
}

void PostgresDatabase::reconnectIfDropped() {
    if (PQstatus(connection_.get()) == CONNECTION_OK) {
        return;
    }
    PQreset(connection_.get());
    prepared_.clear();
    if (PQstatus(connection_.get()) != CONNECTION_OK) {
        throw RelayStoreError("lost the connection to " + redacted(uri_) + ": " +
                              trimmed(PQerrorMessage(connection_.get())));
    }
}

std::vector<RelayDatabase::Row> PostgresDatabase::run(const std::string& sql,
                                                      const std::vector<Value>& parameters) {
    reconnectIfDropped();
    auto found = prepared_.find(sql);
    if (found == prepared_.end()) {
        const std::string name = "s" + std::to_string(prepared_.size());
        const Result prepared(PQprepare(connection_.get(), name.c_str(), sql.c_str(), 0, nullptr));
        if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) {
            throw RelayStoreError("cannot prepare \"" + sql +
                                  "\": " + trimmed(PQerrorMessage(connection_.get())));
        }
        found = prepared_.emplace(sql, name).first;
    }
    // Every value goes as text; the server reads it as the type the statement needs there.
    std::vector<std::string> texts;
    std::vector<const char*> values;
    texts.reserve(parameters.size());
    for (const Value& value : parameters) {
        if (const auto* number = std::get_if<std::int64_t>(&value)) {
            values.push_back(texts.emplace_back(std::to_string(*number)).c_str());
        } else if (const auto* text = std::get_if<std::string>(&value)) {
            values.push_back(text->c_str());
        } else {
            values.push_back(nullptr);
        }
    }
    const Result result(PQexecPrepared(connection_.get(), found->second.c_str(),
                                       static_cast<int>(values.size()), values.data(), nullptr, nullptr, 0));
    const auto status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        throw RelayStoreError("\"" + sql + "\" failed: " + trimmed(PQerrorMessage(connection_.get())));
    }
    std::vector<Row> rows;
    const int count = PQntuples(result.get()), columns = PQnfields(result.get());
    rows.reserve(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index) {
        Row& row = rows.emplace_back();
        for (int column = 0; column < columns; ++column) {
            if (PQgetisnull(result.get(), index, column)) {
                row.emplace_back(std::monostate());
                continue;
            }
            const char* text = PQgetvalue(result.get(), index, column);
            const Oid type = PQftype(result.get(), column);
            if (type == int8Oid || type == int4Oid || type == int2Oid) {
                row.emplace_back(static_cast<std::int64_t>(std::stoll(text)));
            } else {
                row.emplace_back(
                    std::string(text, static_cast<std::size_t>(PQgetlength(result.get(), index, column))));
            }
        }
    }
    return rows;
}

void PostgresDatabase::begin(bool writing) {
    run(writing ? "BEGIN" : "BEGIN READ ONLY");
}
