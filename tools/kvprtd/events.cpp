#include "events.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "command.h"
#include "json_text.h"
#include "texts.h"
#include "times.h"

namespace kvprtd {
namespace {

using json = nlohmann::ordered_json;

Event event(std::string kind, std::string text, const json& data) {
    Event e;
    e.kind = std::move(kind);
    e.text = std::move(text);
    e.data = kvprt::jsonText(data, -1);
    return e;
}

void alertChanges(const Snapshot& before, const Snapshot& after, std::vector<Event>* out) {
    // Only families read by both polls are compared: a failed read clears nothing.
    uint16_t known = before.familiesKnown & after.familiesKnown;
    auto compared = [&](const ActiveAlert& a) { return (known >> a.family) & 1; };
    auto report = [&](const std::vector<ActiveAlert>& from, const std::vector<ActiveAlert>& against, const char* kind) {
        for (const ActiveAlert& a : from) {
            if (!compared(a) || std::find(against.begin(), against.end(), a) != against.end()) continue;
            out->push_back(event(kind, kvprt::alertText(a.id, a.value),
                                 {{"family", kvprt::alertFamilyKey(a.family)}, {"id", a.id}, {"value", a.value}}));
        }
    };
    report(after.alerts, before.alerts, "alert-raised");
    report(before.alerts, after.alerts, "alert-cleared");
}

void supplyChanges(const Snapshot& before, const Snapshot& after, std::vector<Event>* out) {
    for (const Supply& now : after.supplies) {
        auto was = std::find_if(before.supplies.begin(), before.supplies.end(),
                                [&](const Supply& s) { return s.id == now.id; });
        if (was == before.supplies.end() || std::isnan(was->ratio) || std::isnan(now.ratio)) continue;
        const float* passed = nullptr;
        for (const float& mark : kSupplyMarks)
            if (was->ratio > mark && now.ratio <= mark) passed = &mark;
        if (passed == nullptr) continue;
        std::string name = "toner supply " + std::to_string(now.id);
        std::string text = *passed == 0.0f ? name + " is empty"
                                           : name + " at " + std::to_string(static_cast<int>(*passed * 100 + 0.5f)) +
                                                 " % or less";
        out->push_back(event("supply", text, {{"supply", now.id}, {"mark", *passed}, {"ratio", now.ratio}}));
    }
}

}  // namespace

std::vector<Event> changes(const Snapshot& before, const Snapshot& after) {
    std::vector<Event> out;
    if (after.health != before.health && after.health != Health::Unknown)
        out.push_back(after.health == Health::Up ? event("up", "up", json::object())
                                                 : event("down", after.error, {{"error", after.error}}));
    alertChanges(before, after, &out);
    supplyChanges(before, after, &out);
    return out;
}

std::string eventJson(const Event& e) {
    return ObjectText()
        .add("id", e.id)
        .add("time", rfc3339(e.time))
        .add("printer", e.printer)
        .add("kind", e.kind)
        .add("text", e.text)
        .addText("data", e.data)
        .done();
}

}  // namespace kvprtd
