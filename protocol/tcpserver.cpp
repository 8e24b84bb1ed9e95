#include "protocol/tcpserver.h"

#include "board/Network.h"
#include "core/global.h"
#include "core/utils.h"
#include "protocol/byte_scan.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <tuple>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {
void setNonBlocking(int fd)
{
    int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

// Clients accepted in one pass at most, so a flood of connections cannot starve the
// clients already served.
constexpr int kAcceptPerPass = 64;
} // namespace

TcpServer::TcpServer() : m_readBuf(READ_SIZE)
{
    writeLogMsg(LOG_INFO, "=====TcpServer::TcpServer()=====");
}

TcpServer::~TcpServer()
{
    unInitialize();
    m_records.clear();
}

int TcpServer::initialize(unsigned int port)
{
    unInitialize();
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        writeLogMsg(LOG_ERROR, std::string("socket error:") + std::strerror(errno));
        return 255;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = board::Network::bindAddress();
    addr.sin_port = htons(board::Network::listenPort(uint16_t(port)));
    // Errors name the port actually bound: on the simulated board it is moved by the board's offset.
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        writeLogMsg(LOG_ERROR, std::string("bind error:") + std::strerror(errno));
        KEL_TRACE("bind error:%s (TCP port %u)\n", std::strerror(errno), unsigned(ntohs(addr.sin_port)));
        ::close(fd);
        return 255;
    }
    if (::listen(fd, 200) < 0) {
        writeLogMsg(LOG_ERROR, std::string("listen error:") + std::strerror(errno));
        KEL_TRACE("listen error:%s (TCP port %u)\n", std::strerror(errno), unsigned(ntohs(addr.sin_port)));
        ::close(fd);
        return 255;
    }
    setNonBlocking(fd);
    m_socket = fd;
    m_port = ntohs(addr.sin_port);
    return 0;
}

void TcpServer::unInitialize()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    for (int c : m_clients) {
        ::close(c);
        m_closed.push_back(Closed{c, m_parsers[c].peer});
    }
    for (const Waiting& w : m_waiting)
        ::close(w.socket);
    m_waiting.clear();
    m_clients.clear();
    m_parsers.clear();
    m_activeClient = -1;
}

std::vector<TcpServer::Closed> TcpServer::takeClosed()
{
    std::vector<Closed> closed;
    closed.swap(m_closed);
    return closed;
}

void TcpServer::closeClient(int socket)
{
    if (m_clients.erase(socket) == 0)
        return;
    if (m_activeClient == socket)
        m_activeClient = -1;
    m_closed.push_back(Closed{socket, m_parsers[socket].peer});
    m_parsers.erase(socket);
    ::close(socket);
    // Frames of this client that are still queued have nobody to answer to.
    m_records.remove_if([socket](const Record& r) { return r.socket == socket; });
}

bool TcpServer::idle(int socket, const Parser& p) const
{
    return Utils::getTimeSpace(p.lastFrame) >= IDLE_CLOSE_TICKS && p.out.size() == p.sent && !(m_busy && m_busy(socket));
}

