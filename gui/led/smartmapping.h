#pragma once
// The smart screen set-up dialog (page 24, opened from the settings menu): a function list
// on the left (shortcut set-up, scan-parameter loading, parameter curing, mapping switch)
// and a stack of eight pages on the right. The functions hand receiving-card jobs to the
// FPGA manager (g_send_para) and show their progress with the shared progress ring, fed
// by this dialog's sig_qround_bar_update. While the ring exists the dialog starts no job,
// ignores Back, the mode key and its function entries, so it stays open for the job.

#include "gui/kel_keyboard.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <cstdint>

class QPushButton;

namespace Ui {
class SmartMapping;
}

class SmartMapping : public QDialog {
    Q_OBJECT
public:
    static constexpr int kFunctions = 4;
    static constexpr int kMaxFiles = 100;
    // Stack pages.
    enum { kPageShortcut = 0, kPageLoadScan = 4, kPageParaweld = 6, kPageMapping = 7 };

    explicit SmartMapping(QWidget* parent = nullptr);
    ~SmartMapping() override;

    void menulist_init();
    void menulist_main_sel();
    void language_changed();
    void syncUpdate(int code);
    void Button_back_clicked();
    void button_select(QPushButton* button);
    void menulist_fuc_sel_default();

    // Scan-parameter files: the stored ones ("/data/smartmapping"), then the USB stick's
    // ("/mnt/usb1/"), names ending in "kxfile", at most 100 in all.
    void get_file_list_smartpath();
    void get_file_list_usbpath();

    // Parameter curing (page 6) and mapping switch (page 7).
    void menulist_paraweld_page1_init();
    void menulist_paraweld_button_ok_page();
    void menulist_paraweld_back_page();
    void menulist_mapping_page1_init();
    void menulist_mapping_button_ok_page();
    void menulist_mapping_back_page();
    void language_for_paraweld_page6();
    void language_for_mapping_onoff_page7();

    // Hands a job to the FPGA manager: only when none runs and no ring is shown; the ring
    // is created and connected first, the job code stored last. false when refused.
    bool start_job(uint8_t code);
    // The PC protocol's close after a received scan-parameter file or a deletion: queued to
    // the GUI thread, where the open dialog runs Button_back_clicked (nothing while a job runs).
    static void pc_close();

    Ui::SmartMapping* ui;
    uint8_t menu_index = 0;
    uint8_t menu_entered = 0;
    uint8_t scan_file_avail = 0;
    uint8_t shortcut_step = 0;
    uint32_t file_page_open = 0;
    uint8_t smart_file_num = 0;
    uint8_t total_file_num = 0;
    QStringList file_list;
    QPushButton* menu_list[kFunctions] = {};
    QPushButton* menu_focus = nullptr;
    QPushButton* button_selected = nullptr;
    QString style_normal;
    QString style_focused;
    QString style_disabled;
    QString style_entered;
    kel_keyboard keyboard;

signals:
    void sig_qround_bar_update(int percent);

public slots:
    void on_Button_shortcut_clicked();
    void on_Button_loadscan_clicked();
    void on_Button_paraweld_clicked();
    void on_Button_mapping_clicked();
    void on_Button_confirm_clicked();
    void on_Button_mapping_state_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void move_in_list(int step);
    void enter_function();
    void set_loadscan_style();
    void list_scan_files(const QString& folder, int start);
};

extern SmartMapping* g_smartmapping;
