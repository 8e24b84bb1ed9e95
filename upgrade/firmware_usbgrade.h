#pragma once
// The USB upgrade screen (page 26, opened from the communication menu). It shows what the
// USB hot-plug watcher reports (a device added or removed, the stick's storage ready) and
// hands an upgrade request to the FPGA manager thread (g_usb_grade), which answers with the
// step code 104 when its turn is over. The upgrade of images from the stick is not built:
// the request ends without changing anything, and the screen says so.

#include "gui/settings/settingsscreen.h"

class firmware_usbgrade : public SettingsScreen {
    Q_OBJECT
public:
    explicit firmware_usbgrade(QWidget* parent = nullptr);
    ~firmware_usbgrade() override;
    void language_changed() override;
    // 100 device added, 101 removed, 102 storage ready, 104 the upgrade turn ended.
    void syncUpdate(int code);
    void menulist_back_page();
    void slot_Button_back_clicked() override;
    // Left and Right: nothing while a progress ring exists.
    void menulist_sel_left();
    void menulist_sel_right();
    void on_Button_upgrade_clicked();

    QPushButton* Button_upgrade;
    QLabel* label_state;
    int state_code = 0;   // the last code shown (0: none yet)

signals:
    // Declared for the progress ring; nothing connects or emits it.
    void sig_qround_bar_update(int percent);

protected:
    bool screen_key(int code) override;
    void clear_pointer() override;
};

extern firmware_usbgrade* g_firmware_usbgrade;