bool TcpServer::closeLongestIdle(uint32_t host)
{
    int silent = -1, idlest = -1;
    uint32_t silentAge = 0, longest = 0;
    std::map<uint32_t, size_t> places;   // by address
    for (int c : m_clients) {
        const Parser& p = m_parsers[c];
        ++places[p.host];
        if (m_keep && m_keep(p.peer))
            continue;
        if (!p.framed) {
            const uint32_t age = Utils::getTimeSpace(p.accepted);
            if (age >= FIRST_FRAME_TICKS && (silent < 0 || age > silentAge)) {
                silentAge = age;
                silent = c;
            }
            continue;
        }
        const uint32_t quiet = Utils::getTimeSpace(p.lastFrame);
        if (idle(c, p) && (idlest < 0 || quiet > longest)) {
            longest = quiet;
            idlest = c;
        }
    }
    int victim = silent >= 0 ? silent : idlest;
    if (victim < 0) {
        // Nobody is idle: an address holding two places or more beyond the newcomer's gives
        // one up (one more only would swap the two, and newcomers of two addresses would
        // take each other's places in turn), the one holding the most first: of its clients, one that has sent no frame yet
        // (the latest placed: it loses least, and a working PC is not cut off because its
        // own address's newcomers were placed just before), else the one quiet the longest.
        const size_t own = places[host];
        size_t most = 0;
        std::pair<bool, uint32_t> rank{false, 0};   // (framed, age): the smaller gives way
        for (int c : m_clients) {
            const Parser& p = m_parsers[c];
            const size_t held = places[p.host];
            if (p.host == host || held <= own + 1 || (m_keep && m_keep(p.peer)))
                continue;
            const std::pair<bool, uint32_t> r{p.framed, p.framed ? ~Utils::getTimeSpace(p.lastFrame) : Utils::getTimeSpace(p.accepted)};
            if (victim < 0 || held > most || (held == most && r < rank)) {
                victim = c;
                most = held;
                rank = r;
            }
        }
    }
    if (victim < 0 && places[host] == 0) {
        // A PC from an address holding no place always gets one: every address holds one,
        // or the rest keep transfers (an address holding more gave one up above, so each
        // address here holds one). One being answered gives way the last. Connections that have not been answered yet give way first, the
        // oldest first: one that stays silent has had the longest to speak, and a PC just
        // placed, its first request on its way, keeps its place while a flood of newcomers
        // passes through the older ones. Failing those, of the answered the latest placed
        // gives way: connections that come and go take each other's places, and a PC that
        // stays keeps its own however fast new ones come.
        // (~peer: every one not answered above every one answered, the first placed highest.)
        std::pair<bool, uint64_t> rank{false, 0};
        for (int c : m_clients) {
            const Parser& p = m_parsers[c];
            const bool answering = p.out.size() != p.sent || (m_busy && m_busy(c));
            const std::pair<bool, uint64_t> r{!answering, p.answered ? p.peer : ~p.peer};
            if (!(m_keep && m_keep(p.peer)) && (victim < 0 || r > rank)) {
                victim = c;
                rank = r;
            }
        }
    }
    if (victim < 0)
        return false;
    KEL_TRACE("\n client table full: closing client %d\n", victim);
    closeClient(victim);
    return true;
}

bool TcpServer::placeSoon()
{
    for (int c : m_clients) {
        const Parser& p = m_parsers[c];
        if (!p.framed && !(m_keep && m_keep(p.peer)))
            return true;
    }
    return false;
}

void TcpServer::place(const Waiting& w)
{
    const int c = w.socket;
    // Each reply is the last thing sent until the client's next request: holding its tail
    // back for an acknowledgement only delays the client.
    int on = 1;
    ::setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval active{0, ACTIVE_WAIT_MS * 1000};
    ::setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &active, sizeof active);
    m_clients.insert(c);
    Parser& p = m_parsers[c];
    p = Parser();
    // Its first frame is awaited from now; the place makes no other client look idler.
    p.accepted = G_timeTicks.load();
    p.peer = ++m_connections;
    p.host = w.host;
}

void TcpServer::placeWaiting()
{
    if (m_waiting.empty())
        return;
    if (m_clients.size() >= MAX_CLIENTS)
        readBeforeJudging();
    // Every newcomer is tried in its turn: one that no place gives way to (its address holds
    // some) does not hold back one from an address that holds none.
    std::set<uint32_t> refused;
    for (auto w = m_waiting.begin(); w != m_waiting.end();) {
        if (!refused.count(w->host) && (m_clients.size() < MAX_CLIENTS || closeLongestIdle(w->host))) {
            place(*w);
            w = m_waiting.erase(w);
        } else if (placeSoon()) {
            refused.insert(w->host);
            ++w;
        } else {
            // Everyone is busy: the newcomer is turned away.
            KEL_TRACE("\n client table full: refusing a new client\n");
            ::close(w->socket);
            w = m_waiting.erase(w);
        }
    }
}

void TcpServer::readBeforeJudging()
{
    // A client is judged by what it sent, not by what this thread has read of it yet: what
    // its socket holds is read first (as a pass would), and one that has hung up is closed,
    // so its place is free rather than another's taken.
    std::vector<pollfd> fds;
    fds.reserve(m_clients.size());
    for (int c : m_clients) {
        const Parser& p = m_parsers[c];
        fds.push_back(pollfd{c, short(p.out.size() == p.sent && !p.held ? POLLIN | POLLRDHUP : POLLRDHUP), 0});
    }
    if (::poll(fds.data(), fds.size(), 0) <= 0)
        return;
    for (const pollfd& f : fds) {
        if (!m_clients.count(f.fd) || !(f.revents & (POLLIN | POLLRDHUP | POLLHUP | POLLERR)))
            continue;
        if (!(f.events & POLLIN)) {
            if (f.revents & (POLLHUP | POLLERR))
                closeClient(f.fd);   // gone, with its replies untaken
            continue;
        }
        (void)readClient(f.fd, MSG_DONTWAIT);
    }
}

