#pragma once
#include <cstdint>

// The PC frame on the wire and the helpers every link shares.
//
// Unescaped frame (little-endian fields):
//   [0-1] destination, [2-3] source, [4-5] echoed, [6] sub-device mode, [7] sub-device
//   number, [8] echoed, [9] command group, [10 .. n-2] data, [n-1] XOR of bytes 0 .. n-2.
// On the wire: 0xA5 0xA5 0xA5, the escaped frame, 0x5A; inside the frame 0xA5 -> A6 02,
// 0xA6 -> A6 01, 0x5A -> 5B 02, 0x5B -> 5B 01, so 0xA5 and 0x5A only ever mark the ends.
//
// Every link owns one protocol_phy; the object is not shared between threads.
class protocol_phy {
public:
    // Header and check byte: nothing shorter is a frame (it is dropped before its check
    // byte is even computed).
    static constexpr unsigned MIN_FRAME_LEN = 11;
    // How long a link waits for a receiving card's answer to a passed-through frame
    // (10 ms ticks) before it gives up and serves the frames queued behind it, and how
    // often it polls for that answer meanwhile (ms).
    static constexpr unsigned PASSBY_WAIT_TICKS = 300;
    static constexpr int PASSBY_POLL_MS = 10;

    protocol_phy();
    ~protocol_phy();

    // Exchanges destination (bytes 0-1) and source (bytes 2-3) in place.
    void swap_phy_head(unsigned char* frame);

    // Unescapes one received buffer into out (out must hold len bytes; unescaping never
    // grows). Returns the bytes written (frame with its check byte); *done = 1 when the
    // closing 0x5A was seen. Every 0xA5 restarts the frame; everything after the first
    // 0x5A is ignored.
    unsigned int data_transf_meaning(unsigned char* in, unsigned char* out, unsigned int len,
                                     unsigned char* done);

    // Escapes len frame bytes into out as A5 A5 A5, escaped bytes, 5A and returns the count
    // written (out must hold escaped_size_max(len) bytes). flag is set to 0.
    unsigned int data_re_transf_meaning(unsigned char* out, unsigned char* in, unsigned int len,
                                        unsigned char* flag);

    // --- shared by the links (the same steps on UDP, TCP and RS-485) ---

    // Largest escaped size of len frame bytes.
    static constexpr unsigned int escaped_size_max(unsigned int len) { return 4 + 2 * len; }
    // Exact escaped size of len frame bytes (with the three openers and the closer).
    static unsigned int escaped_size(const unsigned char* frame, unsigned int len);
    // Escaped size of the reply a handler left in frame (r data bytes from byte 10), check
    // byte included, before build_reply (the address swap does not change the XOR).
    static unsigned int reply_escaped_size(const unsigned char* frame, unsigned int r);
    // Whether that reply stays within limit escaped bytes; counted only when it could exceed it.
    static bool reply_fits(const unsigned char* frame, unsigned int r, unsigned int limit);

    // An unescaped frame of n bytes is accepted when it was closed, has at least a header
    // and a check byte, and its last byte is the XOR of the others.
    static bool frame_ok(const unsigned char* frame, unsigned int n, unsigned char done);

    // A frame for a receiving card behind the LED outputs: destination below 0xF000 and
    // source 0xF010.
    static bool is_passby_frame(const unsigned char* frame);
    // Whether a raw (escaped) frame of len bytes is one for a receiving card, by its header.
    static bool is_passby_wire(const unsigned char* raw, unsigned int len);

    // Finishes a handler's reply of r data bytes (from byte 10) in frame: swaps the
    // addresses, appends the check byte at r + 10 and escapes the r + 11 bytes into out.
    // frame must hold r + 11 bytes, out escaped_size_max(r + 11). Returns the escaped size.
    unsigned int build_reply(unsigned char* frame, unsigned int r, unsigned char* out);

    // The immediate acknowledgement of a passed-through frame whose byte 9 is 2: header
    // swapped, bytes 4-9 kept, [10] = 0, [11] check byte; escaped into out (at least 28
    // bytes). Returns the escaped size.
    unsigned int build_passby_ack(unsigned char* frame, unsigned char* out);

private:
    unsigned char m_state;   // unescaping state within one call
};
