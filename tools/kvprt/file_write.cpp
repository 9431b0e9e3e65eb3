#include "file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kvprt {
namespace {

constexpr mode_t kFileMode = 0644;

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

bool replaceFile(const std::string& path, std::string_view text, std::string* error) {
    auto fail = [&](const std::string& reason) {
        *error = path + ": " + reason;
        return false;
    };
    struct stat st{};
    if (::lstat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode))
        return fail(S_ISLNK(st.st_mode) ? "a symbolic link, which is not followed" : "not a regular file");

    std::string temporary = path + ".part-XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return fail(std::strerror(errno));
    // Complete on disk before it takes the target's place.
    int why = 0;
    if (::fchmod(fd, kFileMode) != 0 || !writeAll(fd, text) || ::fsync(fd) != 0) why = errno;
    if (::close(fd) != 0 && why == 0) why = errno;
    if (why == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) why = errno;
    if (why == 0) return true;
    ::unlink(temporary.c_str());
    return fail(std::strerror(why));
}

}  // namespace kvprt
