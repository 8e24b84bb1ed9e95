#include "protocol/uart_inout.h"

#include "core/global.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "protocol/message_deal.h"
#include "protocol/protocol_phy.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>

namespace {
constexpr int kPcPort = 2;
// How long a quiet line blocks the receive thread: bytes end the wait at once, so this only
// sets how often an idle link wakes for nothing.
constexpr int kIdleWaitMs = 1000;
// The assembly holds one escaped frame; a longer one is dropped.
constexpr unsigned kAssemblySize = 65556;

std::unique_lock<std::mutex> lock_port_path()
{
    fpga_manage* m = fpga_manage::p_fpga_manage;
    return m ? std::unique_lock<std::mutex>(m->port_path_mutex) : std::unique_lock<std::mutex>();
}

Kx_uart_inout* g_instance = nullptr;
std::mutex g_instance_mutex;
} // namespace

int Kx_uart_inout::read_size()
{
    return (g_dataLen.load() << 10) | 28;
}

Kx_uart_inout* Kx_uart_inout::pInstance()
{
    std::lock_guard<std::mutex> hold(g_instance_mutex);
    if (!g_instance) {
        g_instance = new Kx_uart_inout();
        g_instance->usart1_init(kPcPort, g_BPS.load(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    return g_instance;
}

Kx_uart_inout::Kx_uart_inout(unsigned char link)
    : m_serial(new serial_modules()),
      m_phy(new protocol_phy()),
      m_deal(new message_deal(message_deal::REPLY_LIMIT_SERIAL)),
      m_rx(new Uart_Rec_Send_Data),   // not zeroed: every read writes the bytes it returns
      m_assembly(kAssemblySize),
      m_frame(message_deal::FRAME_BUF_SIZE),
      m_out(message_deal::TX_BUF_SIZE),
      m_link(link)
{
    m_rx->fd = -1;
    m_rx->len = 0;
    fpga_manage::set_passby_link(passby_link(), this,
                                 [this](u32 t, const unsigned char* f, unsigned int n) { return passby_answer(t, f, n); });
}

Kx_uart_inout::~Kx_uart_inout()
{
    fpga_manage::set_passby_link(passby_link(), this, nullptr);
    m_stop = true;
    m_serial->wake();   // ends the thread's wait on the line
    if (m_thread.joinable())
        m_thread.join();
    delete m_deal;
    delete m_phy;
    delete m_serial;
}

unsigned char Kx_uart_inout::passby_link() const
{
    return m_link == 5 ? fpga_manage::kPassbySerial : fpga_manage::kPassby4G;
}

int Kx_uart_inout::open_port(int port, int speed, int flags)
{
    m_fd = m_serial->serial_init(port, speed, flags);
    return m_fd;
}

int Kx_uart_inout::usart1_init(int port, int speed, int flags)
{
    if (open_port(port, speed, flags) < 0)
        return 0;   // no line, no thread: the link is silent
    try {
        m_thread = std::thread(&Kx_uart_inout::receive_thread, this);
    } catch (...) {
        writeLogMsg(LOG_ERROR, "create uart receive_thread failed");
        return 255;
    }
    return 0;
}

void* Kx_uart_inout::receive_thread(void* arg)
{
    Kx_uart_inout* self = static_cast<Kx_uart_inout*>(arg);
    if (!self)
        return nullptr;
    while (!self->m_stop) {
        // Blocks in poll while the line is quiet (bytes or the destructor end the wait); a
        // passthrough waiting for its card is polled often.
        self->receive_pass(self->m_pending == 1 || self->m_later->owing() ? protocol_phy::PASSBY_POLL_MS : kIdleWaitMs);
    }
    return nullptr;
}

void Kx_uart_inout::receive_pass(int wait_ms)
{
    if (m_fd >= 0) {
        m_rx->fd = m_fd;
        int got = m_serial->recv_uart_data(m_rx.get(), read_size(), wait_ms);
        if (got > 0)
            scan(m_rx->data, got);
    }
    send_step();
}

int Kx_uart_inout::feed_bytes(const unsigned char* data, int len)
{
    int closed = data ? scan(data, len) : 0;
    send_step();
    return closed;
}

void Kx_uart_inout::reset_assembly()
{
    m_index = 0;
    m_inFrame = false;
}

int Kx_uart_inout::scan(const unsigned char* data, int len)
{
    int closed = 0;
    for (int i = 0; i < len; ++i) {
        unsigned char b = data[i];
        if (b == 0xA5) {
            m_assembly.data()[0] = 0xA5;
            m_index = 1;
            m_inFrame = true;
            continue;
        }
        if (!m_inFrame)
            continue;   // noise between frames, a stray 0x5A included
        if (m_index + 1 > kAssemblySize - 1) {
            reset_assembly();   // longer than any frame the line carries
            continue;
        }
        m_assembly.data()[m_index++] = b;
        if (b == 0x5A) {
            // Every frame of the read is answered, one after the other.
            handle_frame();
            reset_assembly();
            send_step();
            ++closed;
        }
    }
    return closed;
}

void Kx_uart_inout::handle_frame()
{
    unsigned char* frame = m_frame.data();
    unsigned char done = 0;
    unsigned int n = m_phy->data_transf_meaning(m_assembly.data(), frame, m_index, &done);
    // Handlers that look past a short frame, and reply bytes a handler does not fill, are
    // zeros, never an earlier request's bytes (possibly another PC's); what the handler
    // fills itself is left to it.
    m_frame.scrubPast(n, 10, n > 10 ? message_deal::reply_filled(frame, n - 1) : 0);
    if (!protocol_phy::frame_ok(frame, n, done))
        return;   // dropped without a reply

    // The PC's line and the 4G module's both reach the cards; the answer goes back on the
    // line that asked.
    if (protocol_phy::is_passby_frame(frame)) {
        {
            std::unique_lock<std::mutex> path = lock_port_path();
            abandon_wait();
            {
                // Nothing queued before this frame is its answer.
                std::lock_guard<std::mutex> hold(m_tx_mutex);
                m_tx.clear();
            }
            // One line, one PC: its requests take their turns with the other links' PCs.
            m_ticket = fpga_manage::pass_through(passby_link(), 0, n, frame, G_timeTicks.load());
            m_pending = m_ticket != 0 ? 1 : 0;
        }
        if (frame[9] == 2) {
            // The acknowledgement is written with the port-path lock let go (the line may
            // take seconds). The card's answer, handed over meanwhile, waits on the transmit
            // list, which only this thread sends, after this: it cannot overtake it.
            unsigned int m = m_phy->build_passby_ack(frame, m_out.data());
            m_frame.reached(12);   // the acknowledgement is built over the frame
            auto ack = std::make_unique<Uart_Rec_Send_Data>();
            if (m <= sizeof ack->data) {
                std::memcpy(ack->data, m_out.data(), m);
                ack->len = int(m);
                ack->fd = m_fd;
                m_serial->uart_send(*ack);
            }
        }
        pc_cmd_time = G_timeTicks.load();
    } else {
        {
            std::unique_lock<std::mutex> path = lock_port_path();
            abandon_wait();
            m_later->abandon(0);   // nor is a store's answered later, which its PC gave up on
            m_pending = 2;
            // A card's answer queued earlier is not this frame's reply, also when the
            // frame has none.
            std::lock_guard<std::mutex> hold(m_tx_mutex);
            m_tx.clear();
        }
        // One line, one peer: the handler's peer stays 0.
        m_deal->later = LaterReplies::sender(m_later, 0);
        int r = m_deal->message_group_deal(frame, n - 1, m_link);
        if (r == message_deal::kLater) {
            m_later->owe();
            r = 0;
        }
        m_frame.reached(64 + unsigned(std::max(r, 0)));
        if (r > 0 && unsigned(r) + 11 <= message_deal::FRAME_BUF_SIZE) {
            unsigned int m = m_phy->build_reply(frame, unsigned(r), m_out.data());
            set_transmit(m_out.data(), m);
        }
    }
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
}

void Kx_uart_inout::send_step()
{
    // Replies owed for stores go out as a reply does, in the order they came.
    for (LaterReplies::Reply& r : m_later->take()) {
        const unsigned int m = m_phy->build_reply(r.frame.data(), r.len, m_out.data());
        auto rec = std::make_unique<Uart_Rec_Send_Data>();
        if (m > sizeof rec->data)
            continue;
        std::memcpy(rec->data, m_out.data(), m);
        rec->len = int(m);
        rec->fd = m_fd;
        std::lock_guard<std::mutex> hold(m_tx_mutex);
        m_tx.push_back(std::move(rec));
    }
    if (m_pending == 1) {
        bool answered = false;
        {
            std::unique_lock<std::mutex> path = lock_port_path();
            fpga_manage* m = fpga_manage::p_fpga_manage;
            if (m)
                m->reg_IRQ_Dealwith(0, 0);
            // Only the card's answer fills the list now; the shared ready flag may already
            // have been cleared by another link that sent its own.
            if (transmit_count() > 0) {
                answered = true;
                m_pending = 0;
                m_ticket = 0;
                if (m)
                    m->answer_ready = 0;
            } else if (!fpga_manage::passby_waiting(m_ticket)) {
                KEL_TRACE("\n card answer time-out, serial\n");
                m_pending = 0;   // its wait ended without an answer
                m_ticket = 0;
            }
        }
        // The line is written with the port-path lock let go: a slow or stopped line holds
        // up nobody else's cards.
        if (answered)
            send_uart_data();
    } else if (m_pending == 2) {
        if (transmit_count() > 0) {
            send_uart_data();
            m_pending = 0;
        }
    }
}

void Kx_uart_inout::abandon_wait()
{
    if (m_pending == 1)
        fpga_manage::withdraw_passby(m_ticket);
    m_ticket = 0;
    m_pending = 0;
}

size_t Kx_uart_inout::transmit_count()
{
    std::lock_guard<std::mutex> hold(m_tx_mutex);
    return m_tx.size();
}

void Kx_uart_inout::set_transmit(const unsigned char* data, unsigned int len)
{
    if (len > sizeof(Uart_Rec_Send_Data::data))
        return;   // the handlers keep serial replies below this; never cut a frame
    auto rec = std::make_unique<Uart_Rec_Send_Data>();
    std::memcpy(rec->data, data, len);
    rec->len = int(len);
    rec->fd = m_fd;
    std::lock_guard<std::mutex> hold(m_tx_mutex);
    m_tx.clear();
    m_tx.push_back(std::move(rec));
}

int Kx_uart_inout::send_uart_data()
{
    // Taken under the list's lock and written after it: the FPGA manager hands a card's
    // answer over under its port-path lock and then takes this one, so it never waits for
    // the line.
    std::list<std::unique_ptr<Uart_Rec_Send_Data>> out;
    {
        std::lock_guard<std::mutex> hold(m_tx_mutex);
        out.swap(m_tx);
    }
    if (out.empty())
        return 0;
    for (const auto& rec : out)
        m_serial->uart_send(*rec);
    pc_cmd_valid = 1;
    pc_cmd_time = G_timeTicks.load();
    return 0;
}

bool Kx_uart_inout::passby_answer(unsigned int ticket, const unsigned char* frame, unsigned int len)
{
    // Only a link that still waits takes an answer: one that arrives after the wait was
    // abandoned would go out in place of a later reply.
    if (m_pending != 1 || ticket == 0 || ticket != m_ticket)
        return false;
    if (!frame || protocol_phy::escaped_size_max(len) > sizeof(Uart_Rec_Send_Data::data))
        return false;
    std::vector<unsigned char> out(protocol_phy::escaped_size_max(len));
    // Escaping needs no state of the link's unescaper, so it is safe from the FPGA thread.
    protocol_phy phy;
    unsigned char flag = 0;
    unsigned int m = phy.data_re_transf_meaning(out.data(), const_cast<unsigned char*>(frame), len, &flag);
    set_transmit(out.data(), m);
    return true;
}
