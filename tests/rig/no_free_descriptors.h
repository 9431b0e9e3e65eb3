// A process out of descriptors: the soft RLIMIT_NOFILE lowered to at most
// kLimit and every descriptor still free below it held, until release() or
// the end of the scope, which give them back and restore the limit.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

// A sanitizer's runtime opens descriptors of its own: the undefined-behaviour
// sanitizer checks the object of a virtual call through a pipe, and reports
// memory it cannot read that way as a fault. A sanitized build cannot run out
// of descriptors on purpose.
#ifndef KVPO_SANITIZER_NEEDS_DESCRIPTORS
#define KVPO_SANITIZER_NEEDS_DESCRIPTORS 0
#endif

namespace kvtest {

class NoFreeDescriptors {
public:
    static constexpr rlim_t kLimit = 256;
    // Whether this build can run out of descriptors on purpose (above).
    static constexpr bool kPossible = !KVPO_SANITIZER_NEEDS_DESCRIPTORS;

    NoFreeDescriptors() {
        if (::getrlimit(RLIMIT_NOFILE, &m_saved) != 0) return;
        const rlimit low{std::min(m_saved.rlim_cur, kLimit), m_saved.rlim_max};
        if (::setrlimit(RLIMIT_NOFILE, &low) != 0) return;
        m_lowered = true;
        m_held.reserve(kLimit);
        for (int fd; (fd = ::dup(2)) >= 0;) m_held.push_back(fd);
        m_full = errno == EMFILE;
    }
    ~NoFreeDescriptors() { release(); }
    NoFreeDescriptors(const NoFreeDescriptors&) = delete;
    NoFreeDescriptors& operator=(const NoFreeDescriptors&) = delete;

    // Whether every free descriptor is taken: the last one asked for was refused with EMFILE.
    bool full() const { return m_full; }

    void release() {
        for (int fd : m_held) ::close(fd);
        m_held.clear();
        if (m_lowered) ::setrlimit(RLIMIT_NOFILE, &m_saved);
        m_lowered = m_full = false;
    }

private:
    rlimit m_saved{};
    std::vector<int> m_held;
    bool m_lowered = false, m_full = false;
};

}  // namespace kvtest
