// The frame assembler every connection is read through: arbitrary bytes fed
// in pieces of arbitrary sizes must give the frames, and the end, that the
// whole bytes decoded at once give, holding no more than one frame meanwhile.
//
// Input: a byte n, then n + 1 bytes of the stream as one piece, and so on.
#include <cstdlib>
#include <vector>

#include "wire/frame.h"
#include "wire/frame_assembler.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<kvwire::Bytes> pieces;
    kvwire::Bytes stream;
    for (size_t at = 0; at < size;) {
        size_t n = std::min<size_t>(size_t{data[at]} + 1, size - at - 1);
        pieces.emplace_back(data + at + 1, data + at + 1 + n);
        stream.insert(stream.end(), data + at + 1, data + at + 1 + n);
        at += 1 + n;
    }

    // The frames as decoded from the whole stream at once.
    std::vector<kvwire::Frame> expected;
    kvwire::Frame frame;
    size_t at = 0, used = 0;
    kvwire::Decode end;
    while ((end = kvwire::decodeFrame(stream.data() + at, stream.size() - at, &frame, &used)) == kvwire::Decode::Ok) {
        expected.push_back(frame);
        at += used;
    }

    kvwire::FrameAssembler frames;
    size_t taken = 0;
    auto last = kvwire::FrameAssembler::Result::NeedMore;
    for (const kvwire::Bytes& piece : pieces) {
        frames.feed(piece.data(), piece.size());
        while ((last = frames.next(&frame)) == kvwire::FrameAssembler::Result::Frame) {
            if (taken >= expected.size() || frame.type != expected[taken].type || frame.id != expected[taken].id ||
                frame.payload != expected[taken].payload)
                std::abort();
            ++taken;
        }
        if (frames.capacity() > kvwire::kHeaderSize + kvwire::kMaxPayload) std::abort();
    }
    bool failed = last != kvwire::FrameAssembler::Result::NeedMore;
    if (taken != expected.size() || failed != (end == kvwire::Decode::Malformed)) std::abort();
    return 0;
}
