// IT6602 receivers: register access, identification, reset and initialisation table,
// hot-plug and +5 V handling, and the per-pass interrupt service.
#include "sources/it6602/velin_it6602.h"

#include "board/Clock.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "sources/drv_i2c.h"

#include <cstring>

namespace {
constexpr uint8_t kIdentity[4] = {0x54, 0x49, 0x02, 0x68};
constexpr int kRegChips = 37;
constexpr uint8_t kStartUpMarker = 0x36;   // register 0x86 as the start-up table leaves it

Drv_I2C0& bus()
{
    static Drv_I2C0 fallback;
    return Drv_I2C0::p_drv_i2c0 ? *Drv_I2C0::p_drv_i2c0 : fallback;
}

void chip_bit(int dev, bool found)
{
    KelRamPara* para = KelRamPara::p_kelrampara_config;
    if (!para || dev < 0 || dev > 2)
        return;
    uint8_t bit = uint8_t(0x04 << dev);
    if (found)
        __atomic_fetch_or(&para->reg_image[kRegChips], bit, __ATOMIC_SEQ_CST);
    else
        __atomic_fetch_and(&para->reg_image[kRegChips], uint8_t(~bit), __ATOMIC_SEQ_CST);
}
} // namespace

// The chip's start-up settings: software resets of every block, interrupt set-up, output
// tristated with audio off, hot-plug low until +5 V is seen, and the receiver's analog
// settings. Bank switches are rows on register 0x0F.
namespace {
constexpr IT6602_REG_INI kInitTable[] = {
    {0x0F, 0x03, 0x00},
    {0x10, 0xFF, 0x08}, {0x10, 0xFF, 0x17}, {0x11, 0xFF, 0x1F}, {0x18, 0xFF, 0x1F}, {0x12, 0xFF, 0xF8},
    {0x10, 0xFF, 0x10}, {0x11, 0xFF, 0xA0}, {0x18, 0xFF, 0xA0}, {0x12, 0xFF, 0x00},
    {0x0F, 0x03, 0x01},
    {0xB0, 0x03, 0x00},   // HPD low on port 0 until +5 V is seen
    {0xC0, 0x8C, 0x88},
    {0xB1, 0x60, 0x00}, {0xC1, 0x60, 0x00},   // no RS overwrite
    {0xB5, 0x10, 0x10}, {0xC5, 0x10, 0x10},
    {0xB9, 0x80, 0x00}, {0xC9, 0x80, 0x00},   // polarity as received
    {0x8D, 0xFF, 0x00}, {0x8E, 0xFF, 0x00},
    {0x0F, 0x03, 0x00},
    {0x16, 0xFF, 0x08}, {0x17, 0xFF, 0x08}, {0x1E, 0xFF, 0x00}, {0x1F, 0xFF, 0x00},
    {0x20, 0xFF, 0x00}, {0x22, 0xFF, 0x00}, {0x26, 0x20, 0x00},   // port 0: deskew, RS/EQ, auto EQ
    {0x38, 0xFF, 0x00}, {0x3A, 0xFF, 0x00}, {0x3E, 0x20, 0x00},   // port 1 the same
    {0x35, 0x1E, 0x10}, {0x4B, 0x1E, 0x10},
    {0x50, 0x1F, 0x00}, {0x51, 0x01, 0x00},
    {0x52, 0x1F, 0x1F},   // audio output off
    {0x53, 0xCF, 0x4F},   // video output tristated
    {0x54, 0xFF, 0x11},
    {0x56, 0xFF, 0x01}, {0x58, 0xFF, 0x33}, {0x59, 0xFF, 0xAA}, {0x5A, 0xFF, 0x00}, {0x5B, 0xFF, 0x00},
    {0x5C, 0xFF, 0x00}, {0x5D, 0xFF, 0x00},
    {0x64, 0x80, 0x00}, {0x65, 0x3F, 0x00}, {0x66, 0x10, 0x00}, {0x67, 0x7F, 0x00}, {0x68, 0xFF, 0x00},
    {0x6A, 0xFF, 0x81},   // video-stable interrupt set-up
    {0x6B, 0x11, 0x11}, {0x6C, 0xFF, 0x00}, {0x6D, 0xFF, 0x00},
    {0x71, 0x08, 0x00}, {0x73, 0xFF, 0x00}, {0x74, 0x0C, 0x00}, {0x75, 0xFF, 0x40},
    {0x7A, 0xFF, 0x00}, {0x7D, 0x30, 0x00}, {0x7E, 0xFF, 0x40},
    {0x81, 0xFF, 0x00}, {0x84, 0xFF, 0x00}, {0x85, 0x20, 0x00}, {0x86, 0xFF, kStartUpMarker}, {0x87, 0xFF, 0x00},
    {0x8C, 0xFF, 0x00}, {0x9B, 0xFF, 0x03},
    {0xA9, 0xFF, 0x00}, {0xAC, 0xFF, 0x00}, {0xAD, 0xFF, 0x00},
    {0xC4, 0xFF, 0x00}, {0xC5, 0xFF, 0x00}, {0xC6, 0xFF, 0x00}, {0xC7, 0xFF, 0x00},
    {0xD1, 0xFF, 0x00}, {0xD2, 0xFF, 0x00}, {0xD3, 0xFF, 0x00}, {0xD4, 0xFF, 0x00},
    {0x77, 0x0C, 0x08},
    {0xFF, 0xFF, 0xFF},
};
static_assert(sizeof kInitTable / sizeof kInitTable[0] == velin_it6602::kInitTableRows + 1, "81 rows and a terminator");
static_assert(kInitTable[velin_it6602::kInitTableRows].ucAddr == 0xFF, "the table ends with its terminator");
} // namespace

