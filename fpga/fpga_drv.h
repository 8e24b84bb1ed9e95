#pragma once
#include <cstdint>

// The lowest layer under the FPGA manager: the SPI devices of the FPGA side and the 8 MiB
// 25-series configuration flash beside each FPGA. It keeps no state of its own; the flash
// operations take the descriptors and the select lines from the FPGA manager
// (fpga_manage::p_fpga_manage) and hold Utils::_spi_mutex, the lock of the bus that the
// scaler shares. Every operation is static, so callers may use the manager's driver object
// or the class name alike.
class fpga_drv {
public:
    // Flash geometry and commands.
    static constexpr uint32_t kFlashSize = 0x800000;
    static constexpr uint32_t kFlashSectors = 2048;      // 4 KiB each
    static constexpr uint32_t kFlashPage = 256;
    static constexpr uint32_t kReadChunk = 2048;         // data bytes per fast-read transfer
    static constexpr uint8_t kCmdWriteEnable = 0x06;
    static constexpr uint8_t kCmdReadStatus = 0x05;
    static constexpr uint8_t kCmdPageProgram = 0x02;
    static constexpr uint8_t kCmdFastRead = 0x0B;
    static constexpr uint8_t kCmdErase4k = 0x20;
    static constexpr uint8_t kCmdErase32k = 0x52;
    static constexpr uint8_t kCmdErase64k = 0xD8;
    static constexpr uint8_t kCmdReadUid = 0x4B;
    // The busy poll gives up after this long; a 64 KiB erase of the part takes at most
    // about two seconds, so this only ends the wait on a flash that never finishes.
    static constexpr uint32_t kBusyLimitMs = 5000;

    fpga_drv();

    // Opens "/dev/spidev32766.<n+1>" (n 0..3) in SPI mode 3, 8 bits, 10 MHz; returns the
    // descriptor as the open gave it (-1 when the device is missing).
    static int initialize_vbyne1(unsigned char n);
    // One full-duplex transfer of len bytes; the driver's result. Callers hold the SPI lock.
    [[nodiscard]] static int SPI_Transfer(int fd, const unsigned char* tx, unsigned char* rx, int len);
    [[nodiscard]] static int SPI_Transfer_Write(int fd, const unsigned char* tx, int len);
    // Polls the status register until the busy bit clears: 0, or -1 after kBusyLimitMs.
    [[nodiscard]] static int FPGA_SPI_WAIT_BUSY(int fd);

    // Flash 2 is FPGA 0's configuration flash; any other number FPGA 1's. Each returns 1
    // on success and 0 on a refused range, an unopened device or a flash that stays busy.
    [[nodiscard]] static unsigned char FPGA_SPI_FLASH_VBYONE_ERASE(unsigned char flash, unsigned int sector,
                                                     unsigned char kind, unsigned int count);
    // buffer holds 4 bytes of work space in front of the length data bytes; they and the
    // 4 bytes in front of each page are overwritten with that page's command.
    [[nodiscard]] static unsigned char FPGA_SPI_FLASH_VBYONE_WRITE(unsigned char flash, unsigned int address,
                                                     unsigned char* buffer, unsigned int length);
    [[nodiscard]] static unsigned char FPGA_SPI_FLASH_VBYONE_READ(unsigned char flash, unsigned int address,
                                                    unsigned int length, unsigned char* out);
    // The flash's 8-byte unique id into out: 1 when the flash answered, 0 (out left as it
    // was) when it could not be reached or the transfer failed.
    [[nodiscard]] static unsigned char FPGA_SPI_FLASH_SSTF016B_RD_UID(unsigned char flash, unsigned char* out);
    // 1 when every transfer of the sequence went out.
    [[nodiscard]] static unsigned char FPGA_SPI_Disable_WP(int fd);
};
