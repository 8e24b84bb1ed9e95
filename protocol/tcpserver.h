#pragma once
// A poll-based TCP server of the PC protocol: accepts any number of clients, cuts each
// client's byte stream into frames (0xA5 ... 0x5A) and queues every complete frame with
// the socket it came from. Frames follow the byte stream, not the boundaries of recv, so
// a frame split into many reads, several frames in one read and several clients sending
// at once all come out whole.

#include "core/global.h"
#include "protocol/arrival_pace.h"
#include "protocol/link_buffer.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <set>
#include <vector>

class TcpServer {
public:
    // Largest raw frame (openers to closer) a client may send; longer ones are dropped.
    static constexpr unsigned MAX_RECORD = 0x20000;
    // Bytes taken from a client per read.
    static constexpr unsigned READ_SIZE = 0x1FFFF;
    // Clients served at once on a port: as many as the board's descriptors allow with room
    // to spare (two ports of places and waiting newcomers take 384 of the 1,024 a process
    // has; each client costs its socket's buffers and a frame begun, at most MAX_RECORD).
    // Only a complete frame counts as a client's activity. A
    // connection beyond them takes the place of a client that completed no frame within
    // FIRST_FRAME_TICKS of taking its place (the longest there first), else of the client whose
    // last frame is longest ago, if that is IDLE_CLOSE_TICKS or more and nothing of it is
    // queued, waited for or being answered (see set_busy); a client holding a
    // transfer is never taken. Failing those, a newcomer from an address that holds two
    // places fewer than another takes a place of the address that holds the most (its client
    // that has sent nothing, placed last, else the one whose last frame is longest ago),
    // so one PC cannot hold every place; and a newcomer from an address holding none always
    // takes one: of the clients not answered yet the one placed first, else the one placed
    // last (a PC just placed and a PC that stays keep their places while others come and
    // go). While only
    // clients still inside their first FIRST_FRAME_TICKS stand in the way, newcomers wait
    // (up to MAX_WAITING, each tried in order of arrival; past them the address with the
    // most waiting, if more than the newcomer's, gives up its latest: of several, the one
    // connecting again the soonest) and take the first places that free;
    // with nobody to give way they are closed at once. Connections that never send a frame, or
    // send one byte at a time, then cannot keep a PC out, and a burst of new ones cannot
    // cut a working PC off.
    static constexpr size_t MAX_CLIENTS = 128;
    static constexpr size_t MAX_WAITING = 64;
    static constexpr unsigned FIRST_FRAME_TICKS = 40;
    static constexpr unsigned IDLE_CLOSE_TICKS = 1000;
    // Replies a client has not taken yet wait in its own queue, sent as its socket takes
    // them; no client ever waits for another's. A queue past OUTPUT_LIMIT bytes (four of the
    // longest escaped replies), or one that has not moved for STALL_CLOSE_TICKS, closes its
    // client.
    static constexpr size_t OUTPUT_LIMIT = 4 * 0x40100;
    static constexpr unsigned STALL_CLOSE_TICKS = 200;
    // Out of descriptors, the listening socket stays readable: accepting rests this many
    // 10 ms ticks instead of spinning on it.
    static constexpr unsigned ACCEPT_REST_TICKS = 10;
    // A lone client that has just sent is waited for in its receive this long before the
    // server goes back to polling every socket; the full poll also runs at least this often.
    static constexpr int ACTIVE_WAIT_MS = 10;

    struct Record {
        std::vector<unsigned char> data;   // one raw frame as it came off the wire
        int socket = -1;
        uint64_t peer = 0;                 // the connection it came on (see Parser::peer)
        uint32_t tick = 0;                 // when it was complete
    };

    TcpServer();
    ~TcpServer();

    // Listening socket on board::Network::listenPort(port); 0, or 255 on a socket error.
    int initialize(unsigned int port);
    void unInitialize();

    // One pass: waits up to wait_ms for the listening socket or a client, accepts new
    // clients, reads every readable client and queues its complete frames. 0, or 255 on a
    // poll or accept error.
    int recvData(int wait_ms = 0);
    // Queues the whole buffer for a client and sends what its socket takes now, never
    // waiting; the rest goes out in later passes. 0, or 255 (no such client, a send error or
    // a queue over OUTPUT_LIMIT: the client is closed).
    int sendData(const unsigned char* buf, unsigned int len, int socket);
    // Bytes queued for a client and not yet taken by its socket. Its owner hands a client
    // with replies waiting no further frame, so a PC that does not read costs nobody else.
    size_t queued(int socket) const;
    // While held, a client is not read (its bytes wait in its socket): its owner has frames
    // of it enough waiting.
    void hold_reading(int socket, bool hold);
    void delete_clinetSocket(int socket);
    // Offers a connected socket as accept would (the fuzz target offers socket pairs, with
    // the address they stand for): placed in the table (1), waiting for a place (0), or
    // closed (-1).
    int adopt(int socket);
    int adopt(int socket, uint32_t host);
    // The IPv4 address a client connected from (0 when it has none).
    uint32_t host(int socket) const;

