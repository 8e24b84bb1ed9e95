// The receiving-card operation executor, which carries one stored operation out on the
// cards of a port packet by packet, and job 1, the shortcut set-up that gives every card
// of the chosen port its position. Both run one short step per pass of the manager loop:
// every wait is a tick stamp looked at again on a later pass.

#include "fpga/fpga_manage.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "fpga/rcv_recovery_file.h"

#include "board/Clock.h"
#include "board/Files.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

// Executor sub-steps.
enum : u8 {
    kSubStart = 20, kSubCards = 21, kSubKind = 22, kSubRamChunk = 23, kSubRegister = 24, kSubFirmware = 25,
    kSubSave = 26, kSubReconfig = 27, kSubSleep = 28, kSubSearch = 29, kSubUserDefined = 30, kSubWait = 31,
    kSubDone = 32
};

constexpr u32 kChunk = 1000;               // RAM data per write packet
constexpr u8 kMaxRetries = 3;              // so a packet goes out at most 4 times
constexpr u8 kReadAttempts = 3;            // passes an unreadable data piece is tried
constexpr u32 kSmartReplyTicks = 1200;

// The trace lines around the sending of a one-packet operation.
struct TraceWords {
    const char* in;
    const char* out;
};
TraceWords traceWords(u8 sub)
{
    switch (sub) {
    case kSubRegister: return {"\n write reg in", "\n write reg out"};
    case kSubFirmware: return {"\n acitve firmware in", "\n acitve firmware out"};
    case kSubReconfig: return {"\n reconfig in", "\n reconfig out"};
    case kSubSearch: return {"\n serach rxc in", "\n search rxc out"};
    default: return {"\n user defined in", "\n user defined out"};
    }
}

// Each byte of a packet as " 0x%02x ", in one trace line.
void traceBytes(const unsigned char* b, unsigned n)
{
    if (g_debugSwitch != 254)
        return;
    std::string line;
    line.reserve(n * 6);
    char one[8];
    for (unsigned i = 0; i < n; ++i) {
        std::snprintf(one, sizeof one, " 0x%02x ", b[i]);
        line += one;
    }
    KEL_TRACE("%s", line.c_str());
}

// The most data a one-packet operation can carry (packet header and check byte around it).
u32 packetRoom(u8 type)
{
    return type == RcvOperatePara::kUserDefined ? fpga_manage::kPacketMax - 10 : fpga_manage::kPacketMax - 11;
}

} // namespace

// ------------------------------------------------------------------------------------
// Shared by the card jobs

void fpga_manage::card_job_pc_pause()
{
    if (Utils::getTimeSpace(pc_cmd_time) > 80) {
        pc_cmd_valid = 0;
        pc_cmd_word = 0;
        searched_mask = 0;
    }
    const u32 now = G_timeTicks.load();
    g_change[CHG_JOB_STAMP] = now;
    g_send_para.stamp = now;
}

bool fpga_manage::card_job_cancelled(int which)
{
    SEND_PARA& job = g_send_para;
    if (!job.cancel.load())
        return false;
    KEL_TRACE("\n job ended from the front panel ");
    emit_progress(which, 100);
    job.end();
    return true;
}

void fpga_manage::card_job_animate(int which)
{
    if (Utils::getTimeSpace(g_change[CHG_JOB_STAMP]) <= 100)
        return;
    u32 counter = g_change[CHG_JOB_PROGRESS];
    counter = counter >= 99 ? 1 : counter + 1;
    g_change[CHG_JOB_PROGRESS] = counter;
    g_change[CHG_JOB_STAMP] = G_timeTicks.load();
    emit_progress(which, int(counter));
}

QStringList fpga_manage::recovery_list() const
{
    std::lock_guard<std::mutex> hold(rcv_list_mutex);
    return rcv_list;
}

u8 fpga_manage::recovery_list_filled() const
{
    std::lock_guard<std::mutex> hold(rcv_list_mutex);
    return rcv_list_flag;
}

void fpga_manage::set_recovery_list(const QStringList& list)
{
    {
        std::lock_guard<std::mutex> hold(rcv_list_mutex);
        rcv_list = list;
        rcv_list_flag = list.isEmpty() ? 0 : 1;
    }
    emit_recovery_list(list);
}

