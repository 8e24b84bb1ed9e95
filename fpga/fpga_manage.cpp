#include "fpga/fpga_manage.h"

#include "board/Clock.h"
#include "board/Files.h"
#include "board/SocWindow.h"
#include "board/SpiDevice.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "fpga/fpga_drv.h"
#include "fpga/rcv_recovery_file.h"
#include "sources/velinsource.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <set>
#include <string>

SEND_PARA g_send_para;
std::atomic<u32> g_change[kChangeWords];
LINE_TYPE line_type = {};
QString g_kxfile_name;
std::mutex g_kxfile_name_mutex;

fpga_manage* fpga_manage::p_fpga_manage = nullptr;
u8* fpga_manage::MCU_REG_func[2] = {};
u8* fpga_manage::MCU_RAM_PARA_func[2] = {};
u8* fpga_manage::MCU_RAM_RX_func[2] = {};
u8* fpga_manage::MCU_RAM_TX_func[2] = {};
u8* fpga_manage::MCU_RAM_ETH_PARA_func[2] = {};
u8* fpga_manage::MCU_RAM_ETH_BACK_PARA_func[2] = {};
u8 fpga_manage::MCU_RAM_CMD[1024] = {};
u8 fpga_manage::MCU_RAM_EXTEND[1024] = {};
u8 fpga_manage::MCU_RAM_ZOOM[1024] = {};
u8 fpga_manage::MCU_RAM_DEFAULT[2048] = {};
std::mutex fpga_manage::ram_image_mutex;

namespace {

constexpr u32 kMemRequestMagic = 0x4D530100;
constexpr u32 kRamSpace = 4096;            // the command word carries 12 address bits
constexpr u32 kSendReadyTicks = 300;
constexpr uint64_t kSendReadyLimitUs = 3000000;   // the same 300 ticks, should the tick stop

// Send length registers of pairs 0..7.
constexpr u8 kSendLengthReg[8] = {26, 134, 136, 138, 154, 155, 156, 157};

bool validFpga(int fpga) { return fpga == 0 || fpga == 1; }

void putLe16(unsigned char* p, u16 v)
{
    p[0] = u8(v & 0xFF);
    p[1] = u8(v >> 8);
}

void putLe32(unsigned char* p, u32 v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = u8(v >> (8 * i));
}

// The ten header bytes every receiving-card packet built here starts with.
void putHead(unsigned char* buf, u16 target, u8 portByte, u8 command)
{
    putLe16(buf, target);
    putLe16(buf + 2, 0xF000);
    buf[4] = 0x10;
    buf[5] = 0x67;
    buf[6] = 0x01;
    buf[7] = portByte;
    buf[8] = 0;
    buf[9] = command;
}

u16 portBits(int port) { return u16((port & 3) << 12); }

// Ends a packet of total length n with its check byte and returns that byte.
u8 closePacket(unsigned char* buf, unsigned n)
{
    u8 bcc = u8(Utils::BCC(buf, n - 1));
    buf[n - 1] = bcc;
    return bcc;
}

// The screens that show job progress; touched only on the GUI thread.
QPointer<QObject>& progressScreen(int which)
{
    static QPointer<QObject> screens[2];
    return screens[which & 1];
}
// Whether each is registered, for the manager thread.
std::atomic<bool> g_progress_screen_open[2];
// The newest progress value of each screen and whether an event carrying it is queued:
// a job steps faster than a screen draws (and without an event loop nothing is drawn at
// all), so at most one event waits and it delivers the value current when it runs.
std::atomic<int> g_progress_latest[2];
std::atomic<bool> g_progress_queued[2];

// Parts of the loop that the bring-up work supplies; each says once that it was called.
void pendingCall(std::atomic<u32>& counter, const char* name)
{
    static std::mutex lock;
    static std::set<std::string> said;
    counter.fetch_add(1, std::memory_order_relaxed);
    std::lock_guard<std::mutex> hold(lock);
    if (said.insert(name).second)
        KEL_TRACE("\n fpga_manage::%s: not built yet, nothing done\n", name);
}

} // namespace

// ------------------------------------------------------------------------------------
// Object life

fpga_manage* fpga_manage::pInstance()
{
    if (!p_fpga_manage) {
        p_fpga_manage = new fpga_manage();
        // The folders of the receiving-card package and the scan-parameter files.
        rcvRecovery::check_file_dir("/data/smartmapping");
        rcvRecovery::check_file_dir("/data/rcvrecovery");
        p_fpga_manage->initialize();
    }
    return p_fpga_manage;
}

fpga_manage::fpga_manage()
{
    writeLogMsg(LOG_INFO, "====fpga_manage::fpga_manage()=====");
    m_fpga_drv = new fpga_drv();
    for (int f = 0; f < 2; ++f) {
        MCU_REG_func[f] = reg_area[f];
        MCU_RAM_PARA_func[f] = ram_para_area[f];
        MCU_RAM_RX_func[f] = ram_rx_area[f];
        MCU_RAM_TX_func[f] = ram_tx_area[f];
        MCU_RAM_ETH_PARA_func[f] = eth_para_area[f];
        MCU_RAM_ETH_BACK_PARA_func[f] = eth_back_para_area[f];
        output_size_state[f] = 3;
    }
    clock_record_initialised = 0;
    m_rcvRecovery = new rcvRecovery();
    std::memset(HalfHourValue, 15, sizeof HalfHourValue);
}

fpga_manage::~fpga_manage()
{
    // The system never destroys the manager; tests do, so the descriptors are given back.
    for (int fd : {fpga_vbyone1_fd, fpga_vbyone2_fd, fpga_vbyone1_flash_fd, fpga_vbyone2_flash_fd})
        if (fd >= 0)
            board::SpiDevice::close(fd);
    if (gpio_window)
        board::SocWindow::unmap(gpio_window, mem_request[3]);
    if (msys_fd >= 0)
        board::SocWindow::close(msys_fd);
    if (mem_fd >= 0)
        board::SocWindow::close(mem_fd);
    delete m_fpga_drv;
    delete m_rcvRecovery;
    if (p_fpga_manage == this)
        p_fpga_manage = nullptr;
    // The register and RAM images are shared through static pointers; none may outlive them.
    for (int f = 0; f < 2 && MCU_REG_func[0] == reg_area[0]; ++f) {
        for (u8** image : {&MCU_REG_func[f], &MCU_RAM_PARA_func[f], &MCU_RAM_RX_func[f], &MCU_RAM_TX_func[f],
                           &MCU_RAM_ETH_PARA_func[f], &MCU_RAM_ETH_BACK_PARA_func[f]})
            *image = nullptr;
    }
    upgrade_files.clear();
    upgrade_path.clear();
}