int TcpServer::adopt(int c)
{
    sockaddr_in from{};
    socklen_t n = sizeof from;
    const bool inet = ::getpeername(c, reinterpret_cast<sockaddr*>(&from), &n) == 0 && from.sin_family == AF_INET;
    return adopt(c, inet ? ntohl(from.sin_addr.s_addr) : 0);
}

int TcpServer::adopt(int c, uint32_t host)
{
    std::set<uint32_t> holding;
    for (int other : m_clients)
        holding.insert(m_parsers[other].host);
    const uint64_t pace = m_pace.arrive(host, holding.size());
    if (m_waiting.size() >= MAX_WAITING) {
        // The address with the most connections waiting gives up its latest, if it has more
        // waiting than the newcomer's: a flood from one address does not turn the others away.
        // Of several with as many, the one whose latest came the soonest after its previous
        // (then the one whose latest came last).
        std::map<uint32_t, std::pair<size_t, uint64_t>> waiting;   // by address: entries, latest's pace
        for (const Waiting& w : m_waiting)
            waiting[w.host] = {waiting[w.host].first + 1, w.pace};
        std::pair<size_t, uint64_t> most{0, 0};
        for (const auto& w : waiting)
            most = std::max(most, w.second);
        if (most.first <= waiting[host].first) {
            ::close(c);
            return -1;
        }
        auto latest = std::find_if(m_waiting.rbegin(), m_waiting.rend(), [&waiting, most](const Waiting& w) { return waiting[w.host] == most; });
        ::close(latest->socket);
        m_waiting.erase(std::next(latest).base());
    }
    m_waiting.push_back(Waiting{c, host, pace});
    placeWaiting();
    if (m_clients.count(c))
        return 1;
    return std::any_of(m_waiting.begin(), m_waiting.end(), [c](const Waiting& w) { return w.socket == c; }) ? 0 : -1;
}

uint32_t TcpServer::host(int socket) const
{
    auto it = m_parsers.find(socket);
    return it == m_parsers.end() ? 0 : it->second.host;
}

size_t TcpServer::queued(int socket) const
{
    auto it = m_parsers.find(socket);
    return it == m_parsers.end() ? 0 : it->second.out.size() - it->second.sent;
}

void TcpServer::hold_reading(int socket, bool hold)
{
    auto it = m_parsers.find(socket);
    if (it != m_parsers.end())
        it->second.held = hold;
}

void TcpServer::delete_clinetSocket(int socket)
{
    closeClient(socket);
    KEL_TRACE("\n delete clinet %d \n", socket);
}

void TcpServer::feed(int socket, Parser& p, const unsigned char* data, size_t len)
{
    for (size_t i = 0; i < len; ++i) {
        if (!p.inFrame && data[i] == 0xA5) {
            // A frame that lies whole in this read (openers, plain bytes, closer) becomes
            // its record straight from the read, without passing through the parser.
            size_t k = i + 1;
            while (k < len && data[k] == 0xA5)
                ++k;
            const size_t j = byte_scan::find_marker(data, k, len);
            if (j < len && data[j] == 0x5A && j - i < MAX_RECORD) {
                Record r;
                r.data.assign(data + i, data + j + 1);
                r.socket = socket;
                r.peer = p.peer;
                p.framed = true;
                p.lastFrame = G_timeTicks.load();
                r.tick = p.lastFrame;
                m_records.push_back(std::move(r));
                i = j;
                continue;
            }
        }
        if (p.inFrame && !p.overlong) {
            // A run of plain frame bytes (no opener, no closer) is taken at once. One that
            // would make the frame longer than a record may be drops the frame up to its
            // closer, as a byte too many does below.
            const size_t j = byte_scan::find_marker(data, i, len);
            if (j > i) {
                if (j - i <= MAX_RECORD - p.frame.size()) {
                    p.frame.insert(p.frame.end(), data + i, data + j);
                } else {
                    p.frame.clear();
                    p.overlong = true;
                }
                i = j;
                if (i == len)
                    break;
            }
        }
        unsigned char b = data[i];
        if (b == 0xA5) {
            // An opener after frame bytes starts a new frame: what came before was an
            // abandoned one. Consecutive openers (the sender's three) are kept together.
            if (!p.inFrame || p.frame.empty() || p.frame.back() != 0xA5) {
                p.frame.clear();
                p.overlong = false;
            }
            p.inFrame = true;
        } else if (!p.inFrame) {
            continue;   // bytes between frames are noise
        }
        if (p.overlong) {
            if (b == 0x5A) {
                p.inFrame = false;
                p.overlong = false;
            }
            continue;
        }
        if (p.frame.size() >= MAX_RECORD) {
            // Longer than any record may be: drop it up to its closer.
            p.frame.clear();
            p.overlong = b != 0x5A;
            p.inFrame = b != 0x5A;
            continue;
        }
        p.frame.push_back(b);
        if (b == 0x5A) {
            Record r;
            // The parser keeps its buffer for the next frame; the record takes a copy.
            r.data.assign(p.frame.begin(), p.frame.end());
            r.socket = socket;
            r.peer = p.peer;
            p.framed = true;
            p.lastFrame = G_timeTicks.load();
            r.tick = p.lastFrame;
            m_records.push_back(std::move(r));
            p.frame.clear();
            p.inFrame = false;
        }
    }
}