// ------------------------------------------------------------------------------------
// Operation executor

u8 fpga_manage::load_rcv_xy_operate(const QString& path, uint64_t dataOffset, bool allCards)
{
    SEND_PARA& job = g_send_para;
    rcvRecovery& file = *m_rcvRecovery;
    RcvOperatePara& op = file.operate_para;
    const int ledx = file.net_para.net_ledx;
    const int fpga = ledx > 9 ? 1 : 0;
    const int port = fpga ? ledx - 10 : ledx;
    unsigned char packet[kPacketMax];
    unsigned char data[kPacketMax];

    auto send = [&](unsigned len) {
        expect_job_answer(packet, port, fpga);
        Send_to_port(packet, len, port, fpga);
        job.sub_step = kSubWait;
        job.stamp = G_timeTicks.load();
    };
    // An unreadable piece is tried again on the next pass, a few times: a file that was cut
    // short never gets longer, and the job must not wait for it for ever.
    auto readFailed = [&](const char* what) {
        job.stamp = G_timeTicks.load();
        if (++operate_read_failures >= kReadAttempts) {
            KEL_TRACE("\n %s error: data not in the file, operation skipped\n", what);
            job_incomplete = 1;
            job.sub_step = kSubDone;
        }
    };
    // One-packet operations: the data at dataOffset, as much as the packet holds.
    auto readWhole = [&](u16& n) -> bool {
        n = u16(op.dataLen);
        return file.update_rcvOperatedata(path, dataOffset, data, n) == 0;
    };

    switch (job.sub_step.load()) {
    case kSubStart:
        job.retries = 0;
        operate_read_failures = 0;
        job.sub_step = kSubCards;
        return 0;
    case kSubCards: {
        const u16 cards = get_port_card_num(ledx);
        job.cards = cards;
        job.index = allCards ? u16(cards ? cards - 1 : 0) : job.card.load();
        job.sub_step = kSubKind;
        return 0;
    }
    case kSubKind: {
        job.sent = 0;
        job.count = 1;
        // The file's time of an operation, a sleep or an answer wait, is held to a minute: a
        // wrong or hostile value must not hold the job (and the searches) for days.
        op.timeticks = std::min(op.timeticks, RcvOperatePara::kMaxSleepMs);
        const bool onePacket = !(op.type == RcvOperatePara::kWrite && op.target == RcvOperatePara::kRam)
                               && op.type != RcvOperatePara::kRam2Flash && op.type != RcvOperatePara::kSleep;
        if (onePacket && op.dataLen > packetRoom(op.type)) {
            KEL_TRACE("\n operation of %u bytes does not fit one packet: operate error\n", op.dataLen);
            job_incomplete = 1;
            job.sub_step = kSubDone;
            return 0;
        }
        switch (op.type) {
        case RcvOperatePara::kWrite:
            if (op.target == RcvOperatePara::kRam) {
                const u32 count = op.dataLen / kChunk + 1;
                if (count > 0xFFFF) {
                    KEL_TRACE("\n ram write of %u bytes is too long: operate error\n", op.dataLen);
                    job_incomplete = 1;
                    job.sub_step = kSubDone;
                    return 0;
                }
                job.count = u16(count);
                KEL_TRACE("\n send load scan write step : write ram!!1!!!,packet=%d \n", int(count));
                job.sub_step = kSubRamChunk;
            } else if (op.target == RcvOperatePara::kRegister) {
                KEL_TRACE("\n send load scan write step : write register!!1!!!,packet=%d \n", 1);
                job.sub_step = kSubRegister;
            } else {
                KEL_TRACE("\n send load scan write step : error!!1!!!,packet=%d \n", 1);
                job_incomplete = 1;
                job.sub_step = kSubDone;
            }
            return 0;
        case RcvOperatePara::kRam2Flash: {
            // Saving takes about a second per card: the answer may come that much later.
            const uint64_t wait = uint64_t(op.timeticks) + 1000ull * job.cards;
            op.timeticks = u32(std::min<uint64_t>(wait, 0xFFFFFFFFull));
            job.sub_step = kSubSave;
            return 0;
        }
        case RcvOperatePara::kActiveFirmware:
            job.sub_step = kSubFirmware;
            return 0;
        case RcvOperatePara::kReconfig:
            job.sub_step = kSubReconfig;
            return 0;
        case RcvOperatePara::kSleep:
            job.stamp = G_timeTicks.load();
            job.sub_step = kSubSleep;
            return 0;
        case RcvOperatePara::kSearchRxc:
            job.sub_step = kSubSearch;
            return 0;
        case RcvOperatePara::kUserDefined:
            job.sub_step = kSubUserDefined;
            return 0;
        default:
            // "upgrade rcv" and unknown types cannot be carried out: the operation ends
            // rather than holding the job for ever.
            KEL_TRACE("\n operate type %#x not carried out: operate error\n", op.type);
            job_incomplete = 1;
            job.sub_step = kSubDone;
            return 0;
        }
    }
    case kSubRamChunk: {
        // A repeat sends the same chunk again; only a fresh chunk advances the count, and
        // only once its data could be read.
        const u32 chunk = job.retries == 0 ? job.sent.load() : u32(job.sent - 1);
        const u32 len = chunk + 1 >= job.count ? op.dataLen % kChunk : kChunk;
        if (len && file.update_rcvOperatedata(path, dataOffset + uint64_t(kChunk) * chunk, data, len) != 0) {
            readFailed("ram write");
            return 0;
        }
        job.sent = u16(chunk + 1);
        const u32 address = op.targetAddr + kChunk * chunk;
        load_write_ram_cmd_create(port, job.index, address, data, u16(len), packet, allCards);
        KEL_TRACE("\n ram create in length = %u ,offset = %#x, send_len=%d\n", len, address, int(job.length));
        KEL_TRACE("\n ram write in");
        traceBytes(packet, job.length);
        send(job.length);
        KEL_TRACE("\n ram write out");
        return 0;
    }
    case kSubRegister:
    case kSubFirmware:
    case kSubReconfig:
    case kSubSearch:
    case kSubUserDefined: {
        const u8 sub = job.sub_step;
        const TraceWords words = traceWords(sub);
        KEL_TRACE("%s", words.in);
        u16 n = 0;
        if (!readWhole(n)) {
            if (sub == kSubReconfig)
                KEL_TRACE("\n reconfig error length = %d\n", int(n));
            else if (sub == kSubSearch)
                KEL_TRACE("\n serach rxc error");
            readFailed(sub == kSubReconfig ? "reconfig" : sub == kSubSearch ? "serach rxc" : "operate data");
            return 0;
        }
        if (job.retries == 0)
            job.sent = u16(job.sent + 1);
        u16 len = 0;
        switch (sub) {
        case kSubRegister: len = load_write_reg_cmd_create(port, job.index, data, n, packet, allCards); break;
        case kSubFirmware: len = rcv_active_firmware_cmd_create(port, job.index, data, n, packet); break;
        case kSubReconfig: len = rcv_reconfig_cmd_create(port, job.index, data, n, packet); break;
        case kSubSearch: len = load_search_rxc_cmd_create(port, data, n, packet); break;
        default: len = load_write_user_defined_cmd_create(port, job.index, data, n, packet, allCards); break;
        }
        if (len == 0) {
            KEL_TRACE("\n operate data of %u bytes makes no packet: operate error\n", unsigned(n));
            job_incomplete = 1;
            job.sub_step = kSubDone;
            return 0;
        }
        send(len);
        KEL_TRACE("%s", words.out);
        return 0;
    }
    case kSubSave:
        if (job.retries == 0)
            job.sent = u16(job.sent + 1);
        send(save_para2flash_cmd_create(port, job.index, packet, allCards));
        return 0;
    case kSubSleep:
        if (Utils::getTimeSpace(job.stamp) >= op.timeticks / 10)
            job.sub_step = kSubDone;
        return 0;
    case kSubWait: {
        // Firmware activation and reconfiguration go card by card, from the last down to
        // card 0, when the operation is for every card.
        const bool perCard = op.type == RcvOperatePara::kActiveFirmware || op.type == RcvOperatePara::kReconfig;
        const u8 again = op.type == RcvOperatePara::kActiveFirmware ? kSubFirmware : kSubReconfig;
        if (job.reply == 1) {
            job.reply = 0;
            job.retries = 0;
            KEL_TRACE("\n rcv message back!!! ");
            if (perCard) {
                if (allCards && job.index > 0) {
                    job.index = u16(job.index - 1);
                    job.sub_step = again;
                } else {
                    job.sub_step = kSubDone;
                }
            } else {
                job.sub_step = job.sent < job.count ? kSubRamChunk : kSubDone;
            }
            return 0;
        }
        if (Utils::getTimeSpace(job.stamp) <= op.timeticks / 10)
            return 0;
        KEL_TRACE("\n timeout!!! ");
        // A packet given up after its repeats did not reach its card: the job says so at
        // its end, however the rest of it goes.
        if (perCard) {
            if (allCards && job.index > 0) {
                if (job.retries >= kMaxRetries) {
                    job_incomplete = 1;
                    job.retries = 0;
                    job.index = u16(job.index - 1);
                } else {
                    job.retries = u8(job.retries + 1);
                }
                job.sub_step = again;
            } else if (job.retries < kMaxRetries) {
                job.retries = u8(job.retries + 1);
                job.sub_step = again;
            } else {
                job_incomplete = 1;
                job.sub_step = kSubDone;
            }
            return 0;
        }
        u8 repeat = 0;
        if (op.type == RcvOperatePara::kWrite)
            repeat = op.target == RcvOperatePara::kRam ? kSubRamChunk : kSubRegister;
        else if (op.type == RcvOperatePara::kRam2Flash)
            repeat = kSubSave;
        else if (op.type == RcvOperatePara::kUserDefined)
            repeat = kSubUserDefined;
        if (!repeat) {
            job_incomplete = 1;
            job.sub_step = kSubDone;
        } else if (job.retries < kMaxRetries) {
            job.retries = u8(job.retries + 1);
            job.sub_step = repeat;
        } else if (job.sent < job.count) {
            job_incomplete = 1;
            job.retries = 0;
            job.sub_step = repeat;
        } else {
            job_incomplete = 1;
            job.sub_step = kSubDone;
        }
        return 0;
    }
    case kSubDone:
        return 1;
    default:
        return 0;
    }
}

