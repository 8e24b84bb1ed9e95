// What identifies the device and its housekeeping: barcode and LCD languages (group 0xA2),
// saving the FPGA's parameters (0x81), version and unique id (0x82, 0x83), the FPGA update
// start (0x84), the clock (0x87) and the cloud-binding settings (group 0xC3).
#include "protocol/message_deal.h"

#include "board/Clock.h"
#include "board/Files.h"
#include "core/config_engine.h"
#include "core/global.h"
#include "core/utils.h"
#include "fpga/fpga_drv.h"
#include "protocol/message_deal_shared.h"
#include "protocol/pc_fields.h"
#include "protocol/protocol_phy.h"

#include <QDate>
#include <cstring>

using mdshared::fpga_reg;
using mdshared::para;
using pcf::put16;
using pcf::put32;
using pcf::rd16;

namespace {

constexpr unsigned char kVersionStamp[6] = {11, 0, 0x28, 0x09, 0x26, 2};

// false when the settings file could not be stored (nothing changed then).
bool write_settings(const QList<QPair<ConfigItem::ConfigName, QVariant>>& values)
{
    ConfigEngine* c = ConfigEngine::p_config;
    return !c || c->write_config_variants(values);
}

QVariant read_setting(ConfigItem::ConfigName item)
{
    ConfigEngine* c = ConfigEngine::p_config;
    return c ? c->read_config_variant(item) : QVariant();
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A BCD byte of two decimal digits, or -1.
int from_bcd(unsigned char b)
{
    if ((b & 15) > 9 || (b >> 4) > 9)
        return -1;
    return (b & 15) + 10 * (b >> 4);
}

} // namespace

// ---------------------------------------------------------------------------------------
// Group 0xA2

int message_deal::barcode_group(unsigned char* frame)
{
    if (frame_len < 11)
        return 0;
    switch (frame[10]) {
    case 0x1E: {
        // [11..12] n, then n - 2 bytes of barcode text.
        const unsigned n = frame_len >= 13 ? rd16(frame + 11) : 0;
        frame[11] = 30;
        if (n < 3 || 13 + (n - 2) > frame_len) {
            frame[10] = 5;
            return 2;
        }
        const char* text = reinterpret_cast<const char*>(frame + 13);
        const QString barcode = QString::fromUtf8(text, int(strnlen(text, n - 2)));
        KEL_TRACE("\n DataLen = %d \n", int(n - 2));
        const bool written = write_settings({{ConfigItem::Barcode, barcode}});
        frame[11] = 30;
        if (!written) {
            frame[10] = 2;   // not stored: the device keeps the barcode the next start has
            return 2;
        }
        board::Files::sync();
        board::Clock::sleepMs(100);
        const QString stored = read_setting(ConfigItem::Barcode).toString();
        {
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            g_str_barcode = stored;
        }
        // The barcode's hexadecimal text is the cloud device id.
        const QByteArray hex = stored.toLatin1();
        unsigned char id[12] = {};
        for (int i = 0; i < 12 && 2 * i + 1 < hex.size(); ++i) {
            int hi = hex_digit(hex[2 * i]), lo = hex_digit(hex[2 * i + 1]);
            if (hi < 0 || lo < 0)
                break;
            id[i] = uint8_t(hi << 4 | lo);
        }
        {
            std::lock_guard<std::mutex> hold(g_4G_RAM_mutex);
            std::memcpy(g_4G_property + 25, id, sizeof id);
        }
        frame[10] = stored == barcode ? 0 : 2;
        frame[11] = 30;
        return 2;
    }
    case 0x1F: {
        QByteArray text;
        {
            std::lock_guard<std::mutex> hold(g_str_globals_mutex);
            text = g_str_barcode.toUtf8();
        }
        // The reply's length word counts the text and itself; a text it cannot count is cut.
        const unsigned m = std::min<unsigned>(unsigned(text.size()), 0xFFFF - 2);
        frame[10] = 0;
        frame[11] = 31;
        put16(frame + 12, uint16_t(m + 2));
        std::memcpy(frame + 14, text.constData(), m);
        // A reply the link cannot carry is refused rather than lost, as every long read is.
        if (!protocol_phy::reply_fits(frame, m + 4, reply_limit)) {
            frame[10] = 1;
            return 2;
        }
        return int(m) + 4;
    }
    case 0x20: {
        const bool header = frame_len >= 18 && rd16(frame + 11) == 36 && frame[13] == 0xAA && frame[14] == 0x55;
        frame[11] = 32;
        if (!header) {
            frame[10] = 5;
            return 2;
        }
        const unsigned mask = rd16(frame + 16);
        const int valid = frame[15] == 2 ? int((mask & 0x1E) | 0x20000) : int((mask & 0x1F) | 0x10000);
        frame[10] = 0;
        if (valid == g_lcd_lang_valid)
            return 2;
        if (!write_settings({{ConfigItem::KelLCDLang, valid}})) {
            frame[10] = 1;   // not stored: the languages stay as the next start has them
            return 2;
        }
        g_lcd_lang_valid = valid;
        KelRamPara* p = para();
        const int lang = g_language;
        if (!(valid & (1 << lang))) {
            for (int l = 0; l < 5; ++l) {
                if (valid & (1 << l)) {
                    g_language = u8(l);
                    if (p) {
                        mdshared::ScalerLock lock;
                        p->ram[KelRamPara::kLanguage] = u8(l);
                    }
                    break;
                }
            }
        }
        if (p)
            p->test_signal(1);
        return 2;
    }
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------
// 0x81: the FPGA's parameter RAM image into its configuration flash

int message_deal::param_save(unsigned char* frame)
{
    const int k = frame[7] == 2 ? 1 : 0;
    fpga_manage* f = fpga_manage::p_fpga_manage;
    frame[10] = 1;
    if (!f)
        return 1;
    const unsigned char flash = (unsigned char)(2 + k);
    unsigned char* image = fpga_manage::MCU_RAM_PARA_func[k];
    // The flash driver writes each page's command into the four bytes before its data.
    // Other links write the image meanwhile: it is copied out, and the read-back copied in,
    // whole under its lock, never while the flash works.
    unsigned char buf[4 + fpga_manage::kRamSize];
    {
        std::lock_guard<std::mutex> hold(fpga_manage::ram_image_mutex);
        std::memcpy(buf + 4, image, fpga_manage::kRamSize);
    }
    unsigned char marker[5] = {0, 0, 0, 0, 0xAA};
    bool ok = fpga_drv::FPGA_SPI_FLASH_VBYONE_ERASE(flash, 776, 0, 1)
              && fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(flash, 0x308001, buf, fpga_manage::kRamSize)
              && fpga_drv::FPGA_SPI_FLASH_VBYONE_WRITE(flash, 0x308000, marker, 1);
    if (ok)
        ok = fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(flash, 0x308001, fpga_manage::kRamSize, buf + 4);
    if (ok) {
        std::lock_guard<std::mutex> hold(fpga_manage::ram_image_mutex);
        std::memcpy(image, buf + 4, fpga_manage::kRamSize);
    }
    if (ok) {
        f->M57_back_mcu_set_net_para(u8(k));
        // The LED area follows the screen only once it is saved: a refused save leaves the
        // layout as the PC and the panel have it.
        set_para_sync();
    }
    frame[10] = ok ? 0 : 1;
    return 1;
}

// ---------------------------------------------------------------------------------------
// 0x82, 0x83, 0x84

int message_deal::get_card_version(unsigned char* frame)
{
    std::memset(frame + 10, 0, 17);
    if (own_destination(frame)) {
        frame[11] = g_update_status;
        frame[12] = 8;
        frame[13] = 0x52;
        frame[14] = 0x9C;
        std::memcpy(frame + 15, kVersionStamp, sizeof kVersionStamp);
    } else {
        const int k = fpga_of(frame);
        frame[11] = fpga_reg(21, k);
        frame[13] = 0x48;
        frame[14] = 11;
        frame[15] = 11;
        frame[16] = fpga_reg(28, k);
        frame[17] = fpga_reg(29, k);
        frame[18] = fpga_reg(30, k);
        frame[19] = fpga_reg(31, k);
        fpga_manage* f = fpga_manage::p_fpga_manage;
        frame[22] = f ? f->get_fpga_status() : 0;
    }
    put32(frame + 23, G_timeTicks.load() / 20);
    return 17;
}

int message_deal::get_card_uid(unsigned char* frame)
{
    if (!fpga_manage::p_fpga_manage) {
        if (!own_destination(frame))
            return 0;
        frame[10] = 1;
        return 1;
    }
    // An id the flash did not give is no id: refused, as a save or start that fails is.
    if (!fpga_drv::FPGA_SPI_FLASH_SSTF016B_RD_UID(2, frame + 11)) {
        frame[10] = 1;
        return 1;
    }
    frame[10] = 0;
    return 9;
}

int message_deal::start_update(unsigned char* frame, unsigned int len)
{
    if (own_destination(frame)) {
        frame[10] = 0;
        return 1;
    }
    if (len == 11 && !(frame[10] & 0x02))
        return 1;   // not asked to start: [10] goes back as it came
    fpga_manage* f = fpga_manage::p_fpga_manage;
    if ((len != 10 && len != 11) || !f) {
        frame[10] = 1;
        return 1;
    }
    unsigned char boot[256];
    if (!fpga_drv::FPGA_SPI_FLASH_VBYONE_READ(2, 0x301001, sizeof boot, boot)) {
        frame[10] = 1;
        return 1;
    }
    // A boot block or start bit that did not reach the FPGA starts nothing.
    if (f->write_fpga_ram(boot, 0, sizeof boot, 10, 0) != 0 || f->write_to_register(23, 0x40, 0x40, 0) != 0) {
        frame[10] = 1;
        return 1;
    }
    // The re-initialisation the bring-up itself asks for after an init error.
    // Handed to the manager's thread, which owns the reset line and the bring-up steps.
    f->update_reset_request = 1;
    KEL_TRACE("\n update ok! sel_fpga : %d valid : %d,len = %#x\n", std::min<int>(frame[7], 2),
              (frame[7] == 1 || frame[7] == 2) ? 0 : 1, len);
    frame[10] = 0;
    return 1;
}

// ---------------------------------------------------------------------------------------
// 0x87: date and time in BCD

int message_deal::write_rtc_time(unsigned char* frame)
{
    int v[7];
    bool bcdOk = frame_len >= 17;
    for (int i = 0; i < 7 && bcdOk; ++i) {
        v[i] = from_bcd(frame[10 + i]);
        bcdOk = v[i] >= 0;   // not a BCD byte: nothing reaches the shell
    }
    frame[10] = 1;
    if (!bcdOk)
        return 1;
    const int year = v[1] * 100 + v[0], month = v[2], day = v[3], hour = v[4], minute = v[5], second = v[6];
    // A day the month does not have (02-30, 04-31, 02-29 outside a leap year) is refused.
    if (!QDate::isValid(year, month, day) || hour > 23 || minute > 59 || second > 59)
        return 1;
    const QString date = QString("%1-%2-%3").arg(year).arg(month).arg(day);
    const QString time = QString("%1:%2:%3").arg(hour).arg(minute).arg(second);
    // The clock is set by the date step; the hardware clock only keeps it over a power cut,
    // so its result is not what the PC is told.
    if (Utils::system_mutex(QString("date \"%1 %2\"").arg(date, time), nullptr) != 0)
        return 1;
    static_cast<void>(Utils::system_mutex("hwclock -wu", nullptr));
    if (fpga_manage* f = fpga_manage::p_fpga_manage)
        f->m_clock_record.dealwith_record_timing();
    frame[10] = 0;
    return 1;
}

// ---------------------------------------------------------------------------------------
// Group 0xC3 sub-command 11: cloud binding, each value byte masked with a 32-byte key

int message_deal::project_set_setproperty(unsigned char* frame, unsigned char)
{
    frame[10] = 1;
    frame[11] = 11;
    const unsigned char* K = frame + 12;
    unsigned p = 60;
    bool ok = true;
    auto byte = [&]() -> unsigned {
        if (p >= frame_len) {
            ok = false;
            return 0;
        }
        unsigned v = frame[p] ^ K[(p - 60) % 32];
        ++p;
        return v;
    };
    auto word = [&]() { unsigned lo = byte(); return lo | (byte() << 8); };
    auto text = [&]() {
        unsigned n = byte();
        QByteArray t;
        for (unsigned i = 0; i < n && ok; ++i)
            t.append(char(byte()));
        return QString::fromUtf8(t);
    };
    const unsigned total = word();
    const QString server = text();
    const unsigned port = word();
    const QString user = text();
    const QString name = text();
    if (!ok)
        return 3;   // a length that runs past the frame
    KEL_TRACE("\n cloud binding: %u bytes, server %s:%u user %s name %s\n", total, server.toUtf8().constData(), port,
              user.toUtf8().constData(), name.toUtf8().constData());
    // One replacement of the settings file; not stored, nothing is taken ([10] stays 1).
    if (!write_settings({{ConfigItem::uTorcloudserverip, server},
                         {ConfigItem::uTorcloudserverport, int(port)},
                         {ConfigItem::uTorclouduserip, user},
                         {ConfigItem::uTorcloudcontrollername, name}}))
        return 3;
    // Held as the next start loads it: an empty text is held as unset (one space), and the
    // binding counts only while one of its settings is set.
    const auto kept = [](ConfigItem::ConfigName item, const QString& sent) {
        const QVariant v = read_setting(item);
        return v.isValid() ? v.toString() : sent;
    };
    const QString held[] = {kept(ConfigItem::uTorcloudserverip, server), kept(ConfigItem::uTorclouduserip, user),
                            kept(ConfigItem::uTorcloudcontrollername, name)};
    {
        std::lock_guard<std::mutex> hold(g_str_globals_mutex);
        g_uTor_cloudserverip = held[0];
        g_uTor_clouduserid = held[1];
        g_uTor_controllername = held[2];
    }
    g_uTor_cloudserverport = int(port);
    board::Files::sync();
    board::Clock::sleepUs(100);
    g_uTor_cloud = held[0] == " " && held[1] == " " && held[2] == " " && port == 0 ? 0 : 1;
    frame[10] = 0;
    return 3;
}
