#pragma once
// termios set-up and RS-485 direction switching for the board's serial ports. The PC link
// (port 2) and the 4G module's link (port 1) each own one of these.

#include <set>

// One serial chunk: a received read or a queued reply.
struct Uart_Rec_Send_Data {
    unsigned char data[65556];
    int fd;
    int len;
};

class serial_modules {
public:
    serial_modules();
    ~serial_modules();

    // Opens "/dev/ttyS<port>" and adds its descriptor to the set; the descriptor, or the
    // negative result of ttyS_Open.
    int serial_init(int port, int speed, int flags);
    int ttyS_Open(int port, int speed, int flags);
    int UartSetParity(int fd, int databits, int stopbits, int parity);
    int UartSetSpeed(int fd, int speed);

    // Waits up to wait_ms for any descriptor of the set; when rec->fd is readable reads up
    // to n bytes into rec->data and returns the count; -1 when nothing was read (also when
    // wake() ended the wait).
    int recv_uart_data(Uart_Rec_Send_Data* rec, int n, int wait_ms = 0);
    // Half-duplex send: RTS off, 2 ms, the whole record written and drained, RTS on again.
    // Waits for the line at most send_time_ms. Returns the number of bytes written, -1 when
    // rec.fd is below 1 or nothing went out.
    int uart_send(const Uart_Rec_Send_Data& rec);
    // How long a send of len bytes on line fd waits for the line at most: its time at the
    // line's rate and a second more.
    static int send_time_ms(int fd, int len);

    const std::set<int>& descriptors() const { return m_fds; }
    // Ends a wait in recv_uart_data at once (from any thread): a link's owner stopping its
    // thread need not wait out the time-out.
    void wake();

private:
    std::set<int> m_fds;
    int m_wake = -1;   // eventfd polled with the lines; -1 if it could not be made
};
