#pragma once
// A PC talking to the controller over UDP, TCP or a serial line (the peer of the simulated
// board's pseudo-terminal), with receive time-outs. Used by the tests, the benchmarks and
// tools/pcclient.

#include "tests/support/PcFrame.h"

#include <memory>
#include <netinet/in.h>
#include <string>

namespace pc {

class PcClient {
public:
    enum class Kind { Udp, Tcp, Serial };

    // Called before each send and after each whole receive (the test programs set it).
    static void (*exchangeHook)();

    // A UDP socket bound to localHost:localPort (0: a free port) that sends to host:port;
    // null when it cannot be bound.
    static std::unique_ptr<PcClient> udp(const std::string& host, uint16_t port,
                                         const std::string& localHost = "127.0.0.1", uint16_t localPort = 0);
    // A TCP connection to host:port from localHost, within connectMs when given; null when it
    // cannot connect, with errno saying why (ETIMEDOUT when connectMs ran out).
    static std::unique_ptr<PcClient> tcp(const std::string& host, uint16_t port, const std::string& localHost = "",
                                         int connectMs = -1);
    // A serial device (raw, 115200 8N1); null when it cannot be opened (errno says why). What
    // the line holds at the open (an earlier user's late reply) is discarded.
    static std::unique_ptr<PcClient> serial(const std::string& path);

    ~PcClient();
    PcClient(const PcClient&) = delete;
    PcClient& operator=(const PcClient&) = delete;

    Kind kind() const { return m_kind; }
    // UDP: send to another host:port from the same socket.
    void retarget(const std::string& host, uint16_t port);
    int fd() const { return m_fd; }
    uint16_t localPort() const;   // UDP/TCP: the port this client sends from

    // Raw bytes: one datagram on UDP, a write on TCP and serial; false when they did not go.
    bool sendRaw(const Bytes& bytes);
    int sendError() const { return m_sendError; }   // the errno of the last send that failed, else 0
    // Requests with bytes 4-5 at 0 carry there a tag, counted on from first, that the device
    // carries back: a late reply to an earlier request (of an earlier program too) is passed over.
    void tagRequests(uint16_t first) { m_tagging = true, m_tag = first; }
    // UDP: one datagram. TCP and serial: one wire frame (opener to closer) cut from the
    // stream. false when nothing came within timeoutMs.
    bool receiveRaw(Bytes& bytes, int timeoutMs);
    // The sender of the last datagram received (UDP).
    const sockaddr_in& lastPeer() const { return m_peer; }

    // How long a request waits for its reply unless told otherwise. An answer ends the wait
    // at once, so the bound is generous: on a loaded machine under a thread checker a reply
    // can take seconds, and a reply taken for lost would be read as the next one's.
    static constexpr int kReplyWaitMs = 10000;

    // Sends the request and waits for the reply that answers it: well-formed, of its group,
    // from the address it went to, carrying back its bytes 4, 5 and 8 (but from a receiving
    // card) and, where the group fixes it, of the length it asks for. Anything else (a late
    // answer to an earlier request) is skipped. false on time-out or a failed send.
    bool request(const Frame& req, Frame& reply, int timeoutMs = kReplyWaitMs);

    // --- the common commands; each returns the reply's status byte, or -1 on no reply ---
    int readRam(uint32_t address, uint16_t length, Bytes& out, uint16_t dest = kController, int timeoutMs = kReplyWaitMs);
    int writeRam(uint32_t address, const Bytes& data, uint16_t dest = kController, int timeoutMs = kReplyWaitMs);
    int writeRegister(uint8_t reg, uint8_t mask, uint8_t value, uint16_t dest = kController, int timeoutMs = kReplyWaitMs);
    // The value read (reply byte 11), or -1 on no reply / -2 when refused.
    int readRegister(uint8_t reg, uint16_t dest = kController, int timeoutMs = kReplyWaitMs);

private:
    PcClient(Kind kind, int fd);
    bool waitReadable(int timeoutMs);

    Kind m_kind;
    int m_fd;
    sockaddr_in m_target{};
    sockaddr_in m_peer{};
    Bytes m_stream;   // TCP/serial bytes not yet cut into frames
    int m_sendError = 0;
    bool m_tagging = false;
    uint16_t m_tag = 0;   // the last request's
};

} // namespace pc
