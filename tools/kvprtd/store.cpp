// The store (store.h): opening and checking the database, its schema and its
// migration, and the reads. The writes are in store_writer.cpp.
#include "store.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "log.h"
#include "times.h"

namespace kvprtd {
namespace {

// The schema, one step per version: a new database runs them all, an older
// one the steps it lacks.
const char* const kSchemaSteps[] = {
    // 1: printers, samples, supply levels, events.
    "CREATE TABLE printers(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE);"
    "CREATE TABLE samples(printer INTEGER NOT NULL, time INTEGER NOT NULL,"
    "  pages1 INTEGER, pages2 INTEGER, pages3 INTEGER, pages4 INTEGER);"
    "CREATE INDEX samples_by_printer ON samples(printer, time);"
    "CREATE TABLE supply_samples(printer INTEGER NOT NULL, time INTEGER NOT NULL, supply INTEGER NOT NULL,"
    "  level INTEGER NOT NULL, level_count INTEGER NOT NULL);"
    "CREATE INDEX supply_samples_by_printer ON supply_samples(printer, time);"
    "CREATE TABLE events(id INTEGER PRIMARY KEY, printer INTEGER NOT NULL, time INTEGER NOT NULL,"
    "  kind TEXT NOT NULL, text TEXT NOT NULL, data TEXT NOT NULL);"
    "CREATE INDEX events_by_printer ON events(printer, time);",
    // 2: each printer's last report.
    "CREATE TABLE reports(printer INTEGER PRIMARY KEY, time INTEGER NOT NULL, sections TEXT NOT NULL);",
    // 3: each section of a report its own JSON text, which a reply takes as it is; the
    // sections of version 2's reports (one object) taken apart by SQLite's JSON functions.
    "CREATE TABLE report_sections(printer INTEGER NOT NULL, key TEXT NOT NULL, data TEXT NOT NULL,"
    "  PRIMARY KEY(printer, key));"
    "INSERT INTO report_sections SELECT r.printer, s.key, s.value FROM reports r,"
    "  json_each(CASE WHEN json_valid(r.sections) AND r.sections LIKE '{%' THEN r.sections ELSE '{}' END) s"
    "  WHERE s.type IN ('object', 'array');"
    "ALTER TABLE reports DROP COLUMN sections;",
};
static_assert(std::size(kSchemaSteps) == kSchemaVersion);

// Each connection's page cache, in KiB (SQLite's default is 2,000): writes
// append to a few indexes and reads walk one printer's rows, so a small
// cache does, and the memory stays with the printers.
constexpr const char* kCacheSize = "PRAGMA cache_size=-256";

// The first bytes of every SQLite database file.
constexpr char kSqliteHeader[16] = "SQLite format 3";

enum class FileKind { Missing, Empty, Sqlite, Other };

FileKind kindOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return FileKind::Missing;
    char header[sizeof kSqliteHeader] = {};
    in.read(header, sizeof header);
    if (in.gcount() == 0) return FileKind::Empty;
    return in.gcount() == sizeof header && std::equal(header, header + sizeof header, kSqliteHeader)
               ? FileKind::Sqlite
               : FileKind::Other;
}

// Why the database at `path` cannot be written (the file, or its folder,
// which WAL mode writes beside it), or nothing.
std::optional<std::string> unwritable(const std::string& path, FileKind kind) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    const std::string folder = parent.empty() ? std::string(".") : parent.string();
    std::string why = path;   // appended: GCC 12's optimised build warns falsely on chained +
    if (::access(folder.c_str(), W_OK) != 0)
        return why.append(": its folder ").append(folder).append(" cannot be written (").append(std::strerror(errno))
            .append("); kvprtd leaves the database alone");
    if (kind != FileKind::Missing && ::access(path.c_str(), W_OK) != 0)
        return why.append(" cannot be written (").append(std::strerror(errno)).append("); kvprtd leaves it alone");
    return std::nullopt;
}

