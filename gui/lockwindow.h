#pragma once
// The home screen (page 0): LED screen size, brightness, contrast, the audio window's sound,
// the IP address and a miniature of the first four scaler windows. It only shows the live
// parameter block; a touch or OK leads to the main menu, the mode key to the user modes.

#include "core/kelrampara.h"
#include "gui/kel_keyboard.h"

#include <QDialog>
#include <memory>

class QFrame;
class QLabel;

namespace Ui {
class LockWindow;
}

class LockWindow : public QDialog {
    Q_OBJECT
public:
    explicit LockWindow(QWidget* parent = nullptr);
    ~LockWindow() override;

    void para_init();
    bool volume_check();
    void ip_changed();
    void language_changed();
    void image_init();
    void syncUpdate();
    bool eventFilter(QObject* watched, QEvent* event) override;

    Ui::LockWindow* ui;
    // The window miniature, rebuilt by every image_init, and the labels of its last build
    // (null where a window has no such label).
    QFrame* image_frame = nullptr;
    QLabel* image_tile[4] = {};
    QLabel* image_name[4] = {};
    QLabel* image_state[4] = {};
    QLabel* image_freeze[4] = {};
    QLabel* image_select = nullptr;
    kel_keyboard keyboard;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private slots:
    void on_main_Button_clicked();

private:
    // The screen draws from a copy of the block: PC links write the block on their threads,
    // and the block's lock is not held while widgets are built and files read.
    const KelRamPara::BlockCopy& fresh_block();
    std::unique_ptr<KelRamPara::BlockCopy> block_;
    void set_led_size_text();
    void set_volume_icon(bool on);
    // Leaves for the main menu (page 1); showMain also shows the main window.
    void open_main_menu(bool showMain);
};

extern LockWindow* g_lockwindow;