const IT6602_REG_INI* const velin_it6602::IT6602_HDMI_INIT_TABLE = kInitTable;

const char* const velin_it6602::VStateStr[14] = {
    "VSTATE_Off", "VSTATE_TerminationOff", "VSTATE_TerminationOn", "VSTATE_5VOff", "VSTATE_SyncWait",
    "VSTATE_SWReset", "VSTATE_SyncChecking", "VSTATE_HDCPSet", "VSTATE_HDCP_Reset", "VSTATE_ModeDetecting",
    "VSTATE_VideoOn", "VSTATE_ColorDetectReset", "VSTATE_HDMI_OFF", "VSTATE_Reserved"};

const char* const velin_it6602::AStateStr[6] = {"ASTATE_AudioOff", "ASTATE_RequestAudio", "ASTATE_ResetAudio",
                                                "ASTATE_WaitForReady", "ASTATE_AudioOn", "ASTATE_Reserved"};

// ---------------------------------------------------------------------------------------
// Register access

int velin_it6602::select(int dev)
{
    cur_dev = (dev >= 0 && dev < 3) ? dev : 0;
    bank_now[cur_dev] = -1;
    return cur_dev;
}

namespace {
constexpr unsigned char kBankRegister = 0x0F;
// Registers 0x00-0x0F are the same in every bank.
bool banked(unsigned char reg) { return reg > kBankRegister; }
} // namespace

RegRead velin_it6602::hdmirxrd_it6602(int fd, unsigned char reg)
{
    unsigned char value = 0;
    if ((banked(reg) && !bank_known[cur_dev]) || bus().i2c_read(fd, address(), reg, &value, 1) != 1) {
        ++io_errors;
        return RegRead();
    }
    return RegRead::answered(value);
}

int velin_it6602::hdmirxwr_it6602(int fd, unsigned char reg, unsigned char value)
{
    if ((!banked(reg) || bank_known[cur_dev]) && bus().i2c_write(fd, address(), reg, &value, 1)) {
        if (reg == kBankRegister)
            bank_known[cur_dev] = true, bank_now[cur_dev] = int8_t(value & 0x03);
        return 0;
    }
    if (reg == kBankRegister)
        bank_known[cur_dev] = false, bank_now[cur_dev] = -1;
    ++io_errors;
    return 1;
}

