// Running a call on the backend's loop (gateway.h) and waiting for its
// callback, as the printer does.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <optional>

#include "gateway.h"

namespace kvtest {

// Calls `start(done)` on the loop and waits for done(result), up to `limit`.
template <class Result, class Start>
std::optional<Result> onLoop(Start start, std::chrono::seconds limit = std::chrono::seconds(30)) {
    auto promise = std::make_shared<std::promise<Result>>();
    auto future = promise->get_future();
    kvnet::Gateway::instance().post([start, promise]() mutable {
        start([promise](Result result) { promise->set_value(std::move(result)); });
    });
    if (future.wait_for(limit) != std::future_status::ready) {
        ADD_FAILURE() << "no callback within " << limit.count() << " s";
        return std::nullopt;
    }
    return future.get();
}

// Runs `work` on the loop and waits for it.
template <class Work>
void runOnLoop(Work work) {
    std::promise<void> done;
    kvnet::Gateway::instance().post([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

}  // namespace kvtest
