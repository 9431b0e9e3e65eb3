#include "db_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kvprtd {

std::unique_ptr<DatabaseLock> DatabaseLock::take(const std::string& dbPath, std::string* error) {
    const std::string path = dbPath + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        *error = "cannot make the lock file " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    struct flock whole{};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    if (::fcntl(fd, F_SETLK, &whole) != 0) {
        const int why = errno;
        struct flock holder{};
        holder.l_type = F_WRLCK;
        holder.l_whence = SEEK_SET;
        if ((why == EAGAIN || why == EACCES) && ::fcntl(fd, F_GETLK, &holder) == 0 && holder.l_type != F_UNLCK)
            *error = dbPath + " is in use by another kvprtd (pid " + std::to_string(holder.l_pid) +
                     "): one kvprtd per database";
        else
            *error = "cannot lock " + path + ": " + std::strerror(why);
        ::close(fd);
        return nullptr;
    }
    // The pid, for people (a second kvprtd asks the lock itself): the lock stands without it.
    const std::string pid = std::to_string(::getpid()) + "\n";
    const bool written = ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
    static_cast<void>(written);
    return std::unique_ptr<DatabaseLock>(new DatabaseLock(fd));
}

DatabaseLock::~DatabaseLock() { ::close(m_fd); }

}  // namespace kvprtd
