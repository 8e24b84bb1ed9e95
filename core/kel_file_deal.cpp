#include "core/kel_file_deal.h"

#include "core/global.h"
#include "core/utils.h"

KelFileDeal g_kel_file_deal_para;
std::FILE* file_velin = nullptr;

std::mutex FileBufOwner::s_mutex;
FileBufOwner::Owner FileBufOwner::s_owner = FileBufOwner::None;
uint32_t FileBufOwner::s_stamp = 0;

bool FileBufOwner::acquire(Owner who)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    if (s_owner != None && s_owner != who && Utils::getTimeSpace(s_stamp) < kIdleTicks)
        return false;
    s_owner = who;
    s_stamp = G_timeTicks.load();
    return true;
}

bool FileBufOwner::use(Owner who)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    if (who == None || s_owner != who)
        return false;
    s_stamp = G_timeTicks.load();
    return true;
}

void FileBufOwner::release(Owner who)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    if (s_owner == who)
        s_owner = None;
}

FileBufOwner::Owner FileBufOwner::owner()
{
    std::lock_guard<std::mutex> hold(s_mutex);
    return s_owner;
}

void FileBufOwner::reset()
{
    std::lock_guard<std::mutex> hold(s_mutex);
    s_owner = None;
}
