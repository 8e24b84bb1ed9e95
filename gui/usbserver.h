#pragma once
#include <QList>
#include <QObject>
#include <atomic>
#include <mutex>
#include <pthread.h>
#include <string>
#include <vector>

// Watches the kernel's hot-plug events and turns them into the change codes of the refresh
// slot: 100 a device was added, 101 a device was removed, 102 the first USB disk's partition
// is ready to be read (at least 3 s after the USB storage driver is present).
class UsbServer : public QObject {
    Q_OBJECT
public:
    static UsbServer* p_UsbServer;
    static UsbServer* pInstance();
    // Tests make their own watcher and drive it without its thread.
    UsbServer() : QObject(nullptr) {}
    ~UsbServer() override;

    int initialize();                 // 0 when the socket is open and the thread runs, else 255
    int open_socket();                // 0 when the event socket is open, else 255
    static void* acceptThread(void* arg);
    int recvData();                   // one poll of the socket: 255 when the poll failed, else 0
    // Hands code to the GUI thread, where sig_usb_update(code) is emitted; 1. At most one
    // hand-over is pending at a time: codes that come while one is pending join it (an add
    // and a remove replace each other), so a flood of events cannot bury the GUI's queue.
    int usb_signal(int code);
    void unInitialize() {}
    void delete_clinetSocket(int) {}

    // One pass of the listening thread: the storage-ready step while it runs, else one poll.
    void usb_pass();
    // The events a header yields: its add/remove code (or 0) and whether it names a
    // partition of the first SCSI disk being added.
    static void parse_header(const std::string& header, int& code, bool& storage);

    int socket_fd = -1;
    // How long one poll blocks waiting for an event. An event ends it at once, and the thread
    // is never stopped, so this only sets how often an idle watcher wakes for nothing.
    int poll_timeout_ms = 1000;

    // The storage probe gives up after 60 s without the USB storage driver.
    static constexpr unsigned kProbeGiveUpTicks = 6000;
    static constexpr unsigned kReadyDelayTicks = 300;

signals:
    void sig_usb_update(int code);

private:
    void storage_ready_step();
    void deliver_pending();           // on the GUI thread: emits the pending codes in order

    std::mutex m_pending_mutex;
    std::vector<int> m_pending;       // codes not yet emitted, oldest first

    QList<int> m_clients;             // nothing fills it; kept with the watcher's state
    pthread_t m_thread{};
    // The storage-ready step: 0 idle, 1 waiting for the USB storage driver, 2 waiting out
    // the 3 s after it appeared.
    std::atomic<int> m_ready_state{0};
    unsigned m_ready_stamp = 0;
    unsigned m_probe_stamp = 0;
};
