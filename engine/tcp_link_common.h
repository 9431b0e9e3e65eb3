// What the files of TcpLink share: its small helpers and the waiter of a
// synchronous call. The link is cut by concern:
//   tcp_link.cpp          the core: starting calls, writing, time-outs, drops
//   tcp_link_connect.cpp  resolving, dialling and the greeting
//   tcp_link_reading.cpp  reading the connection, handed over between threads
//   tcp_link_drive.cpp    BceRunAsync's drive: its writes, waits and reading
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <new>
#include <thread>
#include <utility>

#include "io_loop.h"
#include "tcp_link.h"

namespace zorbce::tcplink {

// Buffers of an idle link larger than this are given back.
constexpr size_t kKeptBuffer = 4096;
// How late a blocking receive may return beyond the socket's receive
// time-out (the kernel counts it in clock ticks).
constexpr std::chrono::milliseconds kReceiveTimeoutSlack{20};

inline void release(kvwire::Bytes& bytes) {
    bytes.clear();
    if (bytes.capacity() > kKeptBuffer) kvwire::Bytes().swap(bytes);
}

inline bool isReply(const kvwire::Frame& frame) {
    return (frame.type & kvwire::kReplyBit) || frame.type == kvwire::kError;
}

// Runs `work` on the I/O thread later; false when there is no memory for it.
template <class Work>
bool later(Work&& work) {
    try {
        IoLoop::get().post(std::forward<Work>(work));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

}  // namespace zorbce::tcplink

namespace zorbce {

// A request a caller waits for, on a semaphore: the caller never waits for
// a lock the thread that finished the call still holds. The caller may see
// `ready` before the finishing thread has posted (it was reading, or its
// wait timed out), so the waiter outlives the post: `posted` is the
// finishing thread's last touch, and the destructor waits for it.
class TcpLink::Waiter final : public LinkCall, public LinkWaiter {
public:
    Waiter() : LinkWaiter(false) { waiter = this; }
    ~Waiter() override {
        if (ready.load(std::memory_order_acquire))
            while (!m_posted.load(std::memory_order_acquire)) std::this_thread::yield();
    }

    void finish(long result, kvwire::Frame& frame) override {
        rc = result;
        reply = std::move(frame);
        ready.store(true, std::memory_order_release);
        ::sem_post(&wake);
        m_posted.store(true, std::memory_order_release);
    }

    long rc = BCE_OK;
    kvwire::Frame reply;

private:
    std::atomic<bool> m_posted{false};
};

}  // namespace zorbce