// ------------------------------------------------------------------------------------
// Devices, window and select lines

u8 fpga_manage::initialize()
{
    fpga_vbyone1_fd = fpga_drv::initialize_vbyne1(0);
    fpga_vbyone1_flash_fd = fpga_drv::initialize_vbyne1(2);
    KEL_TRACE("\n fpga_vbyone1_fd fd = %d \n", fpga_vbyone1_fd);
    KEL_TRACE("\n fpga_vbyone1_flash_fd fd = %d \n", fpga_vbyone1_flash_fd);

    mem_request[0] = kMemRequestMagic;
    mem_request[4] = 20;
    msys_fd = board::SocWindow::openRequestDevice();
    if (msys_fd < 0) {
        KEL_TRACE("\n can't open /dev/msys");
        return 255;
    }
    mem_fd = board::SocWindow::openMemory();
    if (mem_fd < 0) {
        KEL_TRACE("\ncan't open /dev/mem");
        return 255;
    }
    if (board::SocWindow::memoryRequest(msys_fd, mem_request) != 0) {
        KEL_TRACE("\n DMEM request failed!!");
        return 255;
    }
    volatile uint8_t* window = board::SocWindow::map(mem_fd, mem_request[1], mem_request[3]);
    if (!window) {
        KEL_TRACE("\n NULL pointer!");
        return 255;
    }
    gpio_window = window;
    gpio_fpga0_cs = gpio_line(kGpioFpga0Select);
    gpio_fpga1_cs = gpio_line(kGpioFpga1Select);
    gpio_fpga0_cmd = gpio_line(kGpioFpga0Command);
    gpio_fpga1_cmd = gpio_line(kGpioFpga1Command);
    gpio_fpga0_rst = gpio_line(kGpioFpga0Reset);
    gpio_fpga1_rst = gpio_line(kGpioFpga1Reset);
    gpio_fpga0_flash_cs = gpio_line(kGpioFpga0FlashSelect);
    gpio_fpga1_flash_cs = gpio_line(kGpioFpga1FlashSelect);
    gpio_fpga0_irq = gpio_line(kGpioFpga0Irq);
    gpio_fpga1_irq = gpio_line(kGpioFpga1Irq);
    gpio_it6602_rst = gpio_line(kGpioIt6602Reset);
    gpio_it6805_rst = gpio_line(kGpioIt6805Reset);
    gpio_1f1c = gpio_line(kGpio1F1C);
    gpio_sdi_rst = gpio_line(kGpioSdiReset);
    gpio_sdi_prepare = gpio_line(kGpioSdiPrepare);

    if (gpio_fpga1_cmd)
        *gpio_fpga1_cmd = kLineIdle;
    if (gpio_fpga1_flash_cs)
        *gpio_fpga1_flash_cs = kLineIdle;
    if (gpio_it6602_rst)
        *gpio_it6602_rst = 0;
    if (gpio_it6805_rst)
        *gpio_it6805_rst = 0;
    if (gpio_1f1c)
        *gpio_1f1c = 1;
    return 0;
}

volatile u16* fpga_manage::gpio_line(uint32_t offset) const
{
    if (!gpio_window || (offset & 1) || offset > mem_request[3] || mem_request[3] - offset < 2)
        return nullptr;
    return reinterpret_cast<volatile u16*>(gpio_window + offset);
}

// ------------------------------------------------------------------------------------
// Command words and raw transfers

u32 fpga_manage::fpga_cmd_to_spi_data(u8 op, u8 ram, u16 addr, u8 read)
{
    return u32(read & 1) | (u32(op & 0x0F) << 1) | (u32(ram) << 8) | (u32(addr & 0x0FFF) << 16);
}

u32 fpga_manage::fpga_reg_cmd_to_spi_data(u8 op, u8 ram, u8 reg, u8 read, u8 data)
{
    return u32(read & 1) | (u32(op & 0x0F) << 1) | (u32(ram) << 8) | (u32(reg) << 16) |
           (u32(read ? 0 : data) << 24);
}

