#pragma once
// Page 4: the sixteen user modes. Left and right pick a slot (mode_box), the panel below
// previews what the slot holds (LED size, brightness, contrast, sound, the four windows, or
// the OSD overlay of the mode under More); OK on a saved slot enters the action row
// (Invoke, Delete, More), whose OK runs the action and returns to slot selection. Modes are
// saved elsewhere (the main menu's mode bar, the PC). A top-level widget, shown not modal:
// from the main menu back returns there, after the mode key of another screen it returns to
// a new home screen.

#include "gui/kel_keyboard.h"

#include <cstdint>
#include <string>
#include <vector>

#include <QFont>
#include <QString>
#include <QWidget>

class QLabel;
class kelcontrol;
struct OMENU_PARA;

namespace Ui {
class CustomMode;
}

class CustomMode : public QWidget {
    Q_OBJECT
public:
    explicit CustomMode(QWidget* parent = nullptr);
    ~CustomMode() override;

    void syncUpdate();
    void init();
    void menulist_init();
    void language_changed();
    // The preview of slot g_mode_select: information lines, then the preview area and the
    // action buttons the slot offers.
    void lcd_para_init();
    void image_para_init();
    void color_fill(QLabel* label, char index);
    int get_mode_status();
    void kel_button_selinfo(char op, char index);
    // Draws slot g_mode_select and records it as drawn.
    void preview();
    // False, with the reason shown, when the previewed slot is no longer as drawn.
    bool slot_as_shown();

    // The two lines of the OSD page for an overlay item, in the current language.
    static QString osd_detail_text(const OMENU_PARA& item);
    // "/data/modes/MO" + mode (1-16) as two lower-case hex digits + ".json".
    static QString osd_file_name(int mode);

    Ui::CustomMode* ui;
    kelcontrol* mode_box = nullptr;
    QWidget* widget_preview = nullptr;
    QFont preview_font;
    unsigned char ui_select = 0;
    unsigned char edit_state = 0;
    unsigned char button_select = 0;
    unsigned char button_hidden = 0;
    QString style_focus;
    QString style_normal;
    kel_keyboard keyboard;
    // The previewed mode as drawn: its slot and the current-mode number. A notification or
    // a PC's save, delete or recall redraws what differs; Invoke and Delete act only on
    // the mode as drawn.
    std::vector<uint8_t> shown_slot;
    int shown_current = -1;
    std::string shown_alias;   // the name the alias file gave the mode ("" for none)
    QLabel* label_refuse = nullptr;   // why Invoke or Delete was refused

public slots:
    void on_Button_delete_clicked();
    void on_Button_use_clicked();
    void slot_Button_back_clicked();
    void kel_button_mode_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    // The released keys, for the mode list or the buttons of the mode being edited.
    void key_left();
    void key_right();
    void key_ok();
    void key_back();
    void build_window_page();
    void build_osd_page();
    void go_home();
};

extern CustomMode* g_custommode;