int velin_it6602::hdmirxset_it6602(int fd, unsigned char reg, unsigned char mask, unsigned char value)
{
    const RegRead old = hdmirxrd_it6602(fd, reg);
    // A register whose value is unknown is not written: the other bits would be lost.
    if (!old.ok()) {
        if (reg == kBankRegister)
            bank_known[cur_dev] = false, bank_now[cur_dev] = -1;   // a select not made: what follows must not be written
        return 1;
    }
    return hdmirxwr_it6602(fd, reg, uint8_t((old.value() & ~mask) | (value & mask)));
}

int velin_it6602::hdmirxbwr_it6602(int fd, unsigned char reg, int n, const unsigned char* data)
{
    if (n <= 0 || !data)
        return 0;
    if ((!banked(reg) || bank_known[cur_dev]) && bus().i2c_write(fd, address(), reg, data, unsigned(n)))
        return 0;
    ++io_errors;
    return 1;
}

int velin_it6602::chgbank_it6602(int fd, int bank)
{
    if (bank_known[cur_dev] && bank_now[cur_dev] == (bank & 3))
        return 0;
    return hdmirxset_it6602(fd, kBankRegister, 0x03, uint8_t(bank & 3));
}

int velin_it6602::bank1_write(int fd, unsigned char reg, int n, const unsigned char* data)
{
    int failed = chgbank_it6602(fd, 1);
    if (!failed)
        failed = hdmirxbwr_it6602(fd, reg, n, data);
    return chgbank_it6602(fd, 0) | failed;
}

void velin_it6602::hdimrx_write_init_it6602(int fd, const IT6602_REG_INI* table)
{
    for (int i = 0; table[i].ucAddr != 0xFF; ++i)
        set_counted(fd, table[i].ucAddr, table[i].andmask, table[i].ucValue);
}

void velin_it6602::delay1ms(unsigned ms)
{
    board::Clock::sleepMs(ms);
}

void velin_it6602::delay1ms_real(unsigned ticks)
{
    // Waits the ticks' worth of board time: a stopped tick counter cannot hang the thread.
    board::Clock::sleepMs(uint64_t(ticks) * 10u);
}

// ---------------------------------------------------------------------------------------
// Identification and reset

int velin_it6602::IT6602_Identify_Chip(int fd, int dev)
{
    select(dev);
    // An absent chip is tried on every pass; its absence is told once, until it is found.
    const bool tell = dev < 0 || dev > 2 || !missing_told[dev];
    for (uint8_t addr : {uint8_t(0x90), uint8_t(0x94)}) {
        i2c_addr[cur_dev] = addr;
        unsigned char id[4] = {0, 0, 0, 0};
        bool ok = bus().i2c_read(fd, addr, 0x00, id, 4) == 1;
        if (ok && id[0] == kIdentity[0] && id[1] == kIdentity[1] && id[2] == kIdentity[2] && id[3] == kIdentity[3]) {
            KEL_TRACE("I2C Addr %X ok: Can  find IT6602 Chip !!!\n", addr);
            KEL_TRACE("OK , Find IT6602 Chip I2C Addr %X !!!\n", addr);
            chip_bit(dev, true);
            if (dev >= 0 && dev < 3)
                missing_told[dev] = false;
            return 1;
        }
        if (tell)
            KEL_TRACE("I2C Addr %X Error: Can not find IT6602 Chip !!!\n", addr);
        chip_bit(dev, false);
        if (dev >= 0 && dev < 3)
            ++identify_fail[dev];
    }
    if (dev >= 0 && dev < 3)
        missing_told[dev] = true;
    return 0;
}

void velin_it6602::hdmirx_Var_init(int dev, IT6602_dev_data* d)
{
    *d = IT6602_dev_data();
    IT6602_VideoOutputConfigure_Init(d, eRGB444_SDR);
    d->m_ucCurrentSCDT = 255;
    d->m_VState = VSTATE_Reserved;
    d->m_AState = ASTATE_Reserved;
    for (int p = 0; p < 2; ++p) {
        d->EQPort[p].ucEQState = 0xFF;
        d->EQPort[p].ucPortID = uint8_t(p);
        link[dev][p] = IT6602_link();
    }
    ipll_count[dev] = 0;
    hpd_retry[dev] = -1;   // made by the start-up that follows
    intr_owed[dev][0] = intr_owed[dev][1] = 0;
    int07_owed[dev] = 0;
    pwr_retry[dev] = false;
    tristate_owed[dev] = false;
    de3d_retry[dev] = false;
}

