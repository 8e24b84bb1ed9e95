#pragma once
// The TCP client socket of the cloud link: connects with a bounded wait, receives into a
// list of records and sends with a bounded wait. Every failure closes the socket so that
// the owner connects again.

#include "protocol/link_buffer.h"

#include <list>
#include <string>
#include <vector>

class TcpClinet {
public:
    // Every wait of the client (connect, receive, send) ends after this long.
    static constexpr int WAIT_MS = 3000;
    static constexpr unsigned READ_SIZE = 0x1FFFF;

    struct Record {
        std::vector<unsigned char> data;   // up to 0x20000 bytes
        int socket = -1;
    };

    TcpClinet();
    ~TcpClinet();
    TcpClinet(const TcpClinet&) = delete;
    TcpClinet& operator=(const TcpClinet&) = delete;

    int initialize(unsigned char* data, unsigned int len);
    int initialize_cloud();

    // 1 when connected; 0 when a socket is already open (nothing is touched) or the
    // connection failed (the socket is closed again).
    int sockerConnect(const char* ip, unsigned int port);
    // Waits up to wait_ms for data. 0 with a record appended, 0 on a time-out, 0 with
    // *closed = 1 when the server ended the stream, 255 on an error (socket closed).
    int recvData(unsigned char* closed);
    // Sends all len bytes within wait_ms on the connected socket; 0, or 255 (the
    // connection is then closed, except for a null buffer).
    int sendData(const unsigned char* buf, unsigned int len, int socket);
    void Close();
    void unInitialize();

    // WAIT_MS; a test of the time-outs shortens it.
    int wait_ms = WAIT_MS;

    int m_clinetSocket = -1;
    std::list<Record> m_recvList;
    unsigned int m_recvCount = 0;
    std::string m_recvString;   // the owner's reassembly of received text

private:
    LinkBuffer m_readBuf;
};