// ------------------------------------------------------------------------------------
// Old scan-parameter records

static_assert(18 + 4 == SCAN_PARA::kSize, "old scan-parameter record layout");

void SCAN_PARA::decode(const u8* b)
{
    head = u16(b[0] | b[1] << 8);
    for (int k = 0; k < 5; ++k) {
        const u8* f = b + 2 + 4 * k;
        value[k] = u32(f[0]) | u32(f[1]) << 8 | u32(f[2]) << 16 | u32(f[3]) << 24;
    }
    value[4] /= 10;
}

QString fpga_manage::chosen_kxfile()
{
    QString name;
    {
        std::lock_guard<std::mutex> hold(g_kxfile_name_mutex);
        name = g_kxfile_name;
    }
    // The screen chooses from two folders; a name that leads anywhere else is no choice.
    const QString path = QDir::cleanPath(name);
    const QFileInfo info(path);
    const QString dir = info.path();
    if (info.fileName().isEmpty() || (dir != "/data/smartmapping" && dir != "/mnt/usb1"))
        return QString();
    return path;
}

u8 fpga_manage::get_operate_deal_para(SCAN_PARA* record, u32 i)
{
    if (!record || i >= scan_para_count)
        return 1;
    const QString name = chosen_kxfile();
    if (name.isEmpty()) {
        KEL_TRACE("\n NO kxfile!!! ");
        return 1;
    }
    const std::string path = board::Files::map(name.toStdString());
    u8 b[SCAN_PARA::kSize];
    {
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        std::FILE* f = board::Files::openRead(path);
        if (!f) {
            KEL_TRACE("\n NO kxfile!!! ");
            return 1;
        }
        const uint64_t at = 4 + uint64_t(SCAN_PARA::kSize) * i;
        const bool whole = fseeko(f, off_t(at), SEEK_SET) == 0 && std::fread(b, 1, sizeof b, f) == sizeof b;
        std::fclose(f);
        // A record the file does not wholly hold is no record: reported as read, a part of
        // it would be the previous record's.
        if (!whole)
            return 1;
    }
    record->decode(b);
    static_cast<void>(Utils::system_mutex("sync", nullptr));   // a flush; nothing to redo
    board::Clock::sleepMs(100);
    return 0;
}