void velin_it6602::IT6602_Rst(int fd, int dev, IT6602_dev_data* d)
{
    select(dev);
    hdmirx_Var_init(cur_dev, d);
    hdimrx_write_init_it6602(fd, IT6602_HDMI_INIT_TABLE);
    Cal_oclk(fd, cur_dev);
    IT6602SwitchVideoState(fd, d, VSTATE_SWReset, cur_dev);
    IT6602SwitchAudioState(fd, d, ASTATE_AudioOff);
}

int velin_it6602::IT6602_fsm_init(int fd, int dev)
{
    select(dev);
    if (dev < 0 || dev > 2 || !missing_told[dev])
        KEL_TRACE("IT6602_fsm_init(%d )\n", dev);
    const int found = IT6602_Identify_Chip(fd, dev);
    // Reset whatever the result: the writes of an absent chip simply fail. A chip that
    // did not take its whole start-up table is started again.
    const uint32_t errors = io_errors;
    IT6602_Rst(fd, cur_dev, &dev_data[cur_dev]);
    return found && io_errors == errors;
}

int velin_it6602::IT6602_fsm_init_1(int fd, int dev)
{
    select(dev);
    const uint32_t errors = io_errors;
    set_counted(fd, 0xC0, 0x03, 0x03);
    IT6602PortSelect(fd, 0, cur_dev);
    return io_errors == errors;
}

// A pulse of the shared reset line brings the chip back at its power-on settings, output
// driven; it then raises interrupts only for signals present, so a source that left while
// the line was low is never reported. A chip held in reset does not answer at all. Either
// way the start-up table must be written again: register 0x86 is set by the table alone.
int velin_it6602::IT6602_setup_lost(int fd, int dev)
{
    select(dev);
    unsigned char bank = 0;
    if (bus().i2c_read(fd, address(), kBankRegister, &bank, 1) != 1) {
        ++io_errors;
        if (++silent_passes[cur_dev] < kSilentPasses)
            return -1;
        silent_passes[cur_dev] = 0;
        return 1;
    }
    silent_passes[cur_dev] = 0;
    if (bank & 0x03) {
        if (chgbank_it6602(fd, 0))
            return -1;
    } else {
        bank_known[cur_dev] = true, bank_now[cur_dev] = 0;
    }
    unsigned char marker = 0;
    if (bus().i2c_read(fd, address(), 0x86, &marker, 1) != 1) {
        ++io_errors;
        return -1;
    }
    return marker != kStartUpMarker ? 1 : 0;
}

void velin_it6602::IT6602PortSelect(int fd, int port, int dev)
{
    select(dev);
    IT6602_dev_data* d = &dev_data[cur_dev];
    set_counted(fd, 0x51, 0x01, 0x00);
    d->m_ucCurrentSCDT = 0;
    if (port != 0) {
        IT6602SwitchVideoState(fd, d, VSTATE_SyncWait, cur_dev);
        d->m_ucPort = uint8_t(port & 1);
        KEL_TRACE("IT6602PortSelect = %X\n", port);
    }
}

void velin_it6602::IT6602_fsm(int fd, int dev)
{
    select(dev);
    if (hpd_retry[cur_dev] >= 0)
        IT6602HPDCtrl(fd, 0, hpd_retry[cur_dev]);
    if (pwr_retry[cur_dev])
        hdmirx_INT_5V_Pwr_Chg(fd, &dev_data[cur_dev], 0, cur_dev);
    if (tristate_owed[cur_dev] && dev_data[cur_dev].m_VState != VSTATE_VideoOn)
        IT6602VideoOutputEnable(fd, 0, cur_dev);
    IT6602HDMIInterruptHandler(fd, cur_dev);
    IT6602VideoHandler(fd, cur_dev);
    IT6602AudioHandler(fd, cur_dev);
    for (int port = 0; port < 2; ++port)
        if (dev_data[cur_dev].EQPort[port].f_manualEQadjust)
            HDMIAdjustEQ(fd, port, cur_dev);
    IT6602HDMIEventManager(fd, cur_dev);
}

