// One printer's connection, driven by the engine's I/O thread (io_loop.h).
//
// A link carries requests of any thread to the server, pipelined, and hands
// each reply to the request with its id. A caller that waits for its reply
// writes its request itself when nothing waits to be written, and reads the
// connection while it waits, so a lone request costs no hand-over between
// threads; a drive (LinkDrive) writes its held requests together and reads
// like a waiting caller; the I/O thread writes the other asynchronous
// requests. Whoever reads hands on every frame in stream order: a reply to a
// waiting caller or drive goes to it at once unless frames wait for the I/O
// thread (m_toLoop not empty, or handed on now); everything else goes to the
// I/O thread. Connecting and time-outs happen on the I/O thread.
//
// Who reads the connection: m_reading, under m_lock; m_reader is the caller
// or drive that reads in Caller and CallerResting (Caller* below).
//   Reading        reads       input watched  meaning
//   Loop           I/O thread  yes            no caller reads (also: no connection)
//   Caller         m_reader    no             a caller or drive reads while it waits
//   CallerResting  m_reader    no             Caller, taken over from Resting or Quiet
//   Resting        nobody      no             left unwatched while callers follow each
//                                             other (no epoll_ctl each); read this tick
//   Quiet          nobody      no             Resting, unread for a whole idle tick
//
//   event                                        from             -> to
//   a caller or drive takes the reading          Loop             -> Caller
//                                                Resting, Quiet   -> CallerResting
//   the reader leaves; a caller waits for its    Caller*          -> the same, with
//     reply, and loopQuiet()                                         that caller, woken
//   the reader leaves; a reply is the loop's     Caller*          -> Loop
//   the reader leaves; no reply is               Caller*          -> Resting
//   a reply becomes the loop's to read           Resting, Quiet   -> Loop
//   arm() (also: to wait for room to write)      Resting, Quiet   -> Loop
//                                                CallerResting    -> Caller
//   an idle tick (IoLoop::kIdleTick)             Resting          -> Quiet
//                                                Quiet            -> Loop
//   the connection drops                         any              -> Loop
// A reader stops and leaves once its own reply went to the I/O thread.
// Resting asks for idle ticks (m_idleQueued), which go on through Resting,
// Quiet and CallerResting; without memory for them Resting is Loop at once.
// An idle link holds a socket and this record, no buffers.
//
// States: closed, dialling (the TCP connection) and greeting (its answer),
// both within one time-out, during which requests wait to go out, and open.
// A failure drops the connection: every request waiting gets the failure, and
// the next request connects again. Within a time-out after an attempt timed
// out, requests fail at once with -17.
//
// The code is cut by concern over four files: see tcp_link_common.h.
#pragma once

#include <semaphore.h>
#include <sys/socket.h>

#include <asio/steady_timer.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "io_loop.h"
#include "kvprtobj/zorbce.h"
#include "wire/frame.h"
#include "wire/frame_assembler.h"

namespace zorbce {

using Clock = std::chrono::steady_clock;

// tcp://HOST:PORT[/PRINTER][?timeout=MS]
struct TcpAddress {
    std::string host, port;
    std::string printer;     // index or name on the server; empty = the first
    int timeoutMs = 5000;    // connection (with greeting) and reply time-out
};

// A thread that waits on a link, for the reply to its request or for the
// replies of its drive, and may read the connection meanwhile. `wake` is
// posted when something came for it and when the reading is handed to it;
// `ready` says that something came.
class LinkWaiter {
public:
    explicit LinkWaiter(bool isDrive) : drive(isDrive) { ::sem_init(&wake, 0, 0); }
    ~LinkWaiter() { ::sem_destroy(&wake); }
    LinkWaiter(const LinkWaiter&) = delete;
    LinkWaiter& operator=(const LinkWaiter&) = delete;

    sem_t wake;
    std::atomic<bool> ready{false};
    const bool drive;   // a LinkDrive; else the call of a synchronous caller
};

// A request, or a wait for the connection, in the hands of a link.
class LinkCall {
public:
    virtual ~LinkCall() = default;
    // The outcome, exactly once, no lock held: 0 with the reply frame (of
    // any type: the caller checks it), or a failure code. On the I/O thread,
    // or on whichever thread reads the connection for calls with a `waiter`.
    virtual void finish(long rc, kvwire::Frame& reply) = 0;

