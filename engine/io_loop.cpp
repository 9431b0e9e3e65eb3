#include "io_loop.h"

#include <pthread.h>

#include <asio/executor_work_guard.hpp>

#include <condition_variable>
#include <mutex>

namespace zorbce {
namespace {

thread_local bool t_onIoThread = false;

}  // namespace

IoLoop& IoLoop::get() {
    // Never destroyed: printers the host never closes keep using it until
    // exit, and the stopper below ends its thread before the statics go.
    static IoLoop* loop = [] {
        auto* l = new IoLoop;
        l->start();
        return l;
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
