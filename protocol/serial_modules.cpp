#include "protocol/serial_modules.h"

#include "board/Clock.h"
#include "board/SerialPort.h"
#include "core/global.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {
struct BaudEntry {
    int rate;
    speed_t code;
};
// The rates the RS-485 transceivers and the PC tools agree on; anything else is refused.
const BaudEntry kBaudTable[] = {
    {115200, B115200}, {57600, B57600}, {38400, B38400}, {19200, B19200}, {9600, B9600},
    {4800, B4800},     {2400, B2400},   {1200, B1200},   {300, B300},
};

// A send waits for the line as long as the reply takes at the line's rate, and this much
// more: a line held off (a stalled transceiver, a PC tool that stopped reading the
// simulated line) does not hold the link thread for ever, and a long reply on a slow line
// is never cut.
constexpr int kSendSlackMs = 1000;

// Milliseconds n characters take on the line as its termios set it (start, data, parity
// and stop bits at its rate); at the slowest rate when the line cannot be asked.
int lineMs(int fd, long n)
{
    termios t{};
    speed_t code = B300;
    if (::tcgetattr(fd, &t) == 0)
        code = ::cfgetospeed(&t);
    int rate = 300;
    for (const BaudEntry& e : kBaudTable)
        rate = e.code == code ? e.rate : rate;
    const unsigned data = (t.c_cflag & CSIZE) == CS7 ? 7 : 8;
    const long bits = 1 + data + ((t.c_cflag & PARENB) ? 1 : 0) + ((t.c_cflag & CSTOPB) ? 2 : 1);
    return int((n * bits * 1000 + rate - 1) / rate);
}
} // namespace

int serial_modules::send_time_ms(int fd, int len)
{
    return lineMs(fd, len) + kSendSlackMs;
}

serial_modules::serial_modules() : m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

serial_modules::~serial_modules()
{
    // The descriptors belong to the links for the life of the process.
    m_fds.clear();
    if (m_wake >= 0)
        ::close(m_wake);
}

void serial_modules::wake()
{
    if (m_wake >= 0) {
        const uint64_t one = 1;
        ssize_t written = ::write(m_wake, &one, sizeof one);
        (void)written;   // a counter already raised wakes the poll all the same
    }
}

int serial_modules::serial_init(int port, int speed, int flags)
{
    int fd = ttyS_Open(port, speed, flags);
    if (fd < 0) {
        std::printf("Open ttyS1 Port Faild!\n");
        return fd;
    }
    m_fds.insert(fd);
    return fd;
}

int serial_modules::ttyS_Open(int port, int speed, int flags)
{
    char dev[32];
    std::snprintf(dev, sizeof dev, "/dev/ttyS%d", port);
    KEL_TRACE("Serial Port = %s\n", dev);

    int fd = board::SerialPort::open(dev);
    if (fd < 0) {
        std::printf("Can't Open Serial Port %s\n", dev);
        return -1;
    }
    if (flags & O_NONBLOCK) {
        int cur = ::fcntl(fd, F_GETFL);
        if (cur >= 0)
            ::fcntl(fd, F_SETFL, cur | O_NONBLOCK);
    }
    if (!::isatty(fd)) {
        std::printf("This is not a tty device\n");
        board::SerialPort::close(fd);
        return -1;
    }
    // RTS high: the transceiver listens until a reply is sent.
    if (board::SerialPort::setRts(fd, true) != 0) {
        std::printf("Ioctl error on setting 485 configure:\n");
        board::SerialPort::close(fd);
        return -1;
    }
    if (UartSetParity(fd, 8, 1, 'n') != 0) {
        std::printf("UartSetParity failed!, dev :%s\n", dev);
        board::SerialPort::close(fd);
        return -1;
    }
    if (UartSetSpeed(fd, speed) != 0) {
        std::printf("UartSetSpeed failed!, dev :%s\n", dev);
        board::SerialPort::close(fd);
        return -1;
    }
    KEL_TRACE("ttyS = %s,fd = %d\n", dev, fd);
    return fd;
}

