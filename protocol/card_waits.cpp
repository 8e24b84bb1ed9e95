#include "protocol/card_waits.h"

#include "fpga/fpga_manage.h"
#include "protocol/protocol_phy.h"

namespace {
// The passthrough and the FPGA interrupt service share the FPGA manager's port-path lock.
// Before the manager exists there is nothing to share it with.
std::unique_lock<std::mutex> lock_port_path()
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    return m ? std::unique_lock<std::mutex>(m->port_path_mutex) : std::unique_lock<std::mutex>();
}
} // namespace

void CardWaits::add(uint64_t key, unsigned ticket, const sockaddr_in& to)
{
    m_waits[key] = Wait{ticket, to};
    std::lock_guard<std::mutex> hold(m_mutex);
    m_tickets.insert(ticket);
}

bool CardWaits::answer(unsigned ticket, const unsigned char* frame, unsigned len)
{
    if (!frame || len > ANSWER_MAX)
        return false;
    std::vector<unsigned char> data(protocol_phy::escaped_size_max(len));
    // Escaping keeps no state of a link's unescaper, so a private one is safe on the FPGA
    // manager's thread.
    protocol_phy phy;
    unsigned char flag = 0;
    data.resize(phy.data_re_transf_meaning(data.data(), const_cast<unsigned char*>(frame), len, &flag));
    std::lock_guard<std::mutex> hold(m_mutex);
    if (!m_tickets.count(ticket))
        return false;
    m_answers[ticket] = std::move(data);
    return true;
}

std::vector<CardWaits::Answer> CardWaits::sweep()
{
    std::vector<Answer> out;
    std::unique_lock<std::mutex> path = lock_port_path();
    if (fpga_manage* m = fpga_manage::p_fpga_manage)
        m->reg_IRQ_Dealwith(0, 0);
    std::lock_guard<std::mutex> hold(m_mutex);
    for (auto it = m_waits.begin(); it != m_waits.end();) {
        auto answer = m_answers.find(it->second.ticket);
        if (answer != m_answers.end()) {
            out.push_back(Answer{it->first, it->second.to, std::move(answer->second)});
            m_answers.erase(answer);
        } else if (fpga_manage::passby_waiting(it->second.ticket)) {
            ++it;
            continue;   // still kept, or its answer is still due
        }
        // Answered, or its wait ended without an answer.
        m_tickets.erase(it->second.ticket);
        it = m_waits.erase(it);
    }
    if (!out.empty())
        if (fpga_manage* m = fpga_manage::p_fpga_manage)
            m->answer_ready = 0;
    return out;
}

void CardWaits::abandon(uint64_t key)
{
    auto it = m_waits.find(key);
    if (it == m_waits.end())
        return;
    std::unique_lock<std::mutex> path = lock_port_path();
    fpga_manage::withdraw_passby(it->second.ticket);
    {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_tickets.erase(it->second.ticket);
        m_answers.erase(it->second.ticket);
    }
    m_waits.erase(it);
}
