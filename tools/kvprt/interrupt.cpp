#include "interrupt.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

namespace kvprt {
namespace {

std::mutex handlerLock;
std::function<void()> handler;
std::atomic<bool> signalled{false};

void waitForSignals(sigset_t set) {
    for (;;) {
        int signal = 0;
        if (sigwait(&set, &signal) != 0) continue;
        std::lock_guard guard(handlerLock);
        if (signalled.exchange(true) || !handler) {
            const char* said = signal == SIGINT ? "kvprt: interrupted (SIGINT)\n" : "kvprt: terminated (SIGTERM)\n";
            [[maybe_unused]] ssize_t written = ::write(STDERR_FILENO, said, std::strlen(said));
            _exit(130);
        }
        handler();
    }
}

}  // namespace

void catchInterrupts() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(waitForSignals, set).detach();
}

void onInterrupt(std::function<void()> h) {
    std::lock_guard guard(handlerLock);
    handler = std::move(h);
}

bool interrupted() { return signalled.load(); }

}  // namespace kvprt