int serial_modules::UartSetParity(int fd, int databits, int stopbits, int parity)
{
    termios options{};
    if (::tcgetattr(fd, &options) != 0) {
        std::printf("SetupSerial Error 1\n");
        return -1;
    }
    options.c_iflag &= ~(IXON | ICRNL);
    options.c_oflag &= ~OPOST;
    options.c_lflag &= ~(ISIG | ICANON | ECHO | ECHOE);
    options.c_cflag |= CLOCAL | CREAD;

    options.c_cflag &= ~CSIZE;
    switch (databits) {
    case 7: options.c_cflag |= CS7; break;
    case 8: options.c_cflag |= CS8; break;
    default: std::printf("Unsupported data size\n"); return -1;
    }

    switch (parity) {
    case 'n':
    case 'N':
        options.c_cflag &= ~PARENB;
        options.c_iflag &= ~INPCK;
        break;
    case 'o':
    case 'O':
        options.c_cflag |= PARENB | PARODD;
        options.c_iflag |= INPCK;
        break;
    case 'e':
    case 'E':
        options.c_cflag |= PARENB;
        options.c_cflag &= ~PARODD;
        options.c_iflag |= INPCK;
        break;
    case 's':
    case 'S':
        // Space parity: no parity bit, one more stop bit's worth of line time.
        options.c_cflag &= ~PARENB;
        options.c_cflag &= ~CSTOPB;
        options.c_iflag |= INPCK;
        break;
    default: std::printf("Unsupported parity\n"); return -1;
    }

    switch (stopbits) {
    case 1: options.c_cflag &= ~CSTOPB; break;
    case 2: options.c_cflag |= CSTOPB; break;
    default: std::printf("Unsupported stop bits\n"); return -1;
    }

    options.c_cc[VTIME] = 1;
    options.c_cc[VMIN] = 1;
    ::tcflush(fd, TCIFLUSH);
    if (::tcsetattr(fd, TCSANOW, &options) != 0) {
        std::printf("SetupSerial Error 3\n");
        return -1;
    }
    return 0;
}

int serial_modules::UartSetSpeed(int fd, int speed)
{
    for (const BaudEntry& e : kBaudTable) {
        if (e.rate != speed)
            continue;
        termios options{};
        if (::tcgetattr(fd, &options) != 0) {
            std::printf("UartSetSpeed Error 1\n");
            return -1;
        }
        ::tcflush(fd, TCIOFLUSH);
        ::cfsetispeed(&options, e.code);
        ::cfsetospeed(&options, e.code);
        if (::tcsetattr(fd, TCSANOW, &options) != 0) {
            KEL_TRACE("tcsetattr fd1\n");
            return -1;
        }
        ::tcflush(fd, TCIOFLUSH);
        return 0;
    }
    std::printf("UartSetSpeed Error 1\n");
    return -1;
}

int serial_modules::recv_uart_data(Uart_Rec_Send_Data* rec, int n, int wait_ms)
{
    if (!rec || m_fds.empty())
        return -1;
    std::vector<pollfd> fds;
    fds.reserve(m_fds.size() + 1);
    for (int fd : m_fds)
        fds.push_back(pollfd{fd, POLLIN, 0});
    fds.push_back(pollfd{m_wake, POLLIN, 0});   // a negative descriptor is ignored
    int ready = ::poll(fds.data(), fds.size(), wait_ms < 0 ? 0 : wait_ms);
    if (ready <= 0)
        return -1;
    if (fds.back().revents & POLLIN) {
        uint64_t count = 0;
        ssize_t got = ::read(m_wake, &count, sizeof count);
        (void)got;
    }
    fds.pop_back();
    for (const pollfd& p : fds) {
        if (p.fd != rec->fd || !(p.revents & (POLLIN | POLLERR | POLLHUP)))
            continue;
        int want = n;
        if (want > int(sizeof rec->data))
            want = int(sizeof rec->data);
        if (want < 0)
            want = 0;
        ssize_t got = ::read(rec->fd, rec->data, size_t(want));
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return -1;
        if (got <= 0) {
            // A line that hung up (the far end of a pseudo-terminal closed) stays readable
            // with nothing to read: rest out the wait, or the link's thread would spin.
            pollfd wake{m_wake, POLLIN, 0};
            if (::poll(&wake, 1, wait_ms < 0 ? 0 : wait_ms) > 0) {
                uint64_t count = 0;
                ssize_t drained = ::read(m_wake, &count, sizeof count);
                (void)drained;
            }
            if (got < 0)
                return -1;
            rec->len = 0;
            return 0;
        }
        rec->len = int(got);
        return rec->len;
    }
    return -1;
}

int serial_modules::uart_send(const Uart_Rec_Send_Data& rec)
{
    if (rec.fd < 1)
        return -1;
    int len = rec.len;
    if (len < 0)
        len = 0;
    if (len > int(sizeof rec.data))
        len = int(sizeof rec.data);

    // The transceiver needs its direction switched before the first bit goes out.
    board::SerialPort::setRts(rec.fd, false);
    board::Clock::sleepMs(2);

    // The descriptor is non-blocking: keep writing until the whole reply is out, waiting
    // for the line in between, for as long as the reply takes at the line's rate and the
    // slack; the time counted is the line's own waits (a write itself takes none).
    int sent = 0;
    const int budget = send_time_ms(rec.fd, len);
    int waited = 0;
    while (sent < len) {
        long w = board::SerialPort::write(rec.fd, rec.data + sent, size_t(len - sent));
        if (w > 0) {
            sent += int(w);
            continue;
        }
        if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            break;
        if (waited >= budget)
            break;
        waited += std::max(1, board::SerialPort::waitRoom(rec.fd, budget - waited));
    }
    board::SerialPort::drain(rec.fd);
    board::SerialPort::setRts(rec.fd, true);
    return sent > 0 || len == 0 ? sent : -1;
}