u8 fpga_manage::transfer(int fpga, u32 command, Transfer kind, unsigned char* data, unsigned int len)
{
    if (!validFpga(fpga))
        return 255;
    volatile u16* own = fpga ? gpio_fpga1_cs : gpio_fpga0_cs;
    volatile u16* other = fpga ? gpio_fpga0_cs : gpio_fpga1_cs;
    volatile u16* phase = fpga ? gpio_fpga1_cmd : gpio_fpga0_cmd;
    if (!own || !other || !phase) {
        KEL_TRACE("\n fpga%d: GPIO window not mapped, transfer refused\n", fpga);
        return 255;
    }
    const int fd = fpga ? fpga_vbyone2_fd : fpga_vbyone1_fd;
    if (fd < 0) {
        KEL_TRACE("\n fpga%d: SPI device not open, transfer refused\n", fpga);
        return 255;
    }
    unsigned char word[4];
    putLe32(word, command);
    int ok = 1;
    // RAM bytes travel through a buffer of this transfer's own: the caller's may be an image
    // that other threads copy from at the same time (see ram_image_mutex).
    std::vector<unsigned char> ram;
    if (kind == Transfer::RamWrite && len) {
        std::lock_guard<std::mutex> image(ram_image_mutex);
        ram.assign(data, data + len);
    } else if (kind == Transfer::RamRead && len) {
        ram.assign(len, 0xFF);
    }
    std::unique_lock<std::mutex> hold(Utils::_spi_mutex);
    *phase = kLineIdle;                  // 16 while the command word is sent
    *own = kLineActive;
    *other = kLineIdle;
    if (fpga_drv::SPI_Transfer_Write(fd, word, 4) <= 0)
        ok = 0;
    *phase = 0;
    switch (kind) {
    case Transfer::RegisterWrite:
        if (ok && fpga_drv::SPI_Transfer_Write(fd, data, 1) <= 0)
            ok = 0;
        break;
    case Transfer::RegisterRead: {
        unsigned char tx = 0xFF, rx = 0xFF;
        if (ok && fpga_drv::SPI_Transfer(fd, &tx, &rx, 1) > 0)
            *data = rx;
        else
            ok = 0;
        break;
    }
    case Transfer::RamWrite:
        if (ok && len && fpga_drv::SPI_Transfer_Write(fd, ram.data(), int(len)) <= 0)
            ok = 0;
        break;
    case Transfer::RamRead:
        if (ok && len && fpga_drv::SPI_Transfer(fd, ram.data(), ram.data(), int(len)) <= 0)
            ok = 0;
        break;
    }
    if (gpio_fpga0_cs)
        *gpio_fpga0_cs = kLineIdle;
    if (gpio_fpga1_cs)
        *gpio_fpga1_cs = kLineIdle;
    hold.unlock();
    if (kind == Transfer::RamRead && ok && len) {
        // A failed read leaves the caller's bytes as they were.
        std::lock_guard<std::mutex> image(ram_image_mutex);
        std::memcpy(data, ram.data(), len);
    }
    return ok ? 0 : 255;
}

u8 fpga_manage::read_fpga_register(u8 reg, u8* out, u8 fpga)
{
    if (!out)
        return 255;
    u8 value = 0;
    u8 r = transfer(fpga, fpga_reg_cmd_to_spi_data(kOpRegister, 0, reg, 1, 0), Transfer::RegisterRead, &value, 1);
    if (r == 0)
        *out = value;
    return r;
}

u8 fpga_manage::write_fpga_register(u8 reg, u8 value, u8 fpga, u8 mask)
{
    return transfer(fpga, fpga_reg_cmd_to_spi_data(kOpRegister, 0, reg, 0, mask), Transfer::RegisterWrite, &value, 1);
}

u8 fpga_manage::write_fpga_ram(unsigned char* buf, unsigned int addr, unsigned int len, unsigned char ram,
                               unsigned char fpga)
{
    if ((len && !buf) || len > kRamSpace || addr > kRamSpace - len) {
        KEL_TRACE("\n fpga%d ram %d: range %u+%u refused\n", fpga, ram, addr, len);
        return 255;
    }
    return transfer(fpga, fpga_cmd_to_spi_data(kOpRam, ram, u16(addr), 0), Transfer::RamWrite, buf, len);
}

u8 fpga_manage::read_fpga_ram(unsigned char* buf, unsigned int addr, unsigned int len, unsigned char ram,
                              unsigned char fpga)
{
    if ((len && !buf) || len > kRamSpace || addr > kRamSpace - len) {
        KEL_TRACE("\n fpga%d ram %d: range %u+%u refused\n", fpga, ram, addr, len);
        return 255;
    }
    return transfer(fpga, fpga_cmd_to_spi_data(kOpRam, ram, u16(addr), 1), Transfer::RamRead, buf, len);
}

// ------------------------------------------------------------------------------------
// Registers through the shadow

void fpga_manage::read_from_register(int reg, int fpga)
{
    if (reg < 0 || reg >= kRegCount || (reg >= 64 && reg <= 127) || !validFpga(fpga))
        return;
    u8 value = 0;
    if (read_fpga_register(u8(reg), &value, u8(fpga)) != 0)
        return;                           // the shadow keeps what it had
    std::lock_guard<std::mutex> hold(reg_image_mutex);
    MCU_REG_func[fpga][reg] = value;
}

u8 fpga_manage::reg_shadow(int reg, int fpga) const
{
    if (reg < 0 || reg >= kRegCount || !validFpga(fpga))
        return 0;
    // The manager's thread and the links' interrupt service both refresh the shadow.
    std::lock_guard<std::mutex> hold(reg_image_mutex);
    return MCU_REG_func[fpga][reg];
}

u8 fpga_manage::write_to_register(int reg, u8 mask, u8 value, int fpga)
{
    return masked_write(reg, mask, value, fpga, true);
}

void fpga_manage::write_to_0x00_register(int reg, u8 mask, u8 value, int fpga)
{
    masked_write(reg, mask, value, fpga, false);
}

// The masked write through the shadow that both entries share; withBlock says whether the
// register-0 and register-2 side effects that need the parameter block are made.
u8 fpga_manage::masked_write(int reg, u8 mask, u8 value, int fpga, bool withBlock)
{
    if (reg < 0 || reg >= kRegCount || !validFpga(fpga))
        return 255;
    if (reg >= 64 && reg <= 127) {
        // Registers 64..96 live only in the shadow; 97..127 are not used.
        if (reg <= 96) {
            std::lock_guard<std::mutex> hold(reg_image_mutex);
            MCU_REG_func[fpga][reg] = u8((MCU_REG_func[fpga][reg] & ~mask) | (value & mask));
        }
        return 0;
    }
    read_from_register(reg, fpga);
    u8 byte, before, written;
    {
        std::lock_guard<std::mutex> hold(reg_image_mutex);
        before = MCU_REG_func[fpga][reg];
        written = u8((before & ~mask) | (value & mask));
        MCU_REG_func[fpga][reg] = written;
        byte = written;
    }
    if (reg == 2 && withBlock) {
        if (byte & 0x04) {
            byte = u8(byte & ~0x04);
            Dealwith_mcu_ram();
        }
        byte = u8(byte & ~0x02);
    }
    // A write that asks for the dark bit (a PC's register write) is a request for the
    // screen's state: the word takes it, whatever else the mask holds and whether or not a
    // size change runs, or the next bring-up would put back what the word said before. It
    // takes it before the FPGA does, so that a bring-up or refresh that reads the word
    // meanwhile writes it too (see screen_from_word). The manager's own passing dark (size
    // change, bring-up) goes without the block.
    const bool asksScreen = reg == 0 && withBlock && (mask & 0x04);
    const u8 dark = (byte & 0x04) ? 1 : 0;
    const int wordBefore = asksScreen ? set_screen_dark_word(dark) : -1;
    const u8 r = write_fpga_register(u8(reg), byte, u8(fpga), mask);
    if (r != 0) {
        // Not sent: nothing changes; the shadow shows what the FPGA still holds, the word
        // what it held (unless another owner wrote it meanwhile).
        std::lock_guard<std::mutex> hold(reg_image_mutex);
        if (MCU_REG_func[fpga][reg] == written)
            MCU_REG_func[fpga][reg] = before;
    } else if (reg == 0) {
        register0_taken(byte);
    }
    if (wordBefore >= 0 && r != 0)
        set_screen_dark_word(u16(wordBefore), dark);
    else if (wordBefore >= 0 && screen_word_dark() != (dark != 0))
        return screen_from_word(u8(fpga));   // another request came between: the word's is the one
    return r;
}

