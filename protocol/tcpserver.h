#pragma once
// A poll-based TCP server of the PC protocol: accepts any number of clients, cuts each
// client's byte stream into frames (0xA5 ... 0x5A) and queues every complete frame with
// the socket it came from. Frames follow the byte stream, not the boundaries of recv, so
// a frame split into many reads, several frames in one read and several clients sending
// at once all come out whole.

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
    // A reply that cannot be sent within this time closes its client.
    static constexpr int SEND_TIMEOUT_MS = 2000;
    // Clients served at once. A connection beyond them takes the place of the client that
    // has sent nothing for longest, if that is at least IDLE_CLOSE_TICKS and the client holds
    // no transfer; with no such client the newcomer is closed at once. Connections left open
    // then cannot shut every new PC out, and a burst of new ones cannot cut a working PC off.
    static constexpr size_t MAX_CLIENTS = 32;
    static constexpr unsigned IDLE_CLOSE_TICKS = 1000;
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
    // Sends the whole buffer on a client socket (partial sends continue), bounded by
    // send_timeout_ms; a client that cannot take it is closed. 0, or 255.
    int sendData(const unsigned char* buf, unsigned int len, int socket);
    // SEND_TIMEOUT_MS; set before the link's thread starts (tests of a stalled client
    // shorten it, or lengthen it to keep a loaded machine from racing it).
    int send_timeout_ms = SEND_TIMEOUT_MS;
    void delete_clinetSocket(int socket);

    int listenSocket() const { return m_socket; }
    unsigned short localPort() const { return m_port; }
    const std::set<int>& clients() const { return m_clients; }
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
    // Cuts bytes as though read from client socket into frames queued on records(); what
    // recvData does with each read (the fuzz target feeds a stream this way).
    void feed_bytes(int socket, const unsigned char* data, size_t len)
    {
        Parser& p = m_parsers[socket];
        if (p.peer == 0)
            p.peer = ++m_connections;
        feed(socket, p, data, len);
    }

private:
    // What is left of a client's stream between reads: the frame begun so far.
    struct Parser {
        std::vector<unsigned char> frame;
        bool inFrame = false;
        bool overlong = false;
        uint32_t lastBytes = 0;   // tick at which the client last sent bytes, or was accepted
        // Names the connection for as long as the server runs: a socket number comes back
        // with the next client, so a file transfer kept by a client that left must not pass
        // to whoever is given its number.
        uint64_t peer = 0;
    };

    void closeClient(int socket);
    // Closes the client that has sent nothing for longest, when that is IDLE_CLOSE_TICKS or
    // more and it holds no transfer; false when no client qualifies.
    bool closeLongestIdle();
    // Reads what client c has into its frames; the bytes read (0 when there were none, or
    // the client is gone: closed by it or on an error).
    size_t readClient(int c, int flags);
    void feed(int socket, Parser& parser, const unsigned char* data, size_t len);

    int m_socket = -1;
    unsigned short m_port = 0;
    std::set<int> m_clients;
    std::map<int, Parser> m_parsers;
    std::list<Record> m_records;
    std::vector<Closed> m_closed;
    std::function<bool(uint64_t)> m_keep;
    LinkBuffer m_readBuf;
    uint64_t m_connections = 0;   // connections accepted so far: the last Parser::peer given
    int m_activeClient = -1;   // the lone client whose last read brought bytes
    std::chrono::steady_clock::time_point m_lastPoll{};
    bool m_acceptResting = false;
    unsigned m_acceptRestStamp = 0;
    bool m_acceptErrorBurst = false;      // one report per burst of accept errors
    unsigned m_acceptErrorsReported = 0;
};