    Clock::time_point deadline;   // set by TcpLink::start
    uint32_t id = 0;              // the request id, set by TcpLink::start
    LinkWaiter* waiter = nullptr; // the thread that waits for it, if any
    LinkCall* nextHeld = nullptr; // in a LinkDrive's list of finished calls
};

// Asynchronous calls that the thread which started them completes itself
// (BceRunAsync): their requests are held until it writes them together, it
// reads their replies while it waits, and their calls, once finished on
// whatever thread, are held here for it.
class LinkDrive final : public LinkWaiter {
public:
    LinkDrive() : LinkWaiter(true) {}
    // Any thread, needing no memory: `call` has its outcome.
    void hold(LinkCall* call) {
        std::lock_guard guard(m_lock);   // posted under the lock: the drive may go once its list is taken
        *m_last = call;
        m_last = &call->nextHeld;
        call->nextHeld = nullptr;
        ready.store(true, std::memory_order_release);
        ::sem_post(&wake);
    }
    // The driving thread: the calls held so far, in order, linked by nextHeld.
    LinkCall* takeHeld() {
        std::lock_guard guard(m_lock);
        LinkCall* first = m_first;
        m_first = nullptr;
        m_last = &m_first;
        ready.store(false, std::memory_order_relaxed);
        return first;
    }

    size_t outstanding = 0;   // calls started and not yet completed; the driving thread's

private:
    std::mutex m_lock;
    LinkCall* m_first = nullptr;
    LinkCall** m_last = &m_first;
};

class TcpLink final : public IoLoop::Watcher, public std::enable_shared_from_this<TcpLink> {
public:
    // `owner` is the printer whose alert notices this link announces.
    TcpLink(TcpAddress address, const BcePrinter* owner);
    ~TcpLink();
    TcpLink(const TcpLink&) = delete;
    TcpLink& operator=(const TcpLink&) = delete;

    // Sends a request of message `type` and waits for its reply on the calling
    // thread (not the I/O thread): 0 with the reply frame, or why not.
    long exchange(uint8_t type, const kvwire::Bytes& payload, kvwire::Frame* reply);
    // Waits until connected (not on the I/O thread): 0, or why not.
    long connect();
    // Sends a request of message `type` (connecting first if need be) whose
    // outcome goes to `call`. 0: `call` will be finished. Otherwise the
    // outcome, and `call` will not be finished: -18 (no memory), -10 (the host
    // name does not resolve), -19 (no resources to resolve it), -17 (a
    // connection attempt timed out less than a time-out ago), -20 (closed).
    long start(LinkCall* call, uint8_t type, const kvwire::Bytes& payload);
    // For `drive`, on its thread: reads the connection when nobody else does
    // and writes the requests held for a drive, all in one write.
    void writeHeld(LinkDrive& drive);
    // For `drive`, on its thread: waits until a call of it is finished,
    // reading the connection meanwhile when it holds the reading; expires its
    // calls past their deadline itself.
    void await(LinkDrive& drive);
    // For `drive`, on its thread, when it is done: hands on the reading.
    void leave(LinkDrive& drive);
    // Why the last connection attempt failed, in words; "" once connected.
    std::string lastFailure();
    // Ends the link: every call waiting gets -20, and from the return on the
    // I/O thread no longer announces alerts for the owner.
    void close();

    void ready(uint32_t events) override;
    bool idle(bool now) override;

private:
    class Waiter;
    enum class State { Closed, Dialling, Greeting, Open };
    enum class Reading { Loop, Caller, CallerResting, Resting, Quiet };   // see the top
    // The I/O thread's handing on of m_toLoop (handleQueued): none, a run
    // handing one on now, or a run posted since a frame was queued (one may
    // be under way too). Every run sets Running or, on an empty queue, Idle.
    enum class Handing { Idle, Running, Posted };
    struct Address {
        sockaddr_storage storage{};
        socklen_t length = 0;
    };
    struct Delivery {   // a reply for a waiting caller
        LinkCall* call;
        kvwire::Frame frame;
    };

    // When `call` holds the reading of the connection: reads it until its
    // reply is in, the connection fails or the deadline.
    void readWhileWaiting(LinkWaiter& waiter);
    // Waits for the outcome of `call` until its deadline.
    long outcome(Waiter& call, kvwire::Frame* reply);
    // With m_lock held, nobody reading: `drive` reads the connection now, if
    // it may (see there).
    bool takeReading(LinkDrive& drive);
    // With m_lock held: the earliest deadline of the calls of `drive` waiting for a reply.
    std::optional<Clock::time_point> driveDeadline(const LinkDrive& drive) const;
    // Takes back a call not yet finished: true when it was still waiting,
    // false when it is being finished now.
    bool abandon(LinkCall* call);
    // The transitions of m_reading (see the top), with m_lock held.
    void startReading(LinkWaiter& reader);   // -> Caller, or CallerResting when resting
    // When `from` reads the connection, the reading goes to another caller
    // waiting for its reply, or back to the I/O thread: Loop or Resting.
    void handOnReading(LinkWaiter* from);
    void rest();          // -> Resting, the idle ticks asked for
    void watchAgain();    // Resting, Quiet -> Loop: a reply is the I/O thread's to read
    bool resting() const { return m_reading == Reading::Resting || m_reading == Reading::Quiet; }
    // No frame waits for the I/O thread, nor is handed on by it now.
    bool loopQuiet() const { return m_toLoop.empty() && m_handing != Handing::Running; }

