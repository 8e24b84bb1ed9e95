#pragma once
// Page 1: the main menu, built once by main and never deleted (g_mainwindow). It holds the
// four menu entries (device state, input choice, user modes, settings), the key-lock and
// tools buttons, the vertical tool bar (LED screen dark, sound, user-mode recall and save),
// the user-mode bar opened by the last two, the shared number keyboard and toast, and the
// 10 ms tick slot that does all timed GUI work.
//
// Opening a screen from a menu (every screen follows the same steps): close the user-mode
// bar (g_mainwindow->mode_window_close()), create the screen with no parent into its
// global pointer, set g_page_focus to its page, then exec() it (show() for LockWindow,
// MainWindow and CustomMode). Closing: setAttribute(Qt::WA_DeleteOnClose), close(), clear
// the global pointer (only if it still points to this screen), run the parent screen's
// language_changed(), set g_page_focus to the parent's page.
#include "gui/kel_keyboard.h"

#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <cstdint>

namespace Ui {
class MainWindow;
}
class QFrame;
class QLabel;
class QPushButton;
class NumberKeyboard;
class TIP;

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    void menulist_init();
    void language_changed();
    void para_init();
    void ip_changed();
    void syncUpdate();
    void mode_bar_changed();   // the user-mode bar, when up, drawn again from the slots
    // Opens and closes the firmware-update progress dialog; callable from any thread.
    void update_start();
    void update_over();
    void mode_window_close();
    void mode_init();
    void on_usermodesel_clicked(char direction);
    void on_deletewidgetmode_clicked();
    void on_toolusermode_clicked();

    // Opens the home screen over the main menu (the back key of the main menu).
    void open_lockwindow();

    // State read by the refresh dispatcher and by tests.
    uint8_t tip_pending;
    uint8_t ui_select;
    uint8_t mode_index;
    uint8_t l_call_state;
    uint8_t l_save_state;
    uint8_t l_lock_state;
    Ui::MainWindow* form() const { return ui; }
    QWidget* focused_widget() const { return focus_widget_; }
    QWidget* mode_bar() const { return widget_mode; }
    QPushButton* mode_button(int slot) const;
    QLabel* pointer_label() const { return pointer_; }
    bool reboot_issued() const { return reboot_issued_; }
    // Ticks after the reboot command by which a reboot that happened has ended the program.
    static constexpr uint32_t kRebootGoneTicks = 3000;

public slots:
    void on_machinestate_clicked();
    void on_inputchoose_clicked();
    void on_custommode_clicked();
    void on_option_clicked();
    void on_Button_lock_clicked();
    void on_tools_clicked();
    void on_toolButton1_clicked();
    void on_toolButton2_clicked();
    void on_toolButton3_clicked();
    void on_toolButton4_clicked();
    void kel_button_mode_clicked();
    void slot_update_timer_ticks();

public:
    // One sample of the FPGA ageing log (every 3 minutes from the tick).
    void getagelog();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void focus_on(int index);
    void unfocus(int index);
    void open_mode_bar(QPushButton* opener, const QString& activeIcon);
    bool tool_bar_shown() const;
    void place_mode_bar();
    void set_mode_title();
    void open_custommode();
    void set_icon(QPushButton* button, const QString& path, int w, int h);

    Ui::MainWindow* ui;
    kel_keyboard keyboard_;
    QWidget* focus_list_[10];
    QWidget* focus_widget_;
    QWidget* widget_mode;
    QLabel* mode_title_;
    QPushButton* mode_buttons_[16];
    QLabel* pointer_;
    bool reboot_issued_;
    uint32_t reboot_ticks_ = 0;   // the tick the reboot was issued at (a pending upload may defer it)
    QPointer<NumberKeyboard> own_keyboard_;   // the shared keypad and toast built here
    QPointer<TIP> own_tip_;

    QString style_large_;
    QString style_small_;
    QString style_large_focus_;
    QString style_small_focus_;
    QString style_mode_bar_;
    QString style_mode_button_;
    QString style_mode_button_focus_;
};

// The 16 frames of the user-mode bar, in slot order (null while no bar exists).
extern QFrame* g_mode[16];
