#include "sqlite.h"

namespace kvprtd {

void checkSqlite(sqlite3* db, int rc, std::string_view what) {
    int primary = rc & 0xFF;   // extended result codes are on
    if (primary == SQLITE_OK || primary == SQLITE_ROW || primary == SQLITE_DONE) return;
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    throw DbError(std::string(what) + ": " + message, rc);
}

bool isStorageFailure(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_NOMEM:
    case SQLITE_PROTOCOL:
        return true;
    default:
        return false;
    }
}

Statement::Statement(sqlite3* db, std::string_view sql) : m_db(db) {
    checkSqlite(db, sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &m_stmt, nullptr), sql);
}

Statement::~Statement() { sqlite3_finalize(m_stmt); }

Statement& Statement::bind(int index, int64_t value) {
    checkSqlite(m_db, sqlite3_bind_int64(m_stmt, index, value), "bind");
    return *this;
}

Statement& Statement::bind(int index, double value) {
    checkSqlite(m_db, sqlite3_bind_double(m_stmt, index, value), "bind");
    return *this;
}

Statement& Statement::bind(int index, std::string_view value) {
    checkSqlite(m_db, sqlite3_bind_text(m_stmt, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT),
                "bind");
    return *this;
}

Statement& Statement::bindNull(int index) {
    checkSqlite(m_db, sqlite3_bind_null(m_stmt, index), "bind");
    return *this;
}

bool Statement::step() {
    int rc = sqlite3_step(m_stmt);
    checkSqlite(m_db, rc, sqlite3_sql(m_stmt));
    return (rc & 0xFF) == SQLITE_ROW;
}

void Statement::run() {
    while (step()) {
    }
}

void Statement::reset() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
}

bool Statement::isNull(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
int64_t Statement::integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
double Statement::real(int column) const { return sqlite3_column_double(m_stmt, column); }

std::string Statement::text(int column) const {
    const auto* p = sqlite3_column_text(m_stmt, column);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(m_stmt, column)))
             : std::string();
}

Connection::Connection(const std::string& path, int flags) {
    int rc = sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc);
        sqlite3_close(m_db);
        m_db = nullptr;
        throw DbError(path + ": " + message, rc);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, 5000);
}

Connection::~Connection() { sqlite3_close(m_db); }

void Connection::exec(std::string_view sql) {
    char* message = nullptr;
    int rc = sqlite3_exec(m_db, std::string(sql).c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        std::string text = message ? message : sqlite3_errstr(rc);
        sqlite3_free(message);
        throw DbError(text, rc);
    }
}

std::optional<std::string> Connection::scalar(std::string_view sql) {
    Statement s(m_db, sql);
    if (!s.step()) return std::nullopt;
    return s.text(0);
}

}  // namespace kvprtd
