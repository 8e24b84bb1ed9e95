#include "protocol/later_replies.h"

#include <algorithm>
#include <utility>

std::function<void(std::vector<unsigned char>, unsigned)> LaterReplies::sender(const std::shared_ptr<LaterReplies>& self, uint64_t key,
                                                                             const sockaddr_in& to)
{
    uint64_t generation;
    {
        std::lock_guard<std::mutex> hold(self->m_mutex);
        const auto g = self->m_generation.find(key);
        generation = g == self->m_generation.end() ? 0 : g->second;
    }
    std::weak_ptr<LaterReplies> link = self;
    return [link, key, generation, to](std::vector<unsigned char> frame, unsigned len) {
        if (const std::shared_ptr<LaterReplies> l = link.lock())
            l->post(key, generation, to, std::move(frame), len);
    };
}

void LaterReplies::post(uint64_t key, uint64_t generation, const sockaddr_in& to, std::vector<unsigned char> frame, unsigned len)
{
    std::lock_guard<std::mutex> hold(m_mutex);
    --m_owed;   // the handler's completion may come before the link counted it owed
    const auto g = m_generation.find(key);
    if ((g == m_generation.end() ? 0 : g->second) != generation)
        return;   // its PC went away
    m_ready.push_back({key, to, std::move(frame), len});
}

void LaterReplies::owe()
{
    std::lock_guard<std::mutex> hold(m_mutex);
    ++m_owed;
}

bool LaterReplies::owing() const
{
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_owed > 0 || !m_ready.empty();
}

std::vector<LaterReplies::Reply> LaterReplies::take()
{
    std::lock_guard<std::mutex> hold(m_mutex);
    return std::exchange(m_ready, {});
}

void LaterReplies::abandon(uint64_t key)
{
    std::lock_guard<std::mutex> hold(m_mutex);
    ++m_generation[key];
    m_ready.erase(std::remove_if(m_ready.begin(), m_ready.end(), [key](const Reply& r) { return r.key == key; }), m_ready.end());
}