// ------------------------------------------------------------------------------------
// Job 1: shortcut set-up

void fpga_manage::SmartMapping_deal()
{
    if (card_job_cancelled(kProgressSmartMapping))
        return;
    if (pc_cmd_valid) {
        card_job_pc_pause();
        return;
    }
    SEND_PARA& job = g_send_para;
    const u32 now = G_timeTicks.load();
    switch (job.step.load()) {
    case 0:
        job.index = 0;
        job.port = line_type.port;
        job.step = 1;
        smart_no_cards = 0;
        job_incomplete = 0;
        KEL_TRACE("\n start send rcv card smartmapping!!! ");
        break;
    case 1: {
        const u16 cards = get_port_card_num(job.port);
        job.cards = cards;
        if (cards == 0) {
            job.step = 4;
            smart_no_cards = 1;
            KEL_TRACE("\n port %d has no receiving card: no position sent \n", int(job.port));
        } else if (job.index >= cards) {
            job.step = 5;
            job.port = line_type.port;
            KEL_TRACE("\n no card to send rcv card smartmapping!!! write reg  ");
        } else {
            job.step = 2;
            KEL_TRACE("\n send rcv card port : %d, index : %d!!! \n", int(job.port), int(job.index));
        }
        break;
    }
    case 2: {
        unsigned char packet[23];
        rcv_card_cmd_create(packet, job.port);
        expect_job_answer(packet, job.port, 0);
        Send_to_port(packet, sizeof packet, job.port, 0);
        job.index = u16(job.index + 1);
        job.step = 3;
        job.stamp = now;
        emit_progress(kProgressSmartMapping, job.index * 100 / (job.cards + 1));
        g_change[CHG_JOB_STAMP] = now;
        g_change[CHG_JOB_PROGRESS] = 0;
        break;
    }
    case 3:
        if (job.reply == 1) {
            job.reply = 0;
            job.step = 1;
            KEL_TRACE("\n rcv message back!!! ");
        } else if (Utils::getTimeSpace(job.stamp) > kSmartReplyTicks) {
            job.step = 1;                 // the card is skipped, and said so
            job_incomplete = 1;
            KEL_TRACE("\n port %d: card %d did not answer, its position is not confirmed \n", int(job.port),
                      int(job.index) - 1);
        } else {
            card_job_animate(kProgressSmartMapping);
        }
        break;
    case 5: {
        if (job.index != job.cards) {
            job.step = 4;
            break;
        }
        unsigned char packet[15];
        ram_reset_cmd_create(packet, 1, 65535, job.port);
        expect_job_answer(packet, job.port, 0);
        Send_to_port(packet, job.length, job.port, 0);
        emit_progress(kProgressSmartMapping, job.index * 100 / (job.cards + 1));
        job.index = u16(job.index + 1);
        job.step = 6;
        job.stamp = now;
        g_change[CHG_JOB_STAMP] = now;
        g_change[CHG_JOB_PROGRESS] = 0;
        break;
    }
    case 6:
        if (job.reply == 1 || Utils::getTimeSpace(job.stamp) > kSmartReplyTicks) {
            if (job.reply != 1)
                job_incomplete = 1;
            job.reply = 0;
            job.step = 5;
        } else {
            card_job_animate(kProgressSmartMapping);
        }
        break;
    case 4:
        job.step = 9;
        emit_progress(kProgressSmartMapping, 90);
        job.stamp = now;
        KEL_TRACE("\n send rcv card smartmapping over!!! ");
        break;
    case 9:
        if (Utils::getTimeSpace(job.stamp) > 200) {
            emit_progress(kProgressSmartMapping, 100);
            job.end();
            KEL_TRACE("\n send rcv card smartmapping ending !!! ");
            // A card that never confirmed its position is a job not done.
            if (smart_no_cards || job_incomplete)
                emit_job_failed(kProgressSmartMapping, smart_no_cards ? kJobNoCard : kJobCardSilent);
        }
        break;
    default:
        break;
    }
}
