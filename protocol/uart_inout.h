#pragma once
// The PC protocol over the RS-485 line of serial port 2: one receive thread that assembles
// frames from the byte stream, answers them and sends the replies with the line turned
// round by RTS.

#include "protocol/later_replies.h"
#include "protocol/link_buffer.h"
#include "protocol/message_deal.h"
#include "protocol/serial_modules.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class protocol_phy;
class message_deal;

class Kx_uart_inout {
public:
    // Read size per pass: (g_dataLen << 10) | 28.
    static int read_size();

    static Kx_uart_inout* pInstance();

    // link: 5 for the PC's RS-485 line, 4 for the 4G module's line (the link number its
    // handler is given); both pass frames for the receiving cards through.
    explicit Kx_uart_inout(unsigned char link = 5);
    ~Kx_uart_inout();
    Kx_uart_inout(const Kx_uart_inout&) = delete;
    Kx_uart_inout& operator=(const Kx_uart_inout&) = delete;

    // Opens the port and starts the receive thread; 0 (also when the port cannot be
    // opened: the link then stays silent), 255 when the thread cannot start.
    int usart1_init(int port, int speed, int flags);
    // Opens the port only: the descriptor, or a negative value.
    int open_port(int port, int speed, int flags);

    static void* receive_thread(void* arg);
    // One pass of the receive thread: waits up to wait_ms for the line, handles every
    // complete frame read so far and sends what is queued.
    void receive_pass(int wait_ms);
    // What receive_pass does with one read: assembles frames across reads, answers every
    // complete one and sends what is queued. Returns the number of frames closed (the fuzz
    // target feeds a byte stream this way).
    int feed_bytes(const unsigned char* data, int len);

    // Sends the transmit list in order and empties it; 0.
    int send_uart_data();

    // The FPGA manager's hand-over of a receiving card's answer (unescaped, with its check
    // byte) to the request with that ticket, under its port-path mutex: while the link
    // waits with that ticket, the escaped answer becomes the only record of the transmit
    // list (true); otherwise it is refused (false).
    bool passby_answer(unsigned int ticket, const unsigned char* frame, unsigned int len);

    int fd() const { return m_fd; }
    unsigned char pending() const { return m_pending; }
    serial_modules* serial() const { return m_serial; }
    size_t transmit_count();

private:
    int scan(const unsigned char* data, int len);
    // The manager's name of this line for card answers.
    unsigned char passby_link() const;
    void reset_assembly();
    void handle_frame();
    void send_step();
    // A frame of the link's own abandons a wait for a card (caller holds the port-path
    // mutex): a late answer must not go out as that frame's reply.
    void abandon_wait();
    // Replaces the transmit list with one record of len bytes (under the transmit mutex).
    void set_transmit(const unsigned char* data, unsigned int len);

    serial_modules* m_serial;
    protocol_phy* m_phy;
    message_deal* m_deal;
    int m_fd = -1;
    std::atomic<unsigned char> m_pending{0};   // 0 none, 1 waiting for a card, 2 own reply
    unsigned m_ticket = 0;                     // the card request waited for (port-path mutex)

    std::unique_ptr<Uart_Rec_Send_Data> m_rx;  // the chunk being read
    std::list<std::unique_ptr<Uart_Rec_Send_Data>> m_tx;   // under m_tx_mutex
    std::mutex m_tx_mutex;
    std::shared_ptr<LaterReplies> m_later = std::make_shared<LaterReplies>();   // replies owed the line's PC

    // Frame assembly across reads.
    LinkBuffer m_assembly;
    unsigned int m_index = 0;
    bool m_inFrame = false;
    LinkBuffer m_frame;                        // unescaped frame; the reply is built over it
    LinkBuffer m_out;                          // escaped reply

    unsigned char m_link;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
