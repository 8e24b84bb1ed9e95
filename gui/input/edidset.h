#pragma once
// Page 8: the EDID timing each input announces to its source (width, height, 60 or 30 Hz).
// Left and right pick the input (HDMI1, HDMI2, HDMI3, DVI); OK opens the edit area (W and H
// through the number keypad, the refresh rate with left/right, Delete, Cancel, Save). Save
// checks the values and stores them in the input's EDID record (KelRamPara::KelSetEDIDPara);
// the scaler's apply passes the request to the input side, which rewrites the input's EDID
// EEPROM. Opened from the input selection screen, which back returns to.

#include "gui/drawn_block.h"
#include "gui/kel_keyboard.h"

#include <QDialog>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;

namespace Ui {
class EDIDset;
}

class EDIDset : public QDialog {
    Q_OBJECT
public:
    // The sizes an EDID timing descriptor can hold (12 bits, never 0).
    static constexpr int kMaxSize = 4095;

    explicit EDIDset(QWidget* parent = nullptr);
    ~EDIDset() override;

    void syncUpdate();
    void language_changed();
    // Stores the edit area's values; false (nothing stored, the reason shown) when a value
    // is out of range.
    bool kel_button_ok_clicked();
    void kel_button_cancel_clicked();
    void on_Button_freq_clicked();
    void menulist_init();
    void source_init();

    Ui::EDIDset* ui;
    unsigned char ui_select = 0;
    unsigned char ui_line_select = 0;
    unsigned char ui_seltype = 0;
    // At the open edit: false, with the reason shown, when the input's EDID timing is no
    // longer the one the edit opened with (a PC changed it).
    bool edid_unchanged();
    unsigned char ui_freq_select = 0;
    unsigned char ui_freq_backup = 0;
    QString rate_backup;              // the rate shown when the choice opened (a PC's 50, say)
    QWidget* line_widget = nullptr;
    QWidget* button_widget = nullptr;
    QWidget* menulist[5] = {};
    QString line_names[2];
    int source_id = 1;
    QString source_name;
    QFrame* frame_select = nullptr;
    QFrame* frame_source = nullptr;
    QLabel* card_type = nullptr;     // the chosen input's card: its type icon
    QLabel* card_format = nullptr;   // and its timing
    QPushButton* button_delete = nullptr;
    QPushButton* button_cancel = nullptr;
    QPushButton* button_save = nullptr;
    QLabel* label_refuse = nullptr;   // why a save was refused
    kel_keyboard keyboard;
    DrawnBlock drawn_;
    int edid_opened[3] = {};          // the input's width, height and rate when the edit opened

    QString style_field, style_field_focus, style_button, style_button_focus, style_rate_choice;
    QString style_select_active, style_select_inactive, style_card_active, style_card_inactive;

public slots:
    void kel_button_input_clicked();
    void kel_button_source_clicked();
    void show_numberkeyboard_ui(QString name);
    void confirmString(QString text);
    void slot_Button_back_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    // The released keys, by the level that holds them (inputs, fields, refresh rate).
    void key_move(int step);
    void key_ok();
    void key_back();
    QWidget* line_item(int index) const;
    void focus_line(int index, bool focused);
};

extern EDIDset* g_edidset;
