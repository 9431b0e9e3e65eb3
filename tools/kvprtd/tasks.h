// A fixed set of threads that run queued tasks in turn: kvprtd's threads do
// not grow with the fleet.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kvprtd {

class TaskPool {
public:
    // `name` (at most 15 characters) names the threads for ps and debuggers.
    TaskPool(std::string name, unsigned threads);
    // Runs what is queued, then joins the threads.
    ~TaskPool();
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    void post(std::function<void()> task);
    // Runs every task queued so far, then joins the threads; posts afterwards are dropped.
    void stop();

private:
    void run();

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_stopping = false;
    std::string m_name;
    std::vector<std::thread> m_threads;
};

}  // namespace kvprtd
