#include "board/Keypad.h"
#include "board/SerialPort.h"
#include "board/UeventSource.h"

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <hidapi/hidapi.h>
#include <linux/netlink.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

namespace board {

int SerialPort::open(const std::string& path)
{
    return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NDELAY | O_CLOEXEC);
}

int SerialPort::setRts(int fd, bool on)
{
    int status = 0;
    if (::ioctl(fd, TIOCMGET, &status) < 0)
        return -1;
    if (on)
        status |= TIOCM_RTS;
    else
        status &= ~TIOCM_RTS;
    return ::ioctl(fd, TIOCMSET, &status) < 0 ? -1 : 0;
}

long SerialPort::write(int fd, const void* data, size_t n)
{
    return long(::write(fd, data, n));
}

int SerialPort::waitRoom(int fd, int ms)
{
    const auto start = std::chrono::steady_clock::now();
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, ms);
    return int(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

void SerialPort::drain(int fd)
{
    ::tcdrain(fd);
}

void SerialPort::close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

bool Keypad::present(uint16_t vendorId, uint16_t productId)
{
    hid_device_info* list = hid_enumerate(vendorId, productId);
    bool found = list != nullptr;
    hid_free_enumeration(list);
    return found;
}

int Keypad::writeReport(uint16_t vendorId, uint16_t productId, const uint8_t* report, size_t length)
{
    hid_device* dev = hid_open(vendorId, productId, nullptr);
    if (!dev)
        return -1;
    int n = hid_write(dev, report, length);
    hid_close(dev);
    return n;
}

int UeventSource::open()
{
    int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT);
    if (fd < 0)
        return -1;
    // A small receive buffer, as on the board: events beyond it are dropped by the kernel.
    int size = 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_pid = 0;   // the kernel picks a free port id, so a second socket can be bound too
    addr.nl_groups = 1;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void UeventSource::close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

} // namespace board