// ---------------------------------------------------------------------------------------
// Ports, hot-plug and +5 V

RegFlag velin_it6602::CheckPlg5VPwr(int fd, int port)
{
    return hdmirxrd_it6602(fd, port ? 0x0B : 0x0A).any(0x01);
}

RegFlag velin_it6602::CLKCheck(int fd, int port)
{
    return hdmirxrd_it6602(fd, port ? 0x0B : 0x0A).any(0x08);
}

RegFlag velin_it6602::IT6602_IsSelectedPort(int fd, int port)
{
    const RegRead r51 = hdmirxrd_it6602(fd, 0x51);
    return r51.ok() ? RegFlag::answered((r51.value() & 0x01) == uint8_t(port & 1)) : RegFlag();
}

RegFlag velin_it6602::IsHDMIMode(int fd)
{
    const RegRead r51 = hdmirxrd_it6602(fd, 0x51);
    if (!r51.ok())
        return RegFlag();
    return hdmirxrd_it6602(fd, (r51.value() & 0x01) ? 0x0B : 0x0A).any(0x02);
}

int velin_it6602::IT6602HPDCtrl(int fd, int port, int value, int dev)
{
    if (dev >= 0)
        select(dev);
    if (port != 0)
        return 0;
    const uint32_t errors = io_errors;
    const RegFlag power = CheckPlg5VPwr(fd, 0);
    // Low needs no +5 V reading (without one the line goes low as without +5 V); high does.
    const uint8_t bits = power.value_or(false) ? (value ? 0x03 : 0x01) : 0x00;
    if ((!value || power.ok()) && chgbank_it6602(fd, 1) == 0)
        set_counted(fd, 0xB0, 0x03, bits);
    bank_counted(fd, 0);
    // A source reads the EDID and sends only by this line: a level not taken is set again.
    const bool failed = io_errors != errors;
    hpd_retry[cur_dev] = failed ? int8_t(value ? 1 : 0) : int8_t(-1);
    return failed ? 1 : 0;
}

void velin_it6602::hdmirx_INT_5V_Pwr_Chg(int fd, IT6602_dev_data* d, int port, int dev)
{
    // The interrupt is acknowledged already: a reading not answered is not "no +5 V" but
    // unknown, and the whole step is made again on the next pass until it was answered.
    const uint32_t errors = io_errors;
    bank_counted(fd, 1);
    set_counted(fd, 0xB1, 0x60, 0x00);
    set_counted(fd, 0xC1, 0x60, 0x00);
    bank_counted(fd, 0);
    const RegFlag powered = CheckPlg5VPwr(fd, port);
    const RegFlag chosen = IT6602_IsSelectedPort(fd, port);
    pwr_retry[dev] = port == 0 && io_errors != errors;
    if (io_errors != errors || !powered.ok() || !chosen.ok())
        return;
    const bool power = powered.value();
    ipll_count[dev] = 0;
    if (chosen.value()) {
        if (power) {
            IT6602SwitchVideoState(fd, d, VSTATE_SyncWait, dev);
            IT6602HPDCtrl(fd, port, 1);
        } else {
            IT6602HPDCtrl(fd, port, 0);
            IT6602SwitchVideoState(fd, d, VSTATE_SWReset, dev);
        }
    } else if (power) {
        IT6602HPDCtrl(fd, port, 1);
    } else {
        DisableOverWriteRS(fd, port, dev);
        IT6602HPDCtrl(fd, port, 0);
    }
}