bool fpga_manage::screen_word_dark()
{
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    return para && para->locked16(KelRamPara::kScreenDark) != 0;
}

void fpga_manage::register0_taken(u8 byte)
{
    const bool dark = (byte & 0x04) != 0;
    ScreenState = dark ? 0 : 1;
    {
        std::lock_guard<std::mutex> hold(reg_image_mutex);
        MCU_RAM_EXTEND[29] = ScreenState;
    }
    output_enable = u8((byte >> 3) & 1);
    if (byte & 0x20) {
        status_latch = 1;
    } else if (status_latch) {
        status_latch = 0;
        size_change_request = 1;
    }
}

int fpga_manage::set_screen_dark_word(u16 word, int expect)
{
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    if (!para)
        return -1;
    int held;
    {
        // PC links and the screens write the block on their threads.
        std::unique_lock<std::mutex> block = KelRamPara::lock_block();
        held = KelRamPara::get16(para->ram + KelRamPara::kScreenDark);
        if (expect >= 0 && held != expect)
            return held;
        KelRamPara::put16(para->ram + KelRamPara::kScreenDark, word);
    }
    para->test_signal(1);
    return held;
}

void fpga_manage::fpga_flash_access() {}

// ------------------------------------------------------------------------------------
// Manager thread and pass

u8 fpga_manage::initialize_start()
{
    softinit();
    if (pthread_create(&m_thread, nullptr, &fpga_manage::fpgamanageThread, this) != 0) {
        writeLogMsg(LOG_ERROR, "create check source thread failed");
        KEL_TRACE("\n create check source thread failed\n");
        return 255;
    }
    pthread_detach(m_thread);
    return 0;
}

void* fpga_manage::fpgamanageThread(void* arg)
{
    if (!arg)
        return nullptr;
    fpga_manage* self = static_cast<fpga_manage*>(arg);
    // Every wait of the manager is counted in 10 ms ticks, so between jobs one pass a tick
    // loses nothing; bring-up, a running job or an upgrade step once a millisecond.
    for (;;) {
        const bool busy = g_usb_grade != 0 || g_send_para.job != 0 || self->get_fpga_status() != 1;
        if (g_usb_grade != 0)
            self->usb_upgrade_manage_deal(nullptr);
        else
            self->fpga_manage_deal(nullptr);
        board::Clock::sleepMs(busy ? 1 : 10);
    }
    return nullptr;
}

void fpga_manage::softinit()
{
    const u32 now = G_timeTicks.load();
    for (int w : {CHG_BRINGUP_STAMP0, CHG_BRINGUP_STAMP1, CHG_RESET_RELEASE, CHG_JOB_STAMP, CHG_LINK_WATCH_STAMP0,
                  CHG_LINK_WATCH_STAMP1, CHG_SPARE_STAMP})
        g_change[w] = now;
    g_change[CHG_IRQ_STATE0] = 0;
    g_change[CHG_IRQ_STATE1] = 0;
    g_change[CHG_IRQ_AFTER] = 0;
    g_change[CHG_SEARCH_PERMIT] = 15;
    g_change[CHG_AFTER_PERMIT] = 15;
    Version_to_RAM();
    PHY_status_to_RAM();
    MCU_RAM_CMD[28] = 255;
    MCU_RAM_CMD[29] = 1;
    MCU_RAM_EXTEND[49] = 159;
    MCU_RAM_EXTEND[50] = 159;
    g_send_para.reply = 0;
    g_send_para.job = 0;
    g_send_para.step = 255;
    Power_ctrl_init();
}

void fpga_manage::Version_to_RAM()
{
    MCU_RAM_CMD[24] = 1;
    MCU_RAM_CMD[25] = 17;
    MCU_RAM_CMD[26] = 0;
    MCU_RAM_CMD[27] = 0;
}

void fpga_manage::PHY_status_to_RAM()
{
    std::memset(MCU_RAM_CMD + 30, 0, 4);
}

u8 fpga_manage::source_stage() const
{
    // Read without a lock: a single byte that the input-source thread steps forward.
    velinsource* source = velinsource::p_velin_source;
    return source ? source->startup_stage() : 0;
}

