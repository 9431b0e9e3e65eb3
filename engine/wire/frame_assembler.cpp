#include "frame_assembler.h"

#include <algorithm>
#include <new>

namespace kvwire {

void FrameAssembler::feed(const uint8_t* data, size_t length) {
    // Bytes fed before were not all taken: the stream would lose them.
    if (m_fedLength > 0) failed(Result::Malformed);
    if (m_failure != Result::NeedMore) return;
    m_fed = data;
    m_fedLength = data ? length : 0;
}

FrameAssembler::Result FrameAssembler::next(Frame* frame) {
    if (m_failure != Result::NeedMore) return m_failure;
    try {
        // An unfinished frame takes from the fed bytes what it lacks, no more:
        // the rest of its header, then the rest of its payload.
        while (!m_partial.empty()) {
            size_t size = m_partial.size();
            size_t lacking = size < kHeaderSize ? kHeaderSize - size : m_frameSize - size;
            size_t n = std::min(m_fedLength, lacking);
            keep(m_fed, n);
            m_fed += n;
            m_fedLength -= n;
            size_t used = 0;
            Result result = judge(m_partial.data(), m_partial.size(), frame, &used);
            if (result == Result::Frame) {
                Bytes().swap(m_partial);
                m_frameSize = 0;
                return result;
            }
            if (result != Result::NeedMore) return failed(result);
            if (m_fedLength == 0) return result;
        }
        if (m_fedLength == 0) return Result::NeedMore;
        size_t used = 0;
        Result result = judge(m_fed, m_fedLength, frame, &used);
        if (result == Result::Frame) {
            m_fed += used;
            m_fedLength -= used;
            m_frameSize = 0;
            return result;
        }
        if (result != Result::NeedMore) return failed(result);
        keep(m_fed, m_fedLength);
        m_fedLength = 0;
        return result;
    } catch (const std::bad_alloc&) {
        failed(Result::Malformed);
        throw;
    }
}

void FrameAssembler::clear() {
    Bytes().swap(m_partial);
    m_frameSize = 0;
    m_fed = nullptr;
    m_fedLength = 0;
    m_failure = Result::NeedMore;
}

FrameAssembler::Result FrameAssembler::judge(const uint8_t* data, size_t length, Frame* frame, size_t* used) {
    // A wrong magic is caught as soon as its bytes are there, so garbage is
    // refused before waiting for a whole header.
    for (size_t i = 0; i < 2 && i < length; ++i)
        if (data[i] != kMagic[i]) return Result::Malformed;
    if (length < kHeaderSize) return Result::NeedMore;
    ByteReader in(data, length);
    FrameHeader header;
    if (!readHeader(in, &header)) return Result::Malformed;
    if (header.payloadLength > m_maxPayload) return Result::Oversized;
    m_frameSize = kHeaderSize + header.payloadLength;
    if (!in.has(header.payloadLength)) return Result::NeedMore;
    frame->type = header.type;
    frame->id = header.id;
    frame->payload.assign(in.here(), in.here() + header.payloadLength);
    *used = m_frameSize;
    return Result::Frame;
}

void FrameAssembler::keep(const uint8_t* data, size_t n) {
    size_t needed = m_partial.size() + n;
    if (m_partial.capacity() < needed) {
        size_t frame = m_frameSize ? m_frameSize : needed;
        m_partial.reserve(std::max(needed, std::min(2 * m_partial.capacity(), frame)));
    }
    m_partial.insert(m_partial.end(), data, data + n);
}

FrameAssembler::Result FrameAssembler::failed(Result why) {
    Bytes().swap(m_partial);
    m_frameSize = 0;
    m_fed = nullptr;
    m_fedLength = 0;
    m_failure = why;
    return why;
}

}  // namespace kvwire