bool velin_it6602::hdmirx_INT_HDMIMode_Chg(int fd, IT6602_dev_data* d, int port, int dev)
{
    // A mode not read is not taken for DVI or HDMI: the change is served again next pass.
    const RegFlag selected = IT6602_IsSelectedPort(fd, port);
    if (!selected.ok())
        return false;
    if (!selected.value())
        return true;
    const RegFlag hdmi = IsHDMIMode(fd);
    if (!hdmi.ok())
        return false;
    if (!hdmi.value()) {
        // A DVI source sends no vendor infoframe: a 3D one that turned DVI is 2D now.
        if (d->de3dframe)
            IT6602_DE3DOff(fd);
        d->de3dframe = 0;
        IT6602SwitchAudioState(fd, d, ASTATE_AudioOff);
        d->m_ucStatus |= kStatusAVIChanged;
        if (d->m_VState == VSTATE_VideoOn)
            IT6602VideoOutputConfigure(fd, dev);
        d->m_ucStatus &= uint8_t(~kStatusHDMI);
        // The InfoFrame a DVI source does not send is not the one in force: the same
        // bytes after a return to HDMI are news.
        std::memset(d->m_ucLastAVI, 0, sizeof d->m_ucLastAVI);
    } else {
        if (d->m_VState == VSTATE_VideoOn)
            IT6602SwitchAudioState(fd, d, ASTATE_RequestAudio);
        d->m_ucStatus |= kStatusHDMI;
        // Back from DVI the output was set up for RGB as sent: set it up from the
        // InfoFrame again (colour conversion, range expansion), even an unchanged one.
        d->m_ucStatus |= kStatusAVIChanged;
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Interrupt service

void velin_it6602::IT6602HDMIInterruptHandler(int fd, int dev)
{
    IT6602_dev_data* d = &dev_data[dev];
    if (d->m_VState == VSTATE_Off)
        return;
    bank_counted(fd, 0);
    // An interrupt register not read is not acknowledged: its bits stay set in the chip
    // and are served on the next pass. One read is acknowledged at once (the chip latches
    // what comes meanwhile); what it announced and could not be served for want of a read
    // is kept in intr_owed and served again on the next pass.
    static const uint8_t kIntRegs[7] = {0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0xD0};
    RegRead reg[7];
    for (int i = 0; i < 7; ++i)
        reg[i] = hdmirxrd_it6602(fd, kIntRegs[i]);
    for (int i = 0; i < 7; ++i)   // 0x0A is the status, not an interrupt
        if (reg[i].ok() && i != 5)
            write_counted(fd, kIntRegs[i], i == 6 ? uint8_t(reg[i].value() & 0x0F) : reg[i].value());
    // Unread: nothing announced this pass (the chip keeps it).
    const uint8_t int05 = reg[0].value_or(0), int06 = reg[1].value_or(0), int07 = reg[2].value_or(0) | int07_owed[dev],
                  int08 = reg[3].value_or(0), int09 = reg[4].value_or(0), intD0 = reg[6].value_or(0);
    const RegRead status = reg[5];

    for (int port = 0; port < 2; ++port) {
        uint8_t& owed = intr_owed[dev][port];
        const uint8_t intr = uint8_t((port ? int06 : int05) | owed);
        owed = 0;
        if (!intr)
            continue;
        if (intr & 0x80)
            d->m_ucEccCount[port] = 0;
        if (intr & 0x40) {
            if (port)
                hdmirx_INT_P1_ECC(fd, d, dev);
            else
                hdmirx_INT_P0_ECC(fd, d, dev);
        }
        if (intr & 0x20) {
            const RegFlag clock = CLKCheck(fd, port);
            if (!clock.ok() || (clock.value() && !hdmirx_INT_HDMIMode_Chg(fd, d, port, dev)))
                owed |= 0x20;
        }
        if (intr & 0x18)
            hdmirx_INT_RxReset(fd, d, port, intr, dev);
        if (intr & 0x04) {
            const RegFlag locked = hdmirxrd_it6602(fd, 0x0C).any(port ? 0x80 : 0x40);
            if (!locked.ok()) {
                owed |= 0x04;
            } else if (!locked.value()) {
                bank_counted(fd, 1);
                set_counted(fd, port ? 0xC1 : 0xB1, 0x60, 0x00);
                bank_counted(fd, 0);
                ipll_count[dev] = 0;
            }
        }
        if (intr & 0x02) {
            d->m_ucEccCount[port] = 0;
            d->m_ucDeskewCount[port] = 0;
            const RegFlag clock = CLKCheck(fd, port);
            if (!clock.ok())
                owed |= 0x02;
            else if (clock.value())
                TMDSCheck(fd, port, dev);
        }
        if (intr & 0x01)
            hdmirx_INT_5V_Pwr_Chg(fd, d, port, dev);
    }

    if (int07 & 0x80)
        aud_fiforst(fd);
    if (int07 & 0x20)
        IT6602_SetVideoMute(fd, d, 0);
    if (int07 & 0x10)
        IT6602_SetVideoMute(fd, d, 1);
    int07_owed[dev] = 0;
    if ((int07 & 0x02) && !hdmirx_INT_SCDT_Chg(fd, d, dev))
        int07_owed[dev] = 0x02;
    if ((int07 & 0x01) && status.ok() && !(status.value() & 0x40) && address() == 0x94) {
        bank_counted(fd, 1);
        set_counted(fd, 0xB6, 0x07, 0x03);
        set_counted(fd, 0xB1, 0x20, 0x00);
        set_counted(fd, 0xB2, 0x07, 0x04);
        bank_counted(fd, 0);
    }

    // Every new vendor infoframe counts, so a source that leaves 3D turns the generator off.
    // One not read whole, or a generator not set, is decided again on the next pass.
    if ((int08 & 0x04) || de3d_retry[dev]) {
        const uint32_t errors = io_errors;
        d->de3dframe = uint8_t(IT6602_DE3DFrame(fd, 1, dev));
        de3d_retry[dev] = io_errors != errors;
    }

    if (int09 & 0x40) {
        write_counted(fd, 0x09, address() == 0x94 ? 0x20 : 0x40);
        hdmirx_INT_P1_Deskew(fd, d, dev);
    }
    if (int09 & 0x20) {
        write_counted(fd, 0x09, 0x20);
        hdmirx_INT_P0_Deskew(fd, d, dev);
    }
    if (int09 & 0x01) {
        // Only the fields that decide the colour path count (colour format; colorimetry;
        // extended colorimetry and range; VIC; YCC range): a checksum can stay the same
        // while they move. A frame not read whole counts as a change.
        static const uint8_t kMask[5] = {0x60, 0xC0, 0x7C, 0x7F, 0xC0};
        const uint32_t errors = io_errors;
        uint8_t avi[5];
        bank_counted(fd, 2);
        for (int i = 0; i < 5; ++i)   // one not read counts as a change below
            avi[i] = uint8_t(hdmirxrd_it6602(fd, uint8_t(0x15 + i)).value_or(0) & kMask[i]);
        bank_counted(fd, 0);
        if (io_errors != errors || std::memcmp(avi, d->m_ucLastAVI, sizeof avi) != 0) {
            std::memcpy(d->m_ucLastAVI, avi, sizeof avi);
            d->m_ucStatus |= kStatusAVIChanged;
        }
    }

    if (intD0) {
        if (intD0 & 0x10) {
            write_counted(fd, 0xD0, 0x30);
            AmpValidCheck(fd, 0, dev);
            HDMIStartEQDetect(fd, 0, dev);
            if (intD0 & 0x20) {
                write_counted(fd, 0xD0, 0x20);
                hdmirx_INT_EQ_FAIL(fd, d, 0, dev);
            }
            return;
        }
        if (intD0 & 0x40) {
            write_counted(fd, 0xD0, 0xC0);
            AmpValidCheck(fd, 1, dev);
        } else if (intD0 & 0x20) {
            write_counted(fd, 0xD0, 0x20);
            hdmirx_INT_EQ_FAIL(fd, d, 0, dev);
        }
        if (intD0 & 0x80) {
            write_counted(fd, 0xD0, 0x80);
            hdmirx_INT_EQ_FAIL(fd, d, 1, dev);
        }
    }
}
