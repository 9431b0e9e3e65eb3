// Pushed alerts from the difference of two snapshots: each change raises its
// family once, with the new state's data, and a refresh that changed nothing
// raises nothing.
#include <gtest/gtest.h>

#include <functional>

#include "events.h"
#include "kvprtobj/kvprtsim.h"

using kvnet::Snapshot;

namespace {

Snapshot builtIn() {
    Snapshot s;
    std::string error;
    EXPECT_TRUE(kvsim::loadProfile(kvsim::SimPrinter::defaultProfileJson(), &s.profile, &error)) << error;
    s.answer(kvbidi::kQueryJobs);
    return s;
}

// The families raised from the built-in printer changed by `first` to the
// same changed by `then`, with the first byte of each one's data.
using Change = std::function<void(Snapshot&)>;
std::string raised(const Change& then, const Change& first = [](Snapshot&) {}) {
    Snapshot before = builtIn(), after = builtIn();
    first(before);
    then(after);
    std::string out;
    for (const kvnet::PushedAlert& a : kvnet::changes(before, after)) {
        char text[32];
        std::snprintf(text, sizeof text, "%s%03X:%02X", out.empty() ? "" : " ", a.family,
                      a.data.empty() ? 0 : a.data[0]);
        out += text;
    }
    return out;
}

}  // namespace

TEST(NetEvents, EachChangeRaisesItsFamily) {
    const std::pair<Change, const char*> cases[] = {
        {[](Snapshot&) {}, ""},
        {[](Snapshot& s) { s.profile.deviceStatus[1] = 2; }, "5F4:01"},
        {[](Snapshot& s) { s.profile.panel.text[0] = "PAPER JAM"; }, "5F7:E1"},
        {[](Snapshot& s) { s.profile.variables[0].value = {1}; }, "5F7:E1 5FE:03"},   // locked: the panel shows it too
        {[](Snapshot& s) { s.profile.jobs[0].byte0 = 3; }, "5FD:03"},
        {[](Snapshot& s) { s.profile.jobs.erase(s.profile.jobs.begin()); }, "5FD:03"},
        {[](Snapshot& s) { s.answered.clear(); s.profile.jobs.clear(); }, ""},   // jobs no longer listed: unknown
        {[](Snapshot& s) { s.profile.deviceStatus[0] = 0; s.profile.jobs.clear(); }, "5F4:00 5FD:03 5FD:03 5FD:03"},
    };
    for (const auto& [change, expected] : cases) EXPECT_EQ(raised(change), expected);
}

TEST(NetEvents, TonerCrossingsAndRefills) {
    // Levels in percent, before and after; the built-in supply starts at 3 of 6 steps (no measurement in percent).
    const std::tuple<int, int, int, const char*> cases[] = {
        {101, 25, 21, ""},       {101, 21, 20, "600:03"}, {101, 11, 9, "600:03"}, {101, 6, 5, "600:03"},
        {101, 1, 0, "600:03"},   {101, 9, 6, ""},         {101, 5, 15, "600:03"}, {101, 40, 45, ""},
        {1, 0x80, 0, ""},        // no measurement either side
    };
    for (auto [count, from, to, expected] : cases) {
        auto level = [count](int percent) -> Change {
            return [=](Snapshot& s) {
                s.profile.toner.supplies[0].levelCount = static_cast<uint8_t>(count);
                s.profile.toner.supplies[0].level = static_cast<uint8_t>(percent);
            };
        };
        EXPECT_EQ(raised(level(to), level(from)), expected) << from << " -> " << to;
    }
}