size_t TcpServer::readClient(int c, int flags)
{
    ssize_t got = ::recv(c, m_readBuf.data(), m_readBuf.size(), flags);
    if (got > 0) {
        feed(c, m_parsers[c], m_readBuf.data(), size_t(got));
        return size_t(got);
    }
    if (got == 0) {
        closeClient(c);   // the client closed its end
        return 0;
    }
    if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
        // A broken connection would report the same error on every pass.
        std::printf("recv error\n");
        writeLogMsg(LOG_ERROR, "recv error . . . ");
        closeClient(c);
    }
    return 0;
}

int TcpServer::recvData(int wait_ms)
{
    if (m_socket < 0 && m_clients.empty()) {
        // Nothing to serve; the thread keeps polling at its pace without spinning.
        if (wait_ms > 0)
            ::poll(nullptr, 0, wait_ms);
        return 0;
    }
    if (m_acceptResting && Utils::getTimeSpace(m_acceptRestStamp) >= ACCEPT_REST_TICKS)
        m_acceptResting = false;
    // A reply queue that does not move closes its client: a PC that does not read.
    std::vector<int> stalled;
    for (int c : m_clients) {
        const Parser& p = m_parsers[c];
        if (p.out.size() > p.sent && Utils::getTimeSpace(p.moved) >= STALL_CLOSE_TICKS)
            stalled.push_back(c);
    }
    for (int c : stalled) {
        KEL_TRACE("send error TcpServer:client %d takes no replies\n", c);
        // Dropped at once, its backlog with it: an orderly end would wait behind megabytes
        // the PC never reads, and it would not learn it was closed.
        const linger drop{1, 0};
        ::setsockopt(c, SOL_SOCKET, SO_LINGER, &drop, sizeof drop);
        closeClient(c);
    }
    placeWaiting();

    // A PC that sends a request waits for its reply before it sends the next: while it is
    // the only client, the next request is waited for in the receive itself (its socket
    // times out after ACTIVE_WAIT_MS), which spares a poll per frame. New clients and
    // hang-ups are still seen by the full poll at least every ACTIVE_WAIT_MS.
    const auto now = std::chrono::steady_clock::now();
    if (m_activeClient >= 0 && m_clients.size() == 1 && wait_ms >= ACTIVE_WAIT_MS && queued(m_activeClient) == 0
        && !m_parsers[m_activeClient].held && now - m_lastPoll < std::chrono::milliseconds(ACTIVE_WAIT_MS)) {
        const int c = m_activeClient;
        m_activeClient = -1;
        if (readClient(c, 0) > 0)
            m_activeClient = c;
        return 0;
    }
    m_lastPoll = now;
    m_activeClient = -1;

    std::vector<pollfd> fds;
    fds.reserve(m_clients.size() + 1);
    // While accepting rests, the listening socket is left out of the poll (a negative
    // descriptor is ignored), so a readable backlog does not wake the thread.
    fds.push_back(pollfd{m_acceptResting ? -1 : m_socket, POLLIN, 0});
    for (int c : m_clients) {
        const Parser& p = m_parsers[c];
        // A client with replies queued is not read until they are taken: its requests wait
        // in its own socket. A hang-up or an error is reported all the same.
        const bool reading = p.out.size() == p.sent && !p.held;
        fds.push_back(pollfd{c, short((reading ? POLLIN : 0) | (p.out.size() > p.sent ? POLLOUT : 0)), 0});
    }
    // Newcomers waiting for a place, and queues that may stall, are looked at every tick.
    int wait = wait_ms < 0 ? 0 : wait_ms;
    bool queues = false;
    for (size_t i = 1; i < fds.size(); ++i)
        queues = queues || (fds[i].events & POLLOUT);
    if (!m_waiting.empty() || queues)
        wait = std::min(wait, 10);
    int ready = ::poll(fds.data(), fds.size(), wait);
    if (ready < 0) {
        if (errno == EINTR)
            return 0;
        KEL_TRACE("select error:%s\n", std::strerror(errno));
        return 255;
    }
    if (ready == 0)
        return 0;

    int result = 0;
    for (size_t i = 1; i < fds.size(); ++i) {
        const int c = fds[i].fd;
        const short got = fds[i].revents;
        if (!got || !m_clients.count(c))
            continue;
        if (got & POLLOUT) {
            if (!flush(c, m_parsers[c]))
                continue;
        }
        if (fds[i].events & POLLIN) {
            if ((got & (POLLIN | POLLERR | POLLHUP)) && readClient(c, MSG_DONTWAIT) > 0 && fds.size() == 2)
                m_activeClient = c;
        } else if (got & (POLLERR | POLLHUP)) {
            closeClient(c);   // gone, with its replies untaken
        }
    }

    if (fds[0].fd >= 0 && (fds[0].revents & POLLIN)) {
        for (int k = 0; k < kAcceptPerPass; ++k) {
            // Blocking, so that a lone active client can be waited for in its receive; every
            // other receive and every send says MSG_DONTWAIT.
            int c = ::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
                    if (!m_acceptErrorBurst) {
                        KEL_TRACE("accept error:%s\n", std::strerror(errno));
                        writeLogMsg(LOG_ERROR, std::string("accept error:") + std::strerror(errno));
                        ++m_acceptErrorsReported;
                    }
                    m_acceptErrorBurst = true;
                    m_acceptResting = true;
                    m_acceptRestStamp = G_timeTicks.load();
                    result = 255;
                }
                break;
            }
            m_acceptErrorBurst = false;
            adopt(c);
        }
    }
    return result;
}