// The JSON texts kvprtd stored go into replies as they are. The database is
// a file kvprtd reads, which need not be whole: the queries take only texts
// SQLite finds valid JSON (an event's details: an object, or {}), and one
// with a NUL byte (where SQLite's check stops) is left out here.
constexpr const char* kEventsWhere =
    "SELECT id, time, kind, text, CASE WHEN json_valid(data) AND data LIKE '{%' THEN data ELSE '{}' END "
    "FROM events WHERE ";
bool whole(const std::string& json) { return json.find('\0') == std::string::npos; }

// An event of a row of kEventsWhere.
Event eventOf(const Statement& row) {
    Event e;
    e.id = static_cast<uint64_t>(row.integer(0));
    e.time = row.integer(1);
    e.kind = row.text(2);
    e.text = row.text(3);
    e.data = row.text(4);
    if (!whole(e.data)) e.data = "{}";
    return e;
}

Supply supplyOf(int64_t id, int64_t level, int64_t levelCount) {
    Supply s;
    s.id = static_cast<uint8_t>(id);
    s.level = static_cast<uint8_t>(level);
    s.levelCount = static_cast<uint8_t>(levelCount);
    s.ratio = levelRatio(s.level, s.levelCount);
    return s;
}

// Checks that `db` may be used and brings it to `schema`; a message when refused.
std::optional<std::string> prepare(Connection& db, const std::string& path, bool existed, int schema) {
    if (existed) {
        std::string check = db.scalar("PRAGMA quick_check").value_or("no answer");
        if (check != "ok") return path + " is damaged (" + check + "); kvprtd leaves it alone";
    }
    int64_t application = std::stoll(db.scalar("PRAGMA application_id").value_or("0"));
    int version = std::stoi(db.scalar("PRAGMA user_version").value_or("0"));
    int64_t objects = std::stoll(db.scalar("SELECT count(*) FROM sqlite_master").value_or("0"));
    if (application != kApplicationId && (application != 0 || objects != 0)) {
        char id[16];
        std::snprintf(id, sizeof id, "0x%08llX", static_cast<unsigned long long>(application) & 0xFFFFFFFFull);
        return path + " is not a kvprtd database (application id " + id + "); kvprtd leaves it alone";
    }
    if (version > schema)
        return path + " was written by a newer kvprtd (schema " + std::to_string(version) + "; this one knows " +
               std::to_string(schema) + ")";
    if (db.scalar("PRAGMA journal_mode=WAL").value_or("") != "wal") return path + ": cannot use WAL mode";
    db.exec("PRAGMA synchronous=NORMAL");
    db.exec(kCacheSize);
    if (version < schema) {
        db.exec("BEGIN IMMEDIATE");
        for (int step = version; step < schema; ++step) db.exec(kSchemaSteps[step]);
        db.exec("PRAGMA application_id=" + std::to_string(kApplicationId));
        db.exec("PRAGMA user_version=" + std::to_string(schema));
        db.exec("COMMIT");
        if (version > 0) logLine(path + ": schema migrated from version " + std::to_string(version) + " to " +
                                 std::to_string(schema));
    }
    return std::nullopt;
}

}  // namespace

