// Group 0xC1: an input's own EDID. The PC sends a 288-byte record (32-byte header with the
// resolution, then the 256-byte EDID image); it is kept as a file, handed to the input side
// for the EEPROM and its resolution becomes the input's requested EDID.
#include "protocol/message_deal.h"

#include "board/Files.h"
#include "core/global.h"
#include "core/utils.h"
#include "protocol/message_deal_shared.h"
#include "protocol/pc_fields.h"
#include "sources/velinsource.h"

#include <QString>
#include <cstdio>
#include <cstring>

using pcf::put16;
using pcf::rd16;

namespace {

constexpr unsigned kRecordSize = 288;
constexpr unsigned kRecordHeader = 32;
constexpr unsigned kWriteData = 19;   // the record starts at frame byte 19

std::string record_path(unsigned input)
{
    return QString::asprintf("/data/edidramtable/%04x.bin", input).toStdString();
}

} // namespace

int message_deal::write_edid_table_group(unsigned char* frame)
{
    if (frame_len < 13)
        return 0;
    const unsigned input = rd16(frame + 11);
    const std::string path = record_path(input);
    if (frame[10] == 1) {
        frame[11] = 1;
        const unsigned L = frame_len >= kWriteData ? rd16(frame + 17) : 0;
        KEL_TRACE("\n write_edid_table %u  %u  %u  \n%s\n", input, frame_len >= 17 ? rd16(frame + 15) : 0u, L,
                  path.c_str());
        if (input >= 4 || !velinsource::p_velin_source) {
            frame[10] = 2;
            return 2;
        }
        // Only a whole record that came whole is taken: its EDID bytes and resolution lie
        // at fixed places in it. Anything else is not stored, which status 1 reports (2
        // would tell the PC that the input does not exist).
        if (L != kRecordSize || kWriteData + L > frame_len) {
            frame[10] = 1;
            return 2;
        }
        const unsigned char* record = frame + kWriteData;
        bool stored;
        {
            std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
            stored = board::Files::writeAtomically(path, record, kRecordSize);
        }
        if (!stored) {
            frame[10] = 1;
            return 2;
        }
        {
            std::lock_guard<std::mutex> hold(g_edid_ram_table_mutex);
            std::memcpy(edid_ram_table[input], record + kRecordHeader, kEdidSize);
            edid_ram_table_from[input] = 1;
        }
        const uint16_t w = rd16(record + 2), h = rd16(record + 4), f = rd16(record + 6);
        const int at = KelRamPara::kEdid + 6 * int(input);
        KEL_TRACE("\n edid w = %d addr = %#x\n", w, at);
        KEL_TRACE("\n edid h = %d addr = %#x\n", h, at + 2);
        KEL_TRACE("\n edid freq = %d addr = %#x\n", f, at + 4);
        if (KelRamPara* p = mdshared::para()) {
            mdshared::ScalerLock lock;
            put16(p->ram + at, w);
            put16(p->ram + at + 2, h);
            put16(p->ram + at + 4, f);
            // Answered once the parameter file holding the requested size is on disc too.
            if (lock.apply(1))
                answer_when_stored(p);
        }
        KEL_TRACE("\n write_edid_table  edid_ram_table_from [0]%d  [1]%d  [2]%d [3]%d  edid_index=%u\n",
                  edid_ram_table_from[0].load(), edid_ram_table_from[1].load(), edid_ram_table_from[2].load(),
                  edid_ram_table_from[3].load(), input);
        frame[10] = 0;
        return 2;
    }
    if (frame[10] == 2) {
        KEL_TRACE("\n read_edid_table %u  0  0 \n%s\n", input, path.c_str());
        frame[10] = 0;
        frame[11] = 2;
        put16(frame + 12, uint16_t(input));
        unsigned char record[kRecordSize];
        size_t got = 0;
        {
            std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
            if (std::FILE* file = board::Files::openRead(path)) {
                got = std::fread(record, 1, sizeof record, file);
                std::fclose(file);
            }
        }
        if (got != kRecordSize) {
            std::memset(frame + 14, 0, 4);   // missing or cut short: not found
            return 8;
        }
        put16(frame + 14, uint16_t(kRecordHeader));
        put16(frame + 16, uint16_t(kRecordSize));
        std::memcpy(frame + 18, record, kRecordSize);
        return 296;
    }
    return 0;
}
