// A printer's object-model variables for a ScriptedPrinter: requests 0x4F
// (set) and 0x4E (read) are answered from a store, as a printer would, so a
// test can send settings into one printer and read them out of another.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "scripted_printer.h"

namespace kvtest {

class VariableStore {
public:
    VariableStore();

    // Answers 0x4E and 0x4F of `printer` from this store (other requests get
    // an empty success). The store lives as long as the printer keeps the handler.
    void attachTo(ScriptedPrinter& printer);

    void set(uint16_t id, const ByteVec& value);
    std::optional<ByteVec> get(uint16_t id) const;
    std::map<uint16_t, ByteVec> all() const;
    // Reads and writes of `id` fail with engine result `rc`.
    void refuse(uint16_t id, long rc = -3);

    // The answer to one request, for handlers that do more than the store.
    Answer respond(const SentRequest& request) { return answer(*m_state, request); }

private:
    struct State {
        mutable std::mutex lock;
        std::map<uint16_t, ByteVec> values;
        std::map<uint16_t, long> refused;
    };
    static Answer answer(State& state, const SentRequest& request);
    std::shared_ptr<State> m_state;
};

}  // namespace kvtest
