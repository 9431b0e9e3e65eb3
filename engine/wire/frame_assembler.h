// Reassembles the frames of a byte stream: the bytes of each receive go in as
// they came, cut anywhere, and whole frames come out in stream order. The
// engine's link, the simulator daemon and the tests' FrameReader read their
// connections through it.
//
//     assembler.feed(buffer, received);
//     for (Frame f; assembler.next(&f) == FrameAssembler::Result::Frame;) use(f);
//
// The fed bytes are read in place; only the start of an unfinished frame is
// copied, when next() has taken every whole frame before it and returns
// NeedMore. So call next() until it returns something other than Frame before
// the fed bytes change or more are fed.
//
// Bounds: the copy grows by doubling but never beyond the frame it holds, so
// memory follows what has arrived, not what a header announces; a header
// announcing a payload over the limit is refused (Oversized) as soon as it is
// in, before any of its payload. A failure sticks until clear(). A drained
// assembler holds no memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame.h"

namespace kvwire {

class FrameAssembler {
public:
    enum class Result {
        Frame,       // a whole frame was taken
        NeedMore,    // every byte fed is taken: the stream ends inside a frame, or between two
        Malformed,   // the bytes are not frames of this protocol (magic, version, type)
        Oversized,   // a header announces a payload over the limit
    };

    explicit FrameAssembler(uint32_t maxPayload = kMaxPayload) : m_maxPayload(maxPayload) {}
    FrameAssembler(const FrameAssembler&) = delete;
    FrameAssembler& operator=(const FrameAssembler&) = delete;

    // Adds the bytes of one receive (see the top: they are read in place).
    void feed(const uint8_t* data, size_t length);
    // The next whole frame, or why there is none. Throws std::bad_alloc when
    // the unfinished frame cannot be kept; the assembler is failed then.
    Result next(Frame* frame);
    // Forgets every byte and the failure, and gives back the memory.
    void clear();

    // The memory the unfinished frame takes (a daemon charges it to its client).
    size_t capacity() const { return m_partial.capacity(); }

private:
    // Judges the bytes at the start of [data, data + length): a whole frame
    // (its size in `used`), NeedMore, or a failure. Learns m_frameSize.
    Result judge(const uint8_t* data, size_t length, Frame* frame, size_t* used);
    // Adds n bytes to the unfinished frame, growing as the top says.
    void keep(const uint8_t* data, size_t n);
    Result failed(Result why);

    const uint32_t m_maxPayload;
    Bytes m_partial;                  // the start of an unfinished frame
    size_t m_frameSize = 0;           // its whole size once its header is in, else 0
    const uint8_t* m_fed = nullptr;   // fed bytes not yet taken
    size_t m_fedLength = 0;
    Result m_failure = Result::NeedMore;   // NeedMore: not failed
};

}  // namespace kvwire