bool TcpServer::flush(int socket, Parser& p)
{
    while (p.sent < p.out.size()) {
        ssize_t w = ::send(socket, p.out.data() + p.sent, p.out.size() - p.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (w > 0) {
            p.sent += size_t(w);
            p.moved = G_timeTicks.load();
            continue;
        }
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return true;   // the rest when the socket takes it
        KEL_TRACE("send error TcpServer:%s\n", std::strerror(errno));
        closeClient(socket);
        return false;
    }
    p.out.clear();
    p.sent = 0;
    return true;
}

int TcpServer::sendData(const unsigned char* buf, unsigned int len, int socket)
{
    if (!buf || socket < 0 || !m_clients.count(socket))
        return 255;
    Parser& p = m_parsers[socket];
    p.answered = true;
    if (p.out.size() - p.sent + len > OUTPUT_LIMIT) {
        // Half a reply on its stream is of no use to the client either.
        KEL_TRACE("send error TcpServer:client %d takes no replies\n", socket);
        closeClient(socket);
        return 255;
    }
    if (p.out.size() == p.sent) {
        p.out.clear();
        p.sent = 0;
        p.moved = G_timeTicks.load();
        // Most replies go out whole at once: only what the socket does not take is queued.
        while (len > 0) {
            ssize_t w = ::send(socket, buf, len, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (w <= 0)
                break;
            buf += w;
            len -= unsigned(w);
        }
        if (len == 0)
            return 0;
    } else if (p.sent > 0) {
        p.out.erase(p.out.begin(), p.out.begin() + std::ptrdiff_t(p.sent));
        p.sent = 0;
    }
    p.out.insert(p.out.end(), buf, buf + len);
    return flush(socket, p) ? 0 : 255;
}
