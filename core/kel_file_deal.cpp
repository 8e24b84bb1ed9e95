#include "core/kel_file_deal.h"

#include "core/global.h"
#include "core/utils.h"

KelFileDeal g_kel_file_deal_para;
std::FILE* file_velin = nullptr;

std::mutex FileBufOwner::s_mutex;
FileBufOwner::Owner FileBufOwner::s_owner = FileBufOwner::None;
TransferHold FileBufOwner::s_hold;
bool FileBufOwner::s_settled = false;
bool FileBufOwner::s_storing = false;

bool FileBufOwner::acquire(Owner who, const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    const bool mine = s_owner == who && s_hold.heldBy(by);
    if (mine && !s_settled)
        return true;
    const bool given_up = !s_storing && (s_settled || s_hold.lapsed());
    if (s_owner != None && !mine && !given_up)
        return false;
    // A holder that settled and starts again keeps its life: ending and starting over is
    // no way round the bound.
    if (!mine)
        s_hold.start(by);
    s_owner = who;
    s_settled = false;
    return true;
}

bool FileBufOwner::use(Owner who, const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    return who != None && s_owner == who && s_hold.heldBy(by);
}

void FileBufOwner::progress(Owner who, const Holder& by, uint32_t offset, uint32_t n)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    if (who != None && s_owner == who && s_hold.heldBy(by))
        s_hold.progress(offset, n);
}

bool FileBufOwner::busy_with(const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    return s_owner != None && s_hold.heldBy(by) && !s_settled && (s_storing || !s_hold.lapsed());
}

bool FileBufOwner::in_progress(Owner who)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    return s_owner == who && s_hold.held() && !s_settled && (s_storing || !s_hold.lapsed());
}

FileBufOwner::Owner FileBufOwner::owner_of(const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    return s_hold.heldBy(by) ? s_owner : None;
}

void FileBufOwner::settle(Owner who, const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    if (s_owner == who && s_hold.heldBy(by))
        s_settled = true;
}

bool FileBufOwner::begin_store(Owner who, const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    if (who == None || s_owner != who || !s_hold.heldBy(by))
        return false;
    s_storing = true;
    return true;
}

void FileBufOwner::end_store(Owner who, const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    if (s_owner == who && s_hold.heldBy(by)) {
        s_storing = false;
        s_hold.touch();
    }
}

void FileBufOwner::release(Owner who, const Holder& by)
{
    std::lock_guard<std::mutex> hold(s_mutex);
    if (s_owner == who && s_hold.heldBy(by)) {
        s_owner = None;
        s_hold.release();
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
    s_hold.reset();
    s_settled = false;
    s_storing = false;
}
