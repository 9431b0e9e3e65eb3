// The engine's I/O thread: one asio event loop that drives every TCP
// connection of the process. It starts with the first tcp:// printer and runs
// until the process ends.
#pragma once

#include <asio/io_context.hpp>
#include <asio/post.hpp>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>

namespace zorbce {

class IoLoop {
public:
    // The loop, started on first use.
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

    // A buffer for the loop thread's socket reads; only that thread uses it.
    uint8_t* scratch() { return m_scratch; }
    static constexpr size_t kScratchSize = 64 * 1024;

private:
    IoLoop() = default;
    void start();
    // Ends the loop at process exit, before the statics it uses are gone;
    // from then on runAndWait runs its work on the calling thread.
    void stop();

    asio::io_context m_context{1};   // one thread runs it
    std::thread m_thread;
    std::atomic<bool> m_stopped{false};
    uint8_t m_scratch[kScratchSize];
};

}  // namespace zorbce
