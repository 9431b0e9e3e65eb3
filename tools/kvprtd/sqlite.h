// A thin layer over SQLite's C interface: a connection and prepared
// statements that finalize themselves. Failures throw DbError.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace kvprtd {

class DbError : public std::runtime_error {
public:
    DbError(const std::string& what, int code) : std::runtime_error(what), m_code(code) {}
    int code() const { return m_code; }

private:
    int m_code;
};

class Statement {
public:
    Statement(sqlite3* db, std::string_view sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Binds parameter `index` (from 1); returns *this for chaining.
    Statement& bind(int index, int64_t value);
    Statement& bind(int index, double value);
    Statement& bind(int index, std::string_view value);
    Statement& bindNull(int index);
    // Steps once: true with a row, false when done.
    bool step();
    // Steps to the end.
    void run();
    // Resets for another run with new bindings.
    void reset();

    bool isNull(int column) const;
    int64_t integer(int column) const;
    double real(int column) const;
    std::string text(int column) const;

private:
    sqlite3* m_db;
    sqlite3_stmt* m_stmt = nullptr;
};

class Connection {
public:
    // Opens `path` with SQLITE_OPEN_* `flags`.
    Connection(const std::string& path, int flags);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    sqlite3* get() const { return m_db; }
    void exec(std::string_view sql);
    // The first column of the first row of `sql`, as text (nothing without a row).
    std::optional<std::string> scalar(std::string_view sql);

private:
    sqlite3* m_db = nullptr;
};

// Throws DbError for a result other than SQLITE_OK, SQLITE_ROW and SQLITE_DONE.
void checkSqlite(sqlite3* db, int rc, std::string_view what);
// Whether a result says the database cannot take writes now (a full disk, a
// read-only file, I/O, a lock, memory), rather than that a write is wrong.
bool isStorageFailure(int rc);

}  // namespace kvprtd
