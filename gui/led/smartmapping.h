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

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QWidget;

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
    // ("/mnt/usb1/"), names whose suffix is "kxfile", at most 100 in all.
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

    // Shortcut set-up wizard (pages 0-3) and the output-port grid it shares with page 4.
    void wlan_init(unsigned char kind, unsigned char unused);
    void line_select(char route);
    void wlan_foucus_style(QPushButton* tab);
    void language_for_shortcutt_page0();
    void language_for_shortcutt_page1();
    void language_for_shortcutt_page2();
    void language_for_shortcutt_page3();
    void menulist_shortcut_page1_init();
    void menulist_shortcut_page2_init();
    void menulist_shortcut_page3_init();
    void menulist_shortcut_page3_button_route_init();
    void menulist_shortcut_button_ok_page();
    void menulist_shortcut_back_page();
    void menulist_shortcut_sel(int step);

    // Scan-parameter loading (pages 4-5).
    void menulist_loadscan_page1_init(uint8_t entered);
    void menulist_loadscan_page1_sel_right();
    void menulist_loadscan_page1_sel_left();
    void menulist_loadscan_page1_sel_default();
    void menulist_loadscan_page1_sel_recovery();
    void menulist_loadscan_page2_init();
    void menulist_loadscan_page2_sel_right();
    void menulist_loadscan_page2_sel_left();
    void menulist_loadscan_page2_sel_default();
    void menulist_loadscan_page2_sel_recovery();
    void menulist_loadscan_button_ok_page();
    void menulist_loadscan_back_page();
    bool leave_file_page();
    void scan_file_list();
    void language_for_loadscan_page4();
    void language_for_loadscan_page5();

    uint8_t port_group = 0;
    uint8_t port_index = 0;
    uint8_t port_saved = 0;
    QFrame* port_grid = nullptr;
    QPushButton* port_buttons[8] = {};
    QFrame* port_frames[8] = {};
    QPushButton* port_tab = nullptr;
    uint8_t step0_focus = 0;
    uint8_t step1_focus = 0;
    uint8_t port_grid_open = 0;
    uint8_t step2_focus = 0;
    uint8_t route_list_open = 0;
    uint8_t route_focus = 0;
    QWidget* step0_list[3] = {};
    QWidget* step1_list[4] = {};
    QWidget* step2_list[7] = {};
    QToolButton* route_list[17] = {};
    QWidget* step_focus_widget = nullptr;

    uint8_t scan_step = 0;
    QWidget* scan_focus_list[3] = {};
    uint8_t scan_port_focus = 0;
    QWidget* scan_focus_widget = nullptr;
    uint8_t scan_grid_open = 0;
    uint8_t scan_port_chosen = 0;
    uint8_t file_num = 0;
    int8_t current_page = 0;
    int8_t page_max = 0;
    uint8_t file_select = 0;
    QFrame* file_frame = nullptr;
    QLabel* file_labels[3] = {};
    QLabel* label_refuse = nullptr;   // why the wizard refused a typed number
    QPushButton* file_buttons[3] = {};
    QString file_names[3];
    QString file_paths[3];
    QPushButton* file_focus_list[2] = {};
    uint8_t file_focus = 0;
    QPushButton* file_focus_widget = nullptr;
    uint8_t file_cursor = 0;
    uint8_t file_buttons_active = 0;
    uint8_t job_started = 0;   // the last job this dialog handed to the FPGA manager
    // The mapping switch's icon as FPGA 0's function register holds it (bit 7 = on).
    void show_mapping_state();

signals:
    void sig_qround_bar_update(int percent);

public slots:
    // The FPGA manager's report that the job ended without doing its work, and why (one of
    // fpga_manage's kJob... reasons): a toast says so.
    void card_job_failed(int why = 0);
    void on_Button_shortcut_clicked();
    void on_Button_loadscan_clicked();
    void on_Button_paraweld_clicked();
    void on_Button_mapping_clicked();
    void on_Button_confirm_clicked();
    void on_Button_mapping_state_clicked();

    void on_Button_next_clicked();
    void on_Button_wlan1_clicked();
    void on_Button_wlan2_clicked();
    void on_Button_wlan3_clicked();
    void on_Button_wlan4_clicked();
    void on_Button_wlan5_clicked();
    void on_Button_wlan6_clicked();
    void on_Button_wlan7_clicked();
    void on_Button_wlan8_clicked();
    void kel_button_wlan_clicked();
    void on_Button_front_2_clicked();
    void on_Button_next_2_clicked();
    void on_Button_front_3_clicked();
    void on_Button_route_clicked();
    void on_Button_route1_clicked();
    void on_Button_route2_clicked();
    void on_Button_route3_clicked();
    void on_Button_route4_clicked();
    void on_Button_route5_clicked();
    void on_Button_route6_clicked();
    void on_Button_route7_clicked();
    void on_Button_route8_clicked();
    void on_Button_route9_clicked();
    void on_Button_route10_clicked();
    void on_Button_route11_clicked();
    void on_Button_route12_clicked();
    void on_Button_route13_clicked();
    void on_Button_route14_clicked();
    void on_Button_route15_clicked();
    void on_Button_route16_clicked();
    void on_Button_cancel_clicked();
    void on_Button_send_clicked();
    void show_numberkeyboard_ui(QString);
    void confirmString(QString text);

    void on_Button_next_5_clicked();
    void on_Button_front_6_clicked();
    void on_Button_load_clicked();
    void kel_button_file_clicked();
    void kel_Button_previous_clicked();
    void kel_Button_next_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    // The released left/right, OK and back keys, by the page that holds them.
    void key_move(int step);
    void key_ok();
    void key_back();
    void move_in_list(int step);
    void enter_function();
    void set_loadscan_style();
    int list_scan_files(const QString& folder, int start);
    void port_tab_clicked(QPushButton* tab, uint8_t group, unsigned char kind);
    void route_chosen(int route);
    void set_focus_style(QWidget* w, bool focused);
    uint8_t rows_on_page() const;
    void set_file_style(int row, int style);
    void loadscan_page1_move(int step);
    // Whether text is a number the cards take for the wizard field; when not, the field's
    // page says which numbers are allowed.
    bool wizard_value_ok(QLineEdit* field, const QString& text);
    // Shows why the wizard refused, on the page (over its step's title).
    void wizard_refuse(QWidget* page, const QString& why);
};

extern SmartMapping* g_smartmapping;
