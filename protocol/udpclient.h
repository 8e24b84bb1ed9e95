#pragma once
// A request/answer client for a local UDP service on port 10020. Nothing in the system
// creates it; its owner supplies the socket.

#include <string>

class UdpClient {
public:
    static constexpr unsigned short SERVICE_PORT = 10020;
    static constexpr int WAIT_MS = 200;       // one wait for the answer
    static constexpr int WAITS = 31;          // empty waits before giving up

    UdpClient();
    ~UdpClient();

    // Sends the request's bytes to the service and waits for its answer. The number of
    // bytes received (the request then holds them, reply their text up to the first zero
    // byte), a negative receive result, or -1 without a socket or without an answer.
    int udpSendData(std::string* request, std::string& reply);

    // The UDP socket; -1 (or -2) when there is none. The constructor opens nothing and the
    // destructor closes nothing: the owner does both.
    int m_socket = -1;
    // WAIT_MS; a test of the time-out shortens it.
    int wait_ms = WAIT_MS;
};
