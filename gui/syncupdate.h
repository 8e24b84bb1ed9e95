#pragma once
// The one consumer of change notifications. KelRamPara::sig_update_para(int) and
// UsbServer::sig_usb_update(int) are connected to para_sync, which runs on the GUI thread:
// keypad LEDs, then the refresh of the current screen (by g_page_focus), the user-mode
// save request (RAM 868), the user-mode file re-synchronisation (code 2), the saving of
// bytes 768 to 4095 to "/data/ram_device_info" when they differ from the saved copy (on the
// block's save thread), and the network defaults (code 3).
//
// Codes: 1 settings applied, 2 user-mode files to re-synchronise, 3 network defaults,
// 11 output links, 12 input signal, 99 receiving cards, 100/101/102 USB added/removed/disk
// ready, 103 alias names received, 104 USB upgrade step, 105/106 firmware transfer start/end
// (keypad report only).
#include <QObject>
#include <atomic>
#include <cstdint>

class SyncUpdate : public QObject {
    Q_OBJECT
public:
    static SyncUpdate* pInstance();
    static SyncUpdate* p_SyncUpdate;

    // Builds the keypad's 5-byte LED report and sends it when it differs from the last one
    // delivered.
    void update_usb_keyLed();
    // The report for the present state of the block, g_image_current and g_update_flag.
    static void build_key_led(uint8_t report[5]);

    const uint8_t* key_led() const { return keyLed; }

    // What para_sync asks of the store thread after a notification's apply (no screen
    // touched): the user-mode save a PC asked for, the mode files' re-sync (code 2), the
    // block's save. Any thread; the object is made on the GUI thread first.
    void request_stores(int code);

public slots:
    void para_sync(int code);
    // A mode save made on the store thread, shown on the GUI thread: the slots drawn again,
    // and the operator told of a save that was not stored.
    void mode_save_shown();

private:
    explicit SyncUpdate(QObject* parent = nullptr);
    void refresh_page(int code);
    void retext_screens();
    // On the store thread: 0 saved or nothing to save, 1 not stored, 2 waits for an apply.
    static int save_user_mode_request();
    void clear_stale_save_request();
    void slots_changed();
    void network_defaults();

    uint8_t keyLed[5];
    // Saves not stored since the GUI thread last showed one.
    std::atomic<int> modeSavesFailed{0};
};