void* fpga_manage::fpga_manage_deal(void*)
{
    check_fpga_rst();
    const bool inputsReady = source_stage() == 2;
    if (inputsReady)
        power_up_fpga_start(1, 0);
    {
        std::lock_guard<std::mutex> hold(port_path_mutex);
        if (inputsReady)
            reg_IRQ_Dealwith(0, 0);
    }
    if (inputsReady)
        power_up_check_fpga_status(0);

    // The request flags are cleared before the work they ask for, so that a request
    // raised while the work runs is kept for the next pass; while the FPGA is not ready
    // they stay raised.
    if (bri_update_flag && get_fpga_status()) {
        {
            std::lock_guard<std::mutex> hold(Utils::_bri_set_mutex);
            bri_update_flag = 0;
        }
        // The brightness step must still see the request it serves.
        bri_request_taken = 1;
        set_fpga_bri_val();
        bri_request_taken = 0;
    }
    if (g_set_led_para != 0 || g_freeze_out != 0 || freeze_running != 0)
        set_led_para_deal();

    const u8 job = g_send_para.job.load(std::memory_order_acquire);
    switch (job) {
    case 1:
        SmartMapping_deal();
        break;
    case 2:
        rcv_recovery_check_deal(2);
        break;
    case 3:
        save_para_deal();
        break;
    case 4:
        mapping_enable_deal();
        break;
    case 5:
        rcv_recovery_check_deal(0);
        break;
    case 6:
        rcv_recovery_check_deal(1);
        break;
    default:
        Check_search_card();
        break;
    }
    // A card job lasts minutes to hours and takes the place of the card searches, not of the
    // day schedule and the brightness, which follow the clock, job or not (the idle work above
    // runs them itself).
    if (job >= 1 && job <= 6 && get_fpga_status())
        Extension_function();

    if (screen_update_flag == 1 && get_fpga_status()) {
        {
            std::lock_guard<std::mutex> hold(Utils::_system_mutex);
            screen_update_flag = 0;
        }
        set_output_status();
    }
    run_clock_record();
    return nullptr;
}

u8 fpga_manage::set_fpga_bri_val()
{
    if (!get_fpga_status())
        return 0;
    Brightness_hand_dealwith();
    return 1;
}

u8 fpga_manage::set_output_status()
{
    if (!get_fpga_status())
        return 0;
    if (screen_from_word(0) != 0) {
        // Not taken by the FPGA: asked again on the next pass.
        screen_update_flag = 1;
    }
    return 1;
}

void fpga_manage::run_clock_record()
{
    if (!get_fpga_status())
        return;
    if (!clock_record_initialised) {
        m_clock_record.clock_record_init();
        clock_record_initialised = 1;
        return;
    }
    m_clock_record.clock_record_deal();
}

void fpga_manage::Check_search_card()
{
    if (pc_cmd_valid == 0 && get_fpga_status()) {
        check_vbo_status(0);
        Search_Card_Cmd();
        Extension_function();
        check_wlanonline_state();
        return;
    }
    // The card searches wait for a PC to fall silent, the schedules do not: the screen's
    // on/off and brightness follow them whatever a PC does. Their one card read (the light
    // sensor's) is told apart from a PC's answers by its address.
    if (get_fpga_status())
        Extension_function();
    if (Utils::getTimeSpace(pc_cmd_time) > 80) {
        pc_cmd_valid = 0;
        pc_cmd_word = 0;
    }
}

void* fpga_manage::usb_upgrade_manage_deal(void*)
{
    // Writing images from a USB stick is not part of this system: the turn ends the
    // request, and the screen learns it from the upgrade step code.
    pendingCall(pending_calls, "usb_upgrade_manage_deal");
    g_usb_grade = 0;
    if (KelRamPara* para = KelRamPara::p_kelrampara_config)
        para->test_signal(104);
    return nullptr;
}

u8 fpga_manage::get_fpga_status()
{
    return (reg_shadow(80, 0) == 3 && link_stage[0] == 7 && check_step[0] >= 16 && (reg_shadow(0, 0) & 0x08) == 0) ? 1 : 0;
}

u8 fpga_manage::IT8563WE_Get(TimeRealType* t)
{
    if (!t)
        return 0;
    // The board's clock is set by shell command under the same lock.
    // The schedules look at the clock on every pass: the broken-down time is worked out
    // once per second, not a hundred times.
    static std::time_t lastSecond = -1;
    static std::tm lastLocal{};
    std::tm local{};
    {
        std::lock_guard<std::mutex> hold(Utils::_system_mutex);
        const std::time_t now = board::Clock::wallTime();
        if (now != lastSecond) {
            localtime_r(&now, &lastLocal);
            lastSecond = now;
        }
        local = lastLocal;
    }
    t->year = u16(local.tm_year + 1900);
    t->month = u8(local.tm_mon + 1);
    t->day = u8(local.tm_mday);
    t->hour = u8(local.tm_hour);
    t->minute = u8(local.tm_min);
    t->second = u8(local.tm_sec);
    return 0;
}


// ------------------------------------------------------------------------------------
// Job progress

void fpga_manage::set_progress_screen(int which, QObject* screen)
{
    progressScreen(which) = screen;
    g_progress_screen_open[which & 1] = screen != nullptr;
}

bool fpga_manage::progress_screen_open(int which)
{
    return g_progress_screen_open[which & 1];
}

void fpga_manage::emit_recovery_list(const QStringList& list)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    // Queued ahead of the change notification that makes the screen redraw.
    QMetaObject::invokeMethod(
        app,
        [list] {
            QObject* screen = progressScreen(kProgressRcvRecovery);
            if (screen)
                QMetaObject::invokeMethod(screen, "set_file_list", Qt::DirectConnection, Q_ARG(QStringList, list));
        },
        Qt::QueuedConnection);
}

void fpga_manage::emit_job_failed(int which, int why)
{
    QCoreApplication* app = QCoreApplication::instance();
    which &= 1;
    if (!app || !progress_screen_open(which))
        return;
    // Queued behind the job's last progress value, so the ring has closed when it runs.
    QMetaObject::invokeMethod(
        app,
        [which, why] {
            QObject* screen = progressScreen(which);
            if (screen)
                QMetaObject::invokeMethod(screen, "card_job_failed", Qt::DirectConnection, Q_ARG(int, why));
        },
        Qt::QueuedConnection);
}

