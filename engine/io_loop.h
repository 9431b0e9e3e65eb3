// The engine's I/O thread: one asio event loop that drives every TCP
// connection of the process. It starts with the first tcp:// printer and runs
// until the process ends.
//
// asio runs the loop, the work handed to it and the timers. The sockets are
// watched through an epoll set of the loop's own, registered one-shot, which
// asio's reactor watches as one descriptor: any thread can change what the
// loop waits for on a socket with one system call (asio lets only the loop's
// thread touch a socket it watches), so that a caller waiting for its reply
// can read the socket itself without the loop being woken for it. A watcher
// that leaves its socket unwatched for a while asks to be called when idle:
// the loop calls it every tick until it says it is done.
#pragma once

#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace zorbce {

class IoLoop {
public:
    // What watches a socket: ready() runs on the loop thread with the epoll
    // events that came. The socket is then not watched until armed again.
    class Watcher {
    public:
        virtual void ready(uint32_t events) = 0;
        // On the loop thread, a tick after callWhenIdle: true when done,
        // false to be called again a tick later; `now`: it cannot be called
        // again, it must be done now.
        virtual bool idle(bool /*now*/) { return true; }

    protected:
        ~Watcher() = default;

    private:
        friend class IoLoop;
        std::shared_ptr<Watcher> m_nextIdle;   // in the loop's list of watchers to call when idle
    };

    // The interval of calls to idle().
    static constexpr std::chrono::milliseconds kIdleTick{2};

    // The loop, started on first use. Until it is, this throws
    // std::system_error when it cannot be made or started (no descriptor or
    // thread to spare); the next call tries again.
    static IoLoop& get();
    // True on the loop's thread.
    static bool onIoThread();

    asio::io_context& context() { return m_context; }

    // Runs `work` on the loop thread later. May throw std::bad_alloc.
    template <class Work>
    void post(Work&& work) {
        asio::post(m_context, std::forward<Work>(work));
    }
    // Runs `work` on the loop thread and returns when it has run: at once
    // when called on the loop thread.
    void runAndWait(const std::function<void()>& work);

    // Watches `fd` for `events` (EPOLLIN, EPOLLOUT), once, for `watcher`: a
    // token for arm() and remove(), or 0 with errno when it cannot. Loop
    // thread only.
    uint64_t add(int fd, uint32_t events, std::weak_ptr<Watcher> watcher);
    // Watches `fd` again, for `events` (none: only for a hang-up). Any thread.
    void arm(int fd, uint64_t token, uint32_t events);
    // Calls watcher->idle() on the loop thread a tick from now, and each tick
    // after while it returns false. Any thread; at most once at a time per
    // watcher. False when it cannot (no memory).
    bool callWhenIdle(std::shared_ptr<Watcher> watcher);
    // Stops watching `fd`. Loop thread only.
    void remove(int fd, uint64_t token);

    // A buffer for the loop thread's socket reads; only that thread uses it.
    uint8_t* scratch() { return m_scratch; }
    static constexpr size_t kScratchSize = 64 * 1024;

private:
    IoLoop();
    void start();
    // Ends the loop at process exit, before the statics it uses are gone;
    // from then on runAndWait runs its work on the calling thread.
    void stop();
    void awaitEvents();
    void dispatchEvents();
    void tickIdle();   // the idle timer, while watchers wait for it
    void callIdle();

    asio::io_context m_context{1};   // one thread runs it
    int m_epoll = -1;
    asio::posix::stream_descriptor m_events;   // m_epoll, as asio watches it
    std::unordered_map<uint64_t, std::weak_ptr<Watcher>> m_watchers;   // by token; loop thread only
    uint64_t m_nextToken = 1;
    std::mutex m_idleLock;                   // guards the two below
    std::shared_ptr<Watcher> m_idleFirst;    // to call when idle, linked by m_nextIdle
    bool m_idleTicking = false;              // the idle timer runs, or is being started
    asio::steady_timer m_idleTimer;
    std::thread m_thread;
    std::atomic<bool> m_stopped{false};
    uint8_t m_scratch[kScratchSize];
};

}  // namespace zorbce