std::unique_ptr<Store> Store::open(const std::string& path, std::string* error, int schema) {
    if (schema < 1 || schema > kSchemaVersion) {
        *error = "no schema version " + std::to_string(schema);
        return nullptr;
    }
    FileKind kind = kindOf(path);
    if (kind == FileKind::Other) {
        *error = path + " is not an SQLite database; kvprtd leaves it alone";
        return nullptr;
    }
    if (auto refused = unwritable(path, kind)) {
        *error = *refused;
        return nullptr;
    }
    std::unique_ptr<Store> store(new Store(path));
    try {
        store->m_writer = std::make_unique<Connection>(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    } catch (const DbError& e) {
        *error = std::string("cannot open the database ") + e.what();
        return nullptr;
    }
    if (sqlite3_db_readonly(store->m_writer->get(), "main") == 1) {
        *error = path + " cannot be written (SQLite opened it read-only); kvprtd leaves it alone";
        return nullptr;
    }
    try {
        if (auto refused = prepare(*store->m_writer, path, kind == FileKind::Sqlite, schema)) {
            *error = *refused;
            return nullptr;
        }
        store->m_reader = std::make_unique<Connection>(path, SQLITE_OPEN_READONLY);
        store->m_reader->exec(kCacheSize);
    } catch (const DbError& e) {
        *error = path + " is damaged or cannot be opened (" + e.what() + "); kvprtd leaves it alone";
        return nullptr;
    }
    store->m_thread = std::thread(&Store::writeLoop, store.get());
    return store;
}

Store::Store(std::string path) : m_path(std::move(path)) {}

Store::~Store() {
    {
        std::lock_guard guard(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

uint64_t Store::lastEventId() {
    std::lock_guard guard(m_readLock);
    Statement s(m_reader->get(), "SELECT coalesce(max(id), 0) FROM events");
    return s.step() ? static_cast<uint64_t>(s.integer(0)) : 0;
}

std::map<int64_t, RecordedHealth> Store::lastHealth() {
    std::lock_guard guard(m_readLock);
    Statement s(m_reader->get(),
                "SELECT printer, kind, time FROM events WHERE id IN "
                "(SELECT max(id) FROM events WHERE kind IN ('up', 'down') GROUP BY printer)");
    std::map<int64_t, RecordedHealth> out;
    while (s.step()) out[s.integer(0)] = {s.text(1) == "up" ? Health::Up : Health::Down, s.integer(2)};
    return out;
}

std::map<int64_t, std::vector<StoredSupply>> Store::supplyLevels(int64_t sinceMs) {
    std::lock_guard guard(m_readLock);
    Statement s(m_reader->get(),
                "SELECT printer, time, supply, level, level_count FROM supply_samples WHERE time >= ? "
                "ORDER BY printer, time");
    s.bind(1, sinceMs);
    std::map<int64_t, std::vector<StoredSupply>> out;
    while (s.step()) out[s.integer(0)].push_back({s.integer(1), supplyOf(s.integer(2), s.integer(3), s.integer(4))});
    return out;
}

std::optional<Report> Store::report(int64_t printer) {
    std::lock_guard guard(m_readLock);
    Statement s(m_reader->get(), "SELECT time FROM reports WHERE printer = ?");
    s.bind(1, printer);
    if (!s.step()) return std::nullopt;
    Report report{s.integer(0), {}};
    Statement sections(m_reader->get(), "SELECT key, data FROM report_sections WHERE printer = ? AND json_valid(data)");
    sections.bind(1, printer);
    while (sections.step())
        if (std::string data = sections.text(1); whole(data)) report.sections[sections.text(0)] = std::move(data);
    return report;
}

History Store::history(int64_t printer, int64_t since, int64_t until, size_t limit) {
    std::lock_guard guard(m_readLock);
    History h;
    const auto rows = static_cast<int64_t>(limit) + 1;   // one more tells that some were left out

    Statement samples(m_reader->get(),
                      "SELECT time, pages1, pages2, pages3, pages4 FROM samples "
                      "WHERE printer = ? AND time BETWEEN ? AND ? ORDER BY time DESC LIMIT ?");
    samples.bind(1, printer).bind(2, since).bind(3, until).bind(4, rows);
    std::map<int64_t, Sample> byTime;
    while (samples.step()) {
        Sample& s = byTime[samples.integer(0)];
        s.time = samples.integer(0);
        s.pagesKnown = true;
        for (int i = 0; i < static_cast<int>(kPageCountTypes); ++i)
            s.pages[i] = static_cast<uint32_t>(samples.integer(i + 1));
    }
    Statement supplies(m_reader->get(),
                       "SELECT time, supply, level, level_count FROM supply_samples "
                       "WHERE printer = ? AND time BETWEEN ? AND ? ORDER BY time DESC, supply LIMIT ?");
    supplies.bind(1, printer).bind(2, since).bind(3, until).bind(4, rows);
    while (supplies.step()) {
        Sample& s = byTime[supplies.integer(0)];
        s.time = supplies.integer(0);
        s.supplies.push_back(supplyOf(supplies.integer(1), supplies.integer(2), supplies.integer(3)));
    }
    for (auto& [time, sample] : byTime) h.samples.push_back(std::move(sample));
    if (h.samples.size() > limit) {
        h.samples.erase(h.samples.begin(), h.samples.end() - static_cast<std::ptrdiff_t>(limit));
        h.truncated = true;
    }

    Statement events(m_reader->get(),
                     std::string(kEventsWhere).append("printer = ? AND time BETWEEN ? AND ? ORDER BY id DESC LIMIT ?"));
    events.bind(1, printer).bind(2, since).bind(3, until).bind(4, rows);
    while (events.step()) h.events.push_back(eventOf(events));
    if (h.events.size() > limit) {
        h.events.resize(limit);
        h.truncated = true;
    }
    std::reverse(h.events.begin(), h.events.end());
    return h;
}

EventPage Store::events(int64_t printer, uint64_t before, size_t limit) {
    std::lock_guard guard(m_readLock);
    EventPage page;
    Statement events(m_reader->get(),
                     std::string(kEventsWhere).append("printer = ? AND id < ? ORDER BY id DESC LIMIT ?"));
    const uint64_t below = before == 0 ? INT64_MAX : std::min<uint64_t>(before, INT64_MAX);
    events.bind(1, printer).bind(2, static_cast<int64_t>(below));
    events.bind(3, static_cast<int64_t>(limit) + 1);   // one more tells that older ones remain
    while (events.step()) page.events.push_back(eventOf(events));
    if (page.events.size() > limit) {
        page.events.resize(limit);
        page.more = true;
    }
    return page;
}

std::vector<Day> Store::days(int64_t printer, int64_t since, int64_t until) {
    std::lock_guard guard(m_readLock);
    std::map<int64_t, Day> byDay;
    const int64_t first = since / kDayMs * kDayMs, last = until / kDayMs * kDayMs + kDayMs - 1;
    // SQLite takes the other columns of an aggregate query from the row of its max().
    Statement pages(m_reader->get(),
                    "SELECT time / 86400000 AS day, max(time), pages1, pages2, pages3, pages4 FROM samples "
                    "WHERE printer = ? AND time BETWEEN ? AND ? GROUP BY day");
    pages.bind(1, printer).bind(2, first).bind(3, last);
    while (pages.step()) {
        Day& d = byDay[pages.integer(0)];
        d.day = pages.integer(0);
        d.pagesKnown = true;
        for (int i = 0; i < static_cast<int>(kPageCountTypes); ++i)
            d.pages[i] = static_cast<uint32_t>(pages.integer(i + 2));
    }
    Statement supplies(m_reader->get(),
                       "SELECT time / 86400000 AS day, supply, max(time), level, level_count FROM supply_samples "
                       "WHERE printer = ? AND time BETWEEN ? AND ? GROUP BY day, supply ORDER BY day, supply");
    supplies.bind(1, printer).bind(2, first).bind(3, last);
    while (supplies.step()) {
        Day& d = byDay[supplies.integer(0)];
        d.day = supplies.integer(0);
        d.supplies.push_back(supplyOf(supplies.integer(1), supplies.integer(3), supplies.integer(4)));
    }
    std::vector<Day> out;
    for (auto& [day, d] : byDay) out.push_back(std::move(d));
    return out;
}

}  // namespace kvprtd