void fpga_manage::emit_progress(int which, int percent)
{
    QCoreApplication* app = QCoreApplication::instance();
    which &= 1;
    if (!app || !progress_screen_open(which))
        return;
    g_progress_latest[which] = percent;
    if (g_progress_queued[which].exchange(true))
        return;
    // The screen may close at any time; it is looked up on the GUI thread, where it lives.
    QMetaObject::invokeMethod(
        app,
        [which] {
            // Cleared before the value is taken: a value stored after this queues anew.
            g_progress_queued[which] = false;
            const int value = g_progress_latest[which];
            QObject* screen = progressScreen(which);
            if (screen)
                QMetaObject::invokeMethod(screen, "sig_qround_bar_update", Qt::DirectConnection, Q_ARG(int, value));
        },
        Qt::QueuedConnection);
}

// ------------------------------------------------------------------------------------
// Output ports

u16 fpga_manage::get_port_card_num(int port)
{
    if (port < 0 || port > 9)
        return 0;
    const u8* ram = MCU_RAM_PARA_func[0];
    const u16 at = kCardCountOffset[port];
    // The count comes from a card's answer or a PC's write; the jobs wait for every card
    // they count, so they count no more than a port's chain can hold.
    return std::min<u16>(u16(ram[at] | (ram[at + 1] << 8)), kMaxPortCards);
}

u16 fpga_manage::check_netport_card(int fpga)
{
    if (!validFpga(fpga))
        return 0;
    const u8* ram = MCU_RAM_PARA_func[fpga];
    u16 sum = 0;
    for (int port = 0; port <= 9; ++port)
        sum = u16(sum + (ram[kCardCountOffset[port]] | (ram[kCardCountOffset[port] + 1] << 8)));
    return sum;
}

namespace {
// The port's transmitter busy bit: register 129 for ports 0-7, 145 for 8-15.
int busyRegister(int port) { return port < 8 ? 129 : 145; }
u8 busyBit(int port) { return u8(1u << (2 * ((port / 2) % 4) + 1)); }
} // namespace

u8 fpga_manage::wait_fpga_send_ready(int port, int fpga, std::unique_lock<std::mutex>* sending)
{
    if (port < 0 || port > 15)
        return 0;
    const int reg = busyRegister(port);
    const u8 bit = busyBit(port);
    const u32 start = G_timeTicks.load();
    const uint64_t startUs = board::Clock::monotonicUs();
    for (;;) {
        read_from_register(reg, fpga);
        if ((reg_shadow(reg, fpga) & bit) == 0)
            return 1;
        // Bounded by ticks as the system counts time, and by the clock as well so that a
        // stopped tick counter cannot hold the loop.
        if (Utils::getTimeSpace(start) >= kSendReadyTicks ||
            board::Clock::monotonicUs() - startUs >= kSendReadyLimitUs)
            return 0;
        // Nobody else waits on the send lock meanwhile.
        if (sending)
            sending->unlock();
        board::Clock::sleepMs(1);
        if (sending)
            sending->lock();
    }
}

void fpga_manage::put_to_port(unsigned char* buf, unsigned int len, int port, int fpga)
{
    if (port < 8)
        write_to_register(132, 0xFF, u8(1u << port), fpga);
    else
        write_to_register(148, 0xFF, u8(1u << (port - 8)), fpga);
    const int pair = port / 2;
    write_fpga_ram(buf, 0, len, u8(3 + 2 * pair), u8(fpga));
    const unsigned last = len - 1;
    write_to_register(kSendLengthReg[pair], 0xFF, u8(last & 0xFF), fpga);
    const int shift = 2 * (pair % 4);
    write_to_register(pair < 4 ? 27 : 158, u8(0x03 << shift), u8(((last >> 8) & 0x03) << shift), fpga);
    if (pair < 4)
        write_to_register(130, 0xF0, u8(0x10 << pair), fpga);
    else
        write_to_register(146, 0xF0, u8(0x10 << (pair - 4)), fpga);
}

void fpga_manage::Send_to_port(unsigned char* buf, unsigned int len, int port, int fpga)
{
    if (!buf || len == 0 || len > kPacketMax) {
        KEL_TRACE("\n Send_to_port: length %u refused\n", len);
        return;
    }
    // A transmitter may stay busy for up to 3 s: the send lock (the manager's sweeps and
    // the PCs' packets take it) is let go while it is, and the port is found idle under
    // it before the packet goes in. Only the manager's own sends wait here.
    std::unique_lock<std::mutex> sending(send_mutex);
    wait_fpga_send_ready(port, fpga, &sending);
    if (port < 0 || port > 15)
        return;
    put_to_port(buf, len, port, fpga);
}

bool fpga_manage::send_when_ready(unsigned char* buf, unsigned int len, int port, int fpga, u32 since, uint64_t sinceUs)
{
    if (!buf || len == 0 || len > kPacketMax || port < 0 || port > 15)
        return true;
    std::lock_guard<std::mutex> sending(send_mutex);
    // One look at the busy bit; the wait's bound is the one wait_fpga_send_ready keeps.
    read_from_register(busyRegister(port), fpga);
    if ((reg_shadow(busyRegister(port), fpga) & busyBit(port)) != 0 && Utils::getTimeSpace(since) < kSendReadyTicks &&
        board::Clock::monotonicUs() - sinceUs < kSendReadyLimitUs)
        return false;
    put_to_port(buf, len, port, fpga);
    return true;
}

void fpga_manage::stamp_port(unsigned char* buf, unsigned int len, int port)
{
    if (!buf || len < 2)
        return;
    const u8 old = buf[1];
    const u8 now = u8((old & ~0x30) | ((port & 3) << 4));
    buf[1] = now;
    buf[len - 1] = u8(buf[len - 1] ^ old ^ now);
}