    // With m_lock held.
    long prepare(std::unique_lock<std::mutex>& guard);   // a connection up or on its way, or why not
    enum class Write { Now, Later, Held };   // by the caller, by the I/O thread, by a drive
    void send(uint8_t type, uint32_t id, const kvwire::Bytes& payload, Write write);
    void postFlush();   // the I/O thread writes m_out
    void watch();   // the deadline of a new call is watched
    void arm();     // the socket watched for what the link waits for now: Loop or Caller
    // One receive: the frames that came are handed on (see the top);
    // `received` is how many bytes came. 0, -16 (closed) or -2 (no frames).
    long receive(uint8_t* buffer, size_t size, std::vector<Delivery>& deliveries, size_t* received);
    // The same for a receive already made: `n` and `error` are what recv
    // gave. `readerReplyQueued` is set when a reply for m_reader went to the
    // I/O thread.
    long takeReceived(ssize_t n, int error, const uint8_t* buffer, std::vector<Delivery>& deliveries,
                      bool& readerReplyQueued);
    // Hands on `frame`: true when it is a reply for m_reader that went to the I/O thread.
    bool route(kvwire::Frame& frame, std::vector<Delivery>& deliveries);
    std::optional<Clock::time_point> nextDeadline() const;
    // The calls taken off a link, to be finished outside its lock. Taking
    // them needs no memory, so a drop cannot fail.
    struct Taken {
        std::unordered_map<uint32_t, LinkCall*> pending;
        std::vector<LinkCall*> awaiting;
        std::vector<LinkCall*> expired;
    };
    // Drops the connection; returns the calls to finish with `rc`.
    Taken dropLocked(long rc);

    // I/O thread.
    void dial(uint64_t generation, size_t endpoint);
    void dialled(uint64_t generation);
    // Dialling `endpoint` failed with `error` (an errno): the next address,
    // unless the process or system is out of resources for any connection.
    void dialFailed(uint64_t generation, size_t endpoint, int error);
    // Makes the connected socket `fd` blocking, a receive giving up after
    // m_blockingRead: true, or false when reads stay non-blocking.
    bool blockingReads(int fd) const;
    void readOnLoop(uint64_t generation);
    void handleQueued(uint64_t generation);
    // Handles one frame; false when it dropped the connection.
    bool handle(uint64_t generation, kvwire::Frame& frame);
    void greeted(uint64_t generation, const kvwire::Frame& frame);
    void flush(uint64_t generation);
    void armTimer(Clock::time_point at);
    void timerFired();
    // Drops the connection of `generation` (if still current) with `rc`.
    void fail(uint64_t generation, long rc);

    static void deliver(std::vector<Delivery>& deliveries);
    static void finishAll(Taken& calls, long rc);

    const TcpAddress m_address;
    const std::chrono::milliseconds m_timeout;
    // What one blocking receive of a waiting caller waits at most: half the
    // time-out (0: callers poll), so that it returns before the deadline.
    const std::chrono::milliseconds m_blockingRead;
    const BcePrinter* m_owner;               // I/O thread only; null once closed
    asio::steady_timer m_timer;              // I/O thread only

    std::mutex m_lock;                       // guards the members below
    State m_state = State::Closed;
    bool m_closed = false;
    uint64_t m_generation = 0;               // one per connection attempt
    int m_fd = -1;                           // the socket while dialling, greeting or open
    bool m_blocks = false;                   // m_fd is blocking, with m_blockingRead as receive time-out
    uint64_t m_token = 0;                    // its registration with the loop
    std::vector<Address> m_endpoints;
    size_t m_endpoint = 0;                   // the one being dialled
    Clock::time_point m_attemptDeadline;
    Clock::time_point m_quietUntil;          // after a timed-out attempt
    const char* m_failure = "";              // why the last attempt failed (lastFailure); a static text
    uint32_t m_nextId = 1;
    std::unordered_map<uint32_t, LinkCall*> m_pending;   // requests by id
    std::vector<LinkCall*> m_awaitingConnection;         // waits without a request
    kvwire::Bytes m_out;                     // bytes to write; the I/O thread writes them
    size_t m_outStart = 0;                   // of m_out, already written
    kvwire::Bytes m_held;                    // request frames waiting for the greeting's answer
    bool m_flushing = false;                 // the I/O thread owns writing
    bool m_awaitingWritable = false;         // the I/O thread waits for room to write
    bool m_timerArmed = false;
    kvwire::FrameAssembler m_in;             // the frames of the bytes received
    std::deque<kvwire::Frame> m_toLoop;      // frames for the I/O thread, in stream order
    Handing m_handing = Handing::Idle;
    Reading m_reading = Reading::Loop;       // who reads the connection: see the top
    LinkWaiter* m_reader = nullptr;          // the reader in Caller and CallerResting, else null
    bool m_idleQueued = false;               // the I/O thread will call idle(), whatever m_reading is now
    std::vector<int> m_orphans;              // dropped sockets a caller still polls: closed when it leaves
};

}  // namespace zorbce
