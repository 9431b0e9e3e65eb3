// Deadlines kept on the steady clock, turned into what the waits of the
// system take: poll's milliseconds and sem_timedwait's real-time instant.
#pragma once

#include <algorithm>
#include <chrono>
#include <ctime>

namespace zorbce {

// Milliseconds left until `deadline`, rounded up, for poll; 0 once it has passed.
inline int msUntil(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    return left > 0 ? static_cast<int>(std::min<long long>(left, 1 << 30)) : 0;
}

// The instant on the real-time clock, which sem_timedwait counts on, as far
// ahead as `deadline` on the steady clock; now once it has passed.
inline timespec realTimeAt(std::chrono::steady_clock::time_point deadline) {
    using std::chrono::nanoseconds;
    auto left = std::chrono::duration_cast<nanoseconds>(deadline - std::chrono::steady_clock::now());
    auto at = std::chrono::duration_cast<nanoseconds>(std::chrono::system_clock::now().time_since_epoch()) +
              std::max(left, nanoseconds(0));
    return timespec{static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(at).count()),
                    static_cast<long>(at.count() % 1000000000)};
}

}  // namespace zorbce