    int listenSocket() const { return m_socket; }
    unsigned short localPort() const { return m_port; }
    const std::set<int>& clients() const { return m_clients; }
    size_t waiting() const { return m_waiting.size(); }
    unsigned acceptErrorsReported() const { return m_acceptErrorsReported; }

    // Frames queued so far, oldest first; the owner takes them out.
    std::list<Record>& records() { return m_records; }
    // A connection that has gone: its socket number and its peer (see Parser::peer).
    struct Closed {
        int socket;
        uint64_t peer;
    };
    // Connections closed since the owner last asked: a queued frame or a remembered answer
    // socket with such a number must not be answered (the number may be reused), and a
    // transfer the peer held is nobody's any more.
    std::vector<Closed> takeClosed();
    // Tells whether a peer holds a transfer, so that it is never closed to make room.
    void set_keep(std::function<bool(uint64_t)> keep) { m_keep = std::move(keep); }
    // Tells whether the owner still works for a client (its frames wait to be handled, it
    // waits for a card's answer): such a client is not idle, however long ago its last
    // frame came. Replies of it still queued here count the same.
    void set_busy(std::function<bool(int)> busy) { m_busy = std::move(busy); }
    // Cuts bytes as though read from client socket into frames queued on records(); what
    // recvData does with each read (the fuzz target feeds a stream this way).
    void feed_bytes(int socket, const unsigned char* data, size_t len)
    {
        Parser& p = m_parsers[socket];
        if (p.peer == 0) {
            p.peer = ++m_connections;
            p.accepted = G_timeTicks.load();
        }
        feed(socket, p, data, len);
    }

private:
    // A client's state between passes: the frame begun so far, its activity, its replies.
    struct Parser {
        std::vector<unsigned char> frame;
        bool inFrame = false;
        bool overlong = false;
        bool framed = false;      // has completed a frame
        uint32_t accepted = 0;    // tick of its accept
        uint32_t lastFrame = 0;   // tick of its last complete frame
        std::vector<unsigned char> out;   // replies queued; out[sent..] not yet taken
        size_t sent = 0;
        uint32_t moved = 0;       // tick at which its queue last moved, or filled from empty
        bool held = false;        // not read (hold_reading)
        // Names the connection for as long as the server runs: a socket number comes back
        // with the next client, so a file transfer kept by a client that left must not pass
        // to whoever is given its number.
        uint64_t peer = 0;
        uint32_t host = 0;        // the address it connected from
        bool answered = false;    // has been sent a reply

    };
    struct Waiting {
        int socket;
        uint32_t host;
        uint64_t pace;   // how soon after its address's previous connection it came
    };

    void closeClient(int socket);
    // Whether a client that has framed is idle: quiet IDLE_CLOSE_TICKS with nothing of it
    // queued, waited for or being answered.
    bool idle(int socket, const Parser& p) const;
    // Closes the client that gives way to a newcomer from host (see MAX_CLIENTS); false
    // when none does.
    bool closeLongestIdle(uint32_t host);
    // Whether a client still inside its first FIRST_FRAME_TICKS will give way.
    bool placeSoon();
    // Newcomers take the places that free, in order; when nobody will give way, closed.
    void placeWaiting();
    // Before clients are judged for a newcomer: reads what their sockets hold, closes those
    // that have hung up.
    void readBeforeJudging();
    void place(const Waiting& w);
    // Sends what the client's socket takes; false when the client was closed.
    bool flush(int socket, Parser& p);
    // Reads what client c has into its frames; the bytes read (0 when there were none, or
    // the client is gone: closed by it or on an error).
    size_t readClient(int c, int flags);
    void feed(int socket, Parser& parser, const unsigned char* data, size_t len);

    int m_socket = -1;
    unsigned short m_port = 0;
    std::set<int> m_clients;
    std::map<int, Parser> m_parsers;
    std::list<Waiting> m_waiting; // accepted, waiting for a place
    std::list<Record> m_records;
    std::vector<Closed> m_closed;
    std::function<bool(uint64_t)> m_keep;
    std::function<bool(int)> m_busy;
    LinkBuffer m_readBuf;
    uint64_t m_connections = 0;   // connections accepted so far: the last Parser::peer given
    ArrivalPace m_pace;   // of connections, by address
    int m_activeClient = -1;   // the lone client whose last read brought bytes
    std::chrono::steady_clock::time_point m_lastPoll{};
    bool m_acceptResting = false;
    unsigned m_acceptRestStamp = 0;
    bool m_acceptErrorBurst = false;      // one report per burst of accept errors
    unsigned m_acceptErrorsReported = 0;
};
