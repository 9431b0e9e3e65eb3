#include "io_loop.h"

#include <pthread.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <asio/executor_work_guard.hpp>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>

namespace zorbce {
namespace {

thread_local bool t_onIoThread = false;

// Socket events taken from the epoll set in one go.
constexpr int kEventsPerTurn = 64;

}  // namespace

IoLoop::IoLoop() : m_events(m_context), m_idleTimer(m_context) {
    // Without its epoll set no socket could ever be watched: the loop is not
    // made (most often the process is out of descriptors), and the next
    // printer opened tries again.
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) throw std::system_error(errno, std::system_category(), "epoll_create1");
    std::error_code error;
    m_events.assign(m_epoll, error);
    if (error) {
        ::close(m_epoll);
        throw std::system_error(error, "epoll set");
    }
    awaitEvents();
}

void IoLoop::awaitEvents() {
    m_events.async_wait(asio::posix::stream_descriptor::wait_read, [this](const std::error_code& error) {
        if (error) return;
        dispatchEvents();
        awaitEvents();
    });
}

void IoLoop::dispatchEvents() {
    epoll_event events[kEventsPerTurn];
    int n = ::epoll_wait(m_epoll, events, kEventsPerTurn, 0);
    for (int i = 0; i < n; ++i) {
        // A watcher may be gone, or a socket removed by a watcher called before it.
        auto it = m_watchers.find(events[i].data.u64);
        if (it == m_watchers.end()) continue;
        if (auto watcher = it->second.lock()) watcher->ready(events[i].events);
    }
}

uint64_t IoLoop::add(int fd, uint32_t events, std::weak_ptr<Watcher> watcher) {
    try {
        uint64_t token = m_nextToken++;
        m_watchers.emplace(token, std::move(watcher));
        epoll_event event{events | EPOLLONESHOT, {}};
        event.data.u64 = token;
        if (::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) == 0) return token;
        int error = errno;
        m_watchers.erase(token);
        errno = error;
    } catch (const std::bad_alloc&) {
        errno = ENOMEM;
    }
    return 0;
}

void IoLoop::arm(int fd, uint64_t token, uint32_t events) {
    epoll_event event{events | EPOLLONESHOT, {}};
    event.data.u64 = token;
    ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event);
}

bool IoLoop::callWhenIdle(std::shared_ptr<Watcher> watcher) {
    std::lock_guard guard(m_idleLock);
    if (!m_idleTicking) {
        try {
            post([this] { tickIdle(); });
        } catch (const std::bad_alloc&) {
            return false;
        }
        m_idleTicking = true;
    }
    watcher->m_nextIdle = std::move(m_idleFirst);
    m_idleFirst = std::move(watcher);
    return true;
}

void IoLoop::tickIdle() {
    std::shared_ptr<Watcher> stranded;
    {
        std::lock_guard guard(m_idleLock);
        if (!m_idleFirst) {
            m_idleTicking = false;
            return;
        }
        try {
            m_idleTimer.expires_after(kIdleTick);
            m_idleTimer.async_wait([this](const std::error_code& error) {
                if (!error) callIdle();
            });
            return;
        } catch (const std::bad_alloc&) {
            stranded = std::move(m_idleFirst);   // no memory for the wait: each is done now
            m_idleTicking = false;
        }
    }
    while (stranded) {
        auto next = std::move(stranded->m_nextIdle);
        stranded->idle(true);
        stranded = std::move(next);
    }
}

void IoLoop::callIdle() {
    std::shared_ptr<Watcher> first, again;
    {
        std::lock_guard guard(m_idleLock);
        first = std::move(m_idleFirst);
    }
    // Outside the lock: a watcher takes its own lock, under which it may ask again.
    while (first) {
        auto next = std::move(first->m_nextIdle);
        if (!first->idle(false)) {
            first->m_nextIdle = std::move(again);
            again = std::move(first);
        }
        first = std::move(next);
    }
    {
        std::lock_guard guard(m_idleLock);
        while (again) {
            auto next = std::move(again->m_nextIdle);
            again->m_nextIdle = std::move(m_idleFirst);
            m_idleFirst = std::move(again);
            again = std::move(next);
        }
    }
    tickIdle();
}

void IoLoop::remove(int fd, uint64_t token) {
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
    m_watchers.erase(token);
}

IoLoop& IoLoop::get() {
    // Never destroyed: printers the host never closes keep using it until
    // exit, and the stopper below ends its thread before the statics go.
    // A loop that cannot be made or started throws, and the next call tries again.
    static IoLoop* loop = [] {
        std::unique_ptr<IoLoop> l(new IoLoop);
        l->start();
        return l.release();
    }();
    static struct Stopper {
        ~Stopper() { loop->stop(); }
    } stopper;
    return *loop;
}

bool IoLoop::onIoThread() { return t_onIoThread; }

void IoLoop::start() {
    m_thread = std::thread([this] {
        t_onIoThread = true;
        ::pthread_setname_np(::pthread_self(), "zorbce-io");
        auto work = asio::make_work_guard(m_context);
        // A handler that throws leaves run(); the loop carries on.
        for (;;) {
            try {
                m_context.run();
                return;
            } catch (...) {
            }
        }
    });
}

void IoLoop::stop() {
    m_context.stop();
    if (onIoThread()) {
        m_thread.detach();   // exit was called from a completion
    } else if (m_thread.joinable()) {
        m_thread.join();
    }
    m_stopped = true;
}

void IoLoop::runAndWait(const std::function<void()>& work) {
    if (onIoThread() || m_stopped) {
        work();
        return;
    }
    std::mutex lock;
    std::condition_variable ran;
    bool done = false;
    post([&] {
        work();
        std::lock_guard guard(lock);
        done = true;
        ran.notify_one();
    });
    std::unique_lock guard(lock);
    ran.wait(guard, [&] { return done; });
}

}  // namespace zorbce
