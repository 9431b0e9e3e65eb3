// The engine's TCP frame reader: arbitrary bytes read as frames, from a buffer
// and from a socket, and every frame's payload decoded as each message type.
#include <sys/socket.h>
#include <unistd.h>

#include "wire/frame.h"
#include "wire/socket.h"

namespace {

template <typename Message>
void tryDecode(const kvwire::Bytes& payload) {
    Message m;
    kvwire::decode(payload, &m);
}

void decodePayload(const kvwire::Bytes& payload) {
    tryDecode<kvwire::HelloRequest>(payload);
    tryDecode<kvwire::HelloReply>(payload);
    tryDecode<kvwire::SendBidiRequest>(payload);
    tryDecode<kvwire::QueryAlertRequest>(payload);
    tryDecode<kvwire::DataReply>(payload);
    tryDecode<kvwire::PrtInfoRequest>(payload);
    tryDecode<kvwire::PrtInfoReply>(payload);
    tryDecode<kvwire::AddressRequest>(payload);
    tryDecode<kvwire::AddressReply>(payload);
    tryDecode<kvwire::NameRequest>(payload);
    tryDecode<kvwire::NameReply>(payload);
    tryDecode<kvwire::AlertNotice>(payload);
    tryDecode<kvwire::ErrorReply>(payload);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // From a buffer, frame after frame.
    size_t at = 0;
    kvwire::Frame frame;
    size_t used = 0;
    while (at < size && kvwire::decodeFrame(data + at, size - at, &frame, &used) == kvwire::Decode::Ok) {
        decodePayload(frame.payload);
        at += used;
    }

    // From a socket whose peer wrote the bytes and closed (non-blocking: an
    // input larger than the socket buffer is not read this way).
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) != 0) return 0;
    int buffer = static_cast<int>(size + 4096);
    ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    ::setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    if (kvwire::writeAll(fds[0], data, size) == kvwire::Io::Ok) {
        ::shutdown(fds[0], SHUT_WR);
        // As the engine reads a connection: the greeting's answer whole, then
        // frame after frame through the buffered reader.
        if (kvwire::readFrame(fds[1], &frame, 1000) == kvwire::Io::Ok) {
            decodePayload(frame.payload);
            kvwire::FrameReader frames(fds[1]);
            while (frames.read(&frame, 1000) == kvwire::Io::Ok) decodePayload(frame.payload);
        }
    }
    ::close(fds[0]);
    ::close(fds[1]);
    return 0;
}
