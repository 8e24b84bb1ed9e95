#include "board/I2cBus.h"
#include "board/MtdDevice.h"
#include "board/SocWindow.h"
#include "board/SpiDevice.h"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <linux/spi/spidev.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace board {

// --- SoC window -------------------------------------------------------------------------

int SocWindow::openRequestDevice() { return ::open("/dev/msys", O_RDWR | O_SYNC | O_CLOEXEC); }
int SocWindow::openMemory() { return ::open("/dev/mem", O_RDWR | O_SYNC | O_CLOEXEC); }

int SocWindow::memoryRequest(int requestFd, uint32_t record[5])
{
    return ::ioctl(requestFd, 0x5315, record);
}

volatile uint8_t* SocWindow::map(int memFd, uint32_t physical, uint32_t length)
{
    void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, memFd, off_t(physical));
    return p == MAP_FAILED ? nullptr : static_cast<volatile uint8_t*>(p);
}

void SocWindow::unmap(volatile uint8_t* window, uint32_t length)
{
    if (window)
        ::munmap(const_cast<uint8_t*>(window), length);
}

void SocWindow::close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

// --- SPI --------------------------------------------------------------------------------

int SpiDevice::open(const char* path) { return ::open(path, O_RDWR | O_CLOEXEC); }

int SpiDevice::configure(int fd, uint8_t mode, uint8_t bitsPerWord, uint32_t speedHz)
{
    if (::ioctl(fd, SPI_IOC_WR_MODE, &mode) < 0)
        return -1;
    if (::ioctl(fd, SPI_IOC_WR_BITS_PER_WORD, &bitsPerWord) < 0)
        return -1;
    if (::ioctl(fd, SPI_IOC_WR_MAX_SPEED_HZ, &speedHz) < 0)
        return -1;
    return 0;
}

int SpiDevice::transfer(int fd, const SpiTransfer* segments, unsigned count)
{
    if (count == 0 || count > 8)
        return -1;
    spi_ioc_transfer t[8] = {};
    for (unsigned i = 0; i < count; ++i) {
        t[i].tx_buf = reinterpret_cast<uintptr_t>(segments[i].tx);
        t[i].rx_buf = reinterpret_cast<uintptr_t>(segments[i].rx);
        t[i].len = segments[i].length;
        t[i].speed_hz = segments[i].speedHz;
        t[i].bits_per_word = segments[i].bitsPerWord;
    }
    return ::ioctl(fd, SPI_IOC_MESSAGE(count), t);
}

void SpiDevice::close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

// --- I2C --------------------------------------------------------------------------------

int I2cBus::open(const char* path) { return ::open(path, O_RDWR | O_CLOEXEC); }

int I2cBus::transfer(int fd, I2cMessage* messages, unsigned count)
{
    if (count == 0 || count > 8 || !messages)
        return -1;
    i2c_msg m[8] = {};
    for (unsigned i = 0; i < count; ++i) {
        m[i].addr = messages[i].address;
        m[i].flags = messages[i].read ? I2C_M_RD : 0;
        m[i].len = messages[i].length;
        m[i].buf = messages[i].data;
    }
    i2c_rdwr_ioctl_data data{m, count};
    return ::ioctl(fd, I2C_RDWR, &data) < 0 ? -1 : int(count);
}

void I2cBus::close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

// --- MTD --------------------------------------------------------------------------------

int MtdDevice::open(const char* path) { return ::open(path, O_RDWR | O_SYNC | O_CLOEXEC); }

int MtdDevice::getInfo(int fd, MtdInfo& info)
{
    mtd_info_user m{};
    if (::ioctl(fd, MEMGETINFO, &m) < 0)
        return -1;
    info.size = m.size;
    info.eraseSize = m.erasesize;
    info.writeSize = m.writesize;
    return 0;
}

int MtdDevice::unlock(int fd, uint32_t start, uint32_t length)
{
    erase_info_user e{start, length};
    return ::ioctl(fd, MEMUNLOCK, &e) < 0 ? -1 : 0;
}

int MtdDevice::erase(int fd, uint32_t start, uint32_t length)
{
    erase_info_user e{start, length};
    return ::ioctl(fd, MEMERASE, &e) < 0 ? -1 : 0;
}

ssize_t MtdDevice::writeAt(int fd, const uint8_t* data, size_t length, off_t offset)
{
    return ::pwrite(fd, data, length, offset);
}

ssize_t MtdDevice::readAt(int fd, uint8_t* data, size_t length, off_t offset)
{
    return ::pread(fd, data, length, offset);
}

void MtdDevice::close(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

} // namespace board