void fpga_manage::multi_port_send(unsigned char* buf, unsigned int len, u32 due)
{
    if (!buf || len < 2 || len > kPacketMax) {
        KEL_TRACE("\n multi_port_send: length %u refused\n", len);
        return;
    }
    u32 enable, mask;
    {
        std::lock_guard<std::mutex> hold(Utils::_fpga_multicast_mutex);
        enable = multicast_enable;
        mask = multicast_mask;
    }
    // The caller holds the port-path lock. A port's transmitter may stay busy for up to
    // 3 s: the packet waits for it in the pass-through's outgoing list, polled by the
    // manager's tick, so the link that asked goes on at once; the receive path awaits the
    // answers once every port has it.
    PassbyQueue::Outgoing out;
    out.packet.assign(buf, buf + len);
    out.stamp = true;
    out.allPorts = true;
    out.due = due;
    if (enable == 0) {
        read_from_register(128, 0);
        read_from_register(144, 0);
        const u32 links = reg_shadow(80, 0) == 3 ? (u32(reg_shadow(144, 0)) << 8 | reg_shadow(128, 0)) : 0;
        for (int port = 0; port <= 9; ++port)
            if ((links >> port & 1) && get_port_card_num(port))
                out.ports.push_back(port);
    } else {
        for (int port = 0; port <= 7; ++port)
            if (mask >> port & 1)
                out.ports.push_back(port);
    }
    passby.outgoing.push_back(std::move(out));
    put_passby_out();
}

// ------------------------------------------------------------------------------------
// Packet builders

u8 fpga_manage::rcv_card_cmd_create(unsigned char* buf, int port)
{
    const u16 index = g_send_para.index;
    putHead(buf, u16(portBits(port) + (index & 0x0FFF)), u8(port + 1), 0x60);
    putLe32(buf + 10, 0x180);
    putLe16(buf + 14, 4);
    buf[16] = 0;
    buf[17] = 0;
    u16 x = 0, y = 0;
    get_rcvcard_x_y(index, &x, &y);
    putLe16(buf + 18, u16(line_type.x_offset + x));
    putLe16(buf + 20, u16(line_type.y_offset + y));
    return closePacket(buf, 23);
}

u8 fpga_manage::load_write_ram_cmd_create(int port, u16 card, u32 addr, const unsigned char* data, u16 n,
                                          unsigned char* buf, bool allCards)
{
    if (u32(n) + 19 > kPacketMax || (n && !data)) {
        g_send_para.length = 0;
        return 0;
    }
    putHead(buf, allCards ? 0x0FFF : card, u8(port + 1), 0x60);
    putLe32(buf + 10, addr);
    putLe16(buf + 14, n);
    buf[16] = 0;
    buf[17] = 0;
    if (n)
        std::memcpy(buf + 18, data, n);
    g_send_para.length = u16(n + 19);
    return closePacket(buf, n + 19u);
}

u16 fpga_manage::load_write_reg_cmd_create(int, u16 card, const unsigned char* data, u16 n, unsigned char* buf,
                                           bool allCards)
{
    if (u32(n) + 11 > kPacketMax || (n && !data)) {
        g_send_para.length = 0;
        return 0;
    }
    putHead(buf, allCards ? 0x0FFF : card, 0, 0xA0);
    if (n)
        std::memcpy(buf + 10, data, n);
    closePacket(buf, n + 11u);
    g_send_para.length = u16(n + 11);
    return u16(n + 11);
}

u16 fpga_manage::load_write_user_defined_cmd_create(int, u16 card, const unsigned char* data, u16 n,
                                                    unsigned char* buf, bool allCards)
{
    // The first data byte is the command byte, so at least one is needed.
    if (n == 0 || !data || u32(n) + 10 > kPacketMax) {
        g_send_para.length = 0;
        return 0;
    }
    putHead(buf, allCards ? 0x0FFF : card, 0, data[0]);
    std::memcpy(buf + 9, data, n);
    closePacket(buf, n + 10u);
    g_send_para.length = u16(n + 10);
    return u16(n + 10);
}

namespace {
u16 plainCommand(unsigned char* buf, u16 target, u8 portByte, u8 command, const unsigned char* data, u16 n)
{
    if (u32(n) + 11 > fpga_manage::kPacketMax || (n && !data)) {
        g_send_para.length = 0;
        return 0;
    }
    putHead(buf, target, portByte, command);
    if (n)
        std::memcpy(buf + 10, data, n);
    closePacket(buf, n + 11u);
    g_send_para.length = u16(n + 11);
    return u16(n + 11);
}
} // namespace

u16 fpga_manage::rcv_active_firmware_cmd_create(int port, u16 card, const unsigned char* data, u16 n,
                                                unsigned char* buf)
{
    return plainCommand(buf, card, u8(port + 1), 0xB4, data, n);
}

u16 fpga_manage::rcv_reconfig_cmd_create(int port, u16 card, const unsigned char* data, u16 n, unsigned char* buf)
{
    return plainCommand(buf, card, u8(port + 1), 0x84, data, n);
}

u16 fpga_manage::load_search_rxc_cmd_create(int port, const unsigned char* data, u16 n, unsigned char* buf)
{
    return plainCommand(buf, u16(portBits(port) + 0x0FFE), u8(port + 1), 0x10, data, n);
}

u8 fpga_manage::save_para_cmd_create(unsigned char* buf, int port)
{
    putHead(buf, 0x0FFF, u8(port + 1), 0x81);
    buf[10] = 0xFF;
    buf[11] = 0x00;
    g_send_para.length = 13;
    return closePacket(buf, 13);
}

u16 fpga_manage::save_para2flash_cmd_create(int, u16 card, unsigned char* buf, bool allCards)
{
    putHead(buf, allCards ? 0x0FFF : card, 0, 0x81);
    buf[10] = 0xFF;
    buf[11] = 0x00;
    closePacket(buf, 13);
    g_send_para.length = 13;
    return 13;
}

u8 fpga_manage::ram_reset_cmd_create(unsigned char* buf, u8 a, u16 b, int port)
{
    putHead(buf, u16(portBits(port) + 0x0FFE), u8(port + 1), 0xA0);
    buf[10] = a;
    buf[11] = u8(b & 0xFF);
    buf[12] = 0x01;
    buf[13] = u8(b >> 8);
    g_send_para.length = 15;
    return closePacket(buf, 15);
}

u8 fpga_manage::mapping_enable_cmd_create(int port, unsigned char* buf)
{
    putHead(buf, 0x0FFF, u8(port + 1), 0xA0);
    buf[10] = 0x03;
    buf[11] = 0x0F;
    buf[12] = 0x01;
    buf[13] = u8(g_send_para.mapping.load() & 0xFF);
    g_send_para.length = 15;
    return closePacket(buf, 15);
}

