#include "cloud/message_deal_4g.h"

#include "board/Files.h"
#include "core/global.h"
#include "core/utils.h"
#include "protocol/message_deal.h"
#include "protocol/pc_fields.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Reads one cloud-settings record; true with the properties filled from its data.
bool load_record(const char* path)
{
    std::vector<unsigned char> file;
    {
        std::lock_guard<std::mutex> hold(Utils::_file_deal_mutex);
        std::FILE* f = board::Files::openRead(path);
        if (!f)
            return false;
        unsigned char chunk[512];
        size_t n;
        // The record is small; anything past a sane size is not a settings record.
        while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && file.size() < 0x10000)
            file.insert(file.end(), chunk, chunk + n);
        std::fclose(f);
    }
    if (file.size() < 3 || file[0] != 0xAA)
        return false;
    const unsigned declared = pcf::rd16(file.data() + 1);
    if (declared < 3 || declared - 2 > file.size() - 3)
        return false;   // no data, or the record is cut short
    const unsigned n = std::min<unsigned>(declared - 2, k4GPropertySize);
    std::lock_guard<std::mutex> hold(g_4G_RAM_mutex);
    std::memset(g_4G_property, 0, k4GPropertySize);
    std::memcpy(g_4G_property, file.data() + 3, n);
    return true;
}

} // namespace

int message_deal_4g::get_4G_property()
{
    if (load_record("/data/configs/cloud_barcode") || load_record("/data/configs/cloud_setinfo"))
        return 0;
    return 1;   // the properties stay as they were
}

int message_deal_4g::message_deal_4G(unsigned char* frame, unsigned int len)
{
    if (len < 11)
        return 0;
    const unsigned char sub = frame[10];
    const unsigned n = len >= 13 ? pcf::rd16(frame + 11) : 0;
    const bool ok = sub == kStatusReport && len >= 13 && n <= k4GRamSize && 13 + n <= len;
    if (ok) {
        std::lock_guard<std::mutex> hold(g_4G_RAM_mutex);
        std::memcpy(g_4G_RAM, frame + 13, n);
    }
    frame[10] = ok ? 0 : 1;
    frame[11] = sub;
    return 2;
}
