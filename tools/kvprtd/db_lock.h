// One kvprtd per database: two writing one history would collide on event ids
// and write every sample twice. The lock is a POSIX record lock on PATH.lock
// beside the database, held for the life of the process and released by the
// kernel however it ends; the file says the holder's pid to people, the lock
// to a second kvprtd (which exits 1 naming it).
#pragma once

#include <memory>
#include <string>

namespace kvprtd {

class DatabaseLock {
public:
    // The lock of the database at `dbPath`; null, with `error`, when another
    // process holds it or the lock file cannot be made.
    static std::unique_ptr<DatabaseLock> take(const std::string& dbPath, std::string* error);
    ~DatabaseLock();
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

private:
    explicit DatabaseLock(int fd) : m_fd(fd) {}
    int m_fd;
};

}  // namespace kvprtd
