// Blocking socket helpers of the framed protocol: whole-frame reads and
// writes, a TCP connect with a time-out, and a listening socket.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

#include "frame.h"
#include "frame_assembler.h"

namespace kvwire {

enum class Io {
    Ok,
    Closed,      // the peer closed or reset the connection (also inside a frame)
    Malformed,   // the bytes are not a frame of this protocol
    TimedOut,
    Failed,      // any other socket error
};

// Reads one whole frame. With `timeoutMs` >= 0 the whole read must finish in
// that time; -1 waits as long as it takes.
Io readFrame(int fd, Frame* frame, int timeoutMs = -1);
// Reads the frames of one connection through a FrameAssembler: each recv
// takes what has arrived, so a frame (often several) costs one system call,
// and bytes of a frame cut short by a time-out wait for the next read.
class FrameReader {
public:
    explicit FrameReader(int fd) : m_fd(fd), m_chunk(kChunk) {}
    // The next frame; with `timeoutMs` >= 0 it must arrive in that time.
    Io read(Frame* frame, int timeoutMs = -1);

private:
    static constexpr size_t kChunk = 4096;   // what one recv takes at most
    int m_fd;
    Bytes m_chunk;              // the last recv's bytes, read in place by m_frames
    FrameAssembler m_frames;
};

// Writes one whole frame; never raises SIGPIPE.
Io writeFrame(int fd, const Frame& frame);
Io writeAll(int fd, const void* data, size_t length);

enum class Connect {
    Ok,
    Refused,       // nobody listens there, or the host or network is unreachable
    TimedOut,      // no answer to the connection attempt within the time-out
    BadAddress,    // the host name does not resolve
};

// Whether `error` (an errno) says the process or the system is out of what a
// connection needs: descriptors, socket buffers, memory, or watches of an
// epoll set. No printer was tried then, and none can be until some are freed.
inline bool outOfResources(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM || error == ENOSPC;
}

// A connected TCP socket with TCP_NODELAY, or -1 with `result` telling why.
int connectTcp(const std::string& host, const std::string& port, int timeoutMs, Connect* result);

// A listening socket bound to host:port (port "0" picks a free one, reported
// through `boundPort`), or -1 with a message in `error`. `backlog` bounds the
// connections the kernel holds until they are accepted.
int listenTcp(const std::string& host, const std::string& port, uint16_t* boundPort, std::string* error,
              int backlog = 128);

// Splits "HOST:PORT" or "[V6]:PORT"; false when malformed.
bool splitHostPort(const std::string& text, std::string* host, std::string* port);

// Writes a listening daemon's port to `path` (a line of digits), under a
// temporary name renamed into place, so that a reader never sees half of it.
bool writePortFile(const std::string& path, uint16_t port);

}  // namespace kvwire
