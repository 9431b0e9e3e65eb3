#include "tasks.h"

#include <pthread.h>

namespace kvprtd {

TaskPool::TaskPool(std::string name, unsigned threads) : m_name(std::move(name)) {
    for (unsigned i = 0; i < threads; ++i) m_threads.emplace_back(&TaskPool::run, this);
}

TaskPool::~TaskPool() { stop(); }

void TaskPool::post(std::function<void()> task) {
    {
        std::lock_guard guard(m_lock);
        if (m_stopping) return;
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_one();
}

void TaskPool::stop() {
    {
        std::lock_guard guard(m_lock);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        if (t.joinable()) t.join();
}

void TaskPool::run() {
    pthread_setname_np(pthread_self(), m_name.substr(0, 15).c_str());
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock guard(m_lock);
            m_wake.wait(guard, [&] { return m_stopping || !m_tasks.empty(); });
            if (m_tasks.empty()) return;
            task = std::move(m_tasks.front());
            m_tasks.pop_front();
        }
        task();
    }
}

}  // namespace kvprtd
