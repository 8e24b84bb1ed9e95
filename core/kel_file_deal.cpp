#include "core/kel_file_deal.h"

#include "core/global.h"
#include "core/utils.h"

KelFileDeal g_kel_file_deal_para;
std::FILE* file_velin = nullptr;

std::mutex FileBufOwner::s_mutex;
FileBufOwner::Owner FileBufOwner::s_owner = FileBufOwner::None;
FileBufOwner::Holder FileBufOwner::s_holder;
uint32_t FileBufOwner::s_stamp = 0;
bool FileBufOwner::s_settled = false;
bool FileBufOwner::s_storing = false;

bool FileBufOwner::acquire(Owner who, const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    const bool mine = s_owner == who && s_holder == by;
    const bool given_up = !s_storing && (s_settled || Utils::getTimeSpace(s_stamp) >= kIdleTicks);
    if (s_owner != None && !mine && !given_up)
        return false;
    s_owner = who;
    s_holder = by;
    s_settled = false;
    s_stamp = G_timeTicks.load();
    return true;
}

bool FileBufOwner::use(Owner who, const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    if (who == None || s_owner != who || s_holder != by)
        return false;
    s_stamp = G_timeTicks.load();
    return true;
}

void FileBufOwner::settle(Owner who, const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    if (s_owner == who && s_holder == by)
        s_settled = true;
}

bool FileBufOwner::begin_store(Owner who, const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    if (who == None || s_owner != who || s_holder != by)
        return false;
    s_storing = true;
    return true;
}

void FileBufOwner::end_store(Owner who, const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    if (s_owner == who && s_holder == by) {
        s_storing = false;
        s_stamp = G_timeTicks.load();
    }
}

void FileBufOwner::release(Owner who, const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    if (s_owner == who && s_holder == by) {
        s_owner = None;
        s_holder = Holder();
        s_settled = false;
        s_storing = false;
    }
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
    s_holder = Holder();
    s_settled = false;
    s_storing = false;
}