void fpga_manage::get_rcvcard_x_y(u16 index, u16* x, u16* y)
{
    if (!x || !y)
        return;
    const int W = line_type.width, H = line_type.height;
    const int R = line_type.rows, K = line_type.cols, route = line_type.route;
    if (route < 1 || route > 16 || R == 0 || K == 0)
        return;
    // Routes 5..8 and 13..16 number the cards down the columns, the others along the rows.
    const bool byColumns = (route >= 5 && route <= 8) || route >= 13;
    int r, c;
    if (byColumns) {
        c = index / R;
        r = index % R;
    } else {
        r = index / K;
        c = index % K;
    }
    const bool evenRow = (r % 2) == 0, evenCol = (c % 2) == 0;
    const int left = c * W, right = (K - 1 - c) * W;     // x counted from the left or right
    const int top = r * H, bottom = (R - 1 - r) * H;     // y counted from the top or bottom
    int px = 0, py = 0;
    switch (route) {
    case 1: px = evenRow ? right : left; py = bottom; break;
    case 2: px = evenRow ? left : right; py = bottom; break;
    case 3: px = evenRow ? right : left; py = top; break;
    case 4: px = evenRow ? left : right; py = top; break;
    case 5: px = right; py = evenCol ? bottom : top; break;
    case 6: px = right; py = evenCol ? top : bottom; break;
    case 7: px = left; py = evenCol ? top : bottom; break;
    case 8: px = left; py = evenCol ? bottom : top; break;
    case 9: px = right; py = bottom; break;
    case 10: px = left; py = top; break;
    case 11: px = left; py = bottom; break;
    // Route 12: rows from the top-right corner, the one row order no other route gives.
    case 12: px = right; py = top; break;
    case 13: px = right; py = bottom; break;
    case 14: px = left; py = top; break;
    case 15: px = left; py = bottom; break;
    case 16: px = right; py = top; break;
    }
    *x = u16(px);
    *y = u16(py);
}

// ------------------------------------------------------------------------------------
// Jobs 3 and 4

void fpga_manage::save_para_deal() { save_or_mapping_step(true); }
void fpga_manage::mapping_enable_deal() { save_or_mapping_step(false); }

void fpga_manage::job_pc_pause()
{
    if (Utils::getTimeSpace(pc_cmd_time) > 80) {
        pc_cmd_valid = 0;
        pc_cmd_word = 0;
    }
    const u32 now = G_timeTicks.load();
    g_send_para.stamp = now;
    g_change[CHG_JOB_STAMP] = now;
}

void fpga_manage::save_or_mapping_step(bool save)
{
    if (card_job_cancelled(kProgressSmartMapping))
        return;
    if (pc_cmd_valid) {
        job_pc_pause();
        return;
    }
    SEND_PARA& job = g_send_para;
    switch (job.step.load()) {
    case 0:
        job.port = 0;
        job.step = 1;
        job_incomplete = 0;
        job_ports = 0;
        job_confirmed = 0;
        break;
    case 1: {
        if (job.port > 9) {
            job.step = 4;
            break;
        }
        const u16 cards = get_port_card_num(job.port);
        if (cards) {
            job.cards = cards;
            job.step = 2;
        } else {
            job.port = u8(job.port + 1);
        }
        break;
    }
    case 2: {
        unsigned char packet[16];
        const int port = job.port;
        unsigned len;
        if (save) {
            save_para_cmd_create(packet, port);
            len = 13;
        } else {
            mapping_enable_cmd_create(port, packet);
            len = 15;
        }
        expect_job_answer(packet, port, 0);
        Send_to_port(packet, len, port, 0);
        ++job_ports;
        emit_progress(kProgressSmartMapping, port * 100 / 11);
        job.port = u8(port + 1);
        g_change[CHG_JOB_PROGRESS] = 0;
        job.step = 3;
        job.stamp = G_timeTicks.load();
        g_change[CHG_JOB_STAMP] = G_timeTicks.load();
        break;
    }
    case 3: {
        if (job.reply == 1) {
            job.reply = 0;
            job.step = 1;
            ++job_confirmed;
            break;
        }
        const u32 limit = save ? 100u * job.cards + 1200u : 1200u;
        if (Utils::getTimeSpace(job.stamp) > limit) {
            // The port's cards did not confirm: said, so a silent port is not taken for done.
            KEL_TRACE("\n port %d: no answer from the cards, %s not confirmed \n", job.port - 1,
                      save ? "parameter saving" : "mapping switch");
            job_incomplete = 1;
            job.step = 1;
            break;
        }
        if (Utils::getTimeSpace(g_change[CHG_JOB_STAMP]) >= 101) {
            g_change[CHG_JOB_STAMP] = G_timeTicks.load();
            u32 counter = g_change[CHG_JOB_PROGRESS];
            counter = counter >= 99 ? 1 : counter + 1;
            g_change[CHG_JOB_PROGRESS] = counter;
            emit_progress(kProgressSmartMapping, int(counter));
        }
        break;
    }
    case 4:
        emit_progress(kProgressSmartMapping, 95);
        job.step = 9;
        job.stamp = G_timeTicks.load();
        break;
    case 9:
        if (Utils::getTimeSpace(job.stamp) > 200) {
            // The controller's mapping bit follows the cards: set as asked once a card has
            // switched, and left as it was when none did. Written before the ring closes, so
            // the screen that reads it then shows what the cards hold.
            if (!save && job_confirmed && write_to_register(0, 0x80, job.mapping ? 0x80 : 0x00, 0) != 0)
                job_incomplete = 1;
            emit_progress(kProgressSmartMapping, 100);
            job.end();
            // No port with cards is a job no card confirmed: not done either.
            if (job_incomplete || job_ports == 0)
                emit_job_failed(kProgressSmartMapping, job_ports == 0 ? kJobNoCard : kJobCardSilent);
        }
        break;
    default:
        // Not a step of these jobs (255 is left by softinit): finish as after the last port.
        job.step = 4;
        break;
    }
}
