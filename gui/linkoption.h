#pragma once
// The communication menu (page 10): serial-port information, network address and USB
// upgrade. Its buttons answer the keys only; a pointer click does nothing.

#include "gui/kel_keyboard.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

class LinkOption : public QDialog {
    Q_OBJECT
public:
    static constexpr int kEntries = 3;

    explicit LinkOption(QWidget* parent = nullptr);
    ~LinkOption() override;

    void para_init();
    void menulist_init();
    void language_changed();
    void syncUpdate();
    void slot_Button_back_clicked();

    // Openers of the three entries (plain operations: no click reaches them).
    void on_Button_linkcom_clicked();
    void on_Button_linkwlan_clicked();
    void on_Button_firmware_usbgrade_clicked();

    QLabel* label_title;
    QPushButton* Button_com;
    QPushButton* Button_wlan;
    QPushButton* Button_usb;
    unsigned char ui_select = 0;
    QWidget* focus_widget = nullptr;
    QPushButton* menulist[kEntries] = {};
    QString style_normal;
    QString style_focus;
    kel_keyboard keyboard;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
};

extern LinkOption* g_linkoption;
