#pragma once
// Page 3: what each window shows. Three rows worked with the keys: the window row (one box
// per shown window, then the crop and EDID buttons), the input row (HDMI1, HDMI2, HDMI3,
// DVI with their entry counts and signal icons) and the entries panel of the highlighted
// input (the input itself and its crops, three a page). OK in the panel puts the entry on
// the chosen window (KelRamPara::KelSetImageSource, applied by the scaler) and shows the
// check-mark toast. Opened from the main menu; back returns there, or to the picture layout
// screen when one is open.

#include "gui/drawn_block.h"
#include "gui/kel_keyboard.h"

#include <QDialog>
#include <QString>

class QFrame;
class QLabel;

namespace Ui {
class InputChoose;
}

class InputChoose : public QDialog {
    Q_OBJECT
public:
    explicit InputChoose(QWidget* parent = nullptr);
    ~InputChoose() override;

    void menulist_init();
    void initMenu();
    void TextCreate(char window, char unused);
    void imagemenu();
    void image_select();
    void on_Button_source_clicked();
    void initSource();
    int source_current_check();
    unsigned char get_source_num(unsigned char id);
    void crop_source_num_update();
    void source_name_update();
    void source_check_update();
    void para_source_index_init();
    void para_uiselect_init();
    int kel_button_inputcut_clicked();
    int kel_button_EDID_clicked();
    void input_source_changed(char window);
    // Redraws what differs from what it last drew: on a notification and when the screen
    // comes back to the front (code 0).
    void syncUpdate(int code);
    void language_changed();

    Ui::InputChoose* ui;
    unsigned char ui_select = 0;
    unsigned char ui_seltype = 0;
    unsigned char source_num[4] = {};
    unsigned char image_id = 0;
    unsigned char source_number = 0;
    unsigned char source_listseq = 0;
    unsigned char source_id = 0;
    unsigned char crop_id = 0;
    short source_type = 0;
    unsigned char image_menu_select = 0;
    unsigned char current_page = 0;
    unsigned char max_page = 0;
    unsigned char image_num = 0;
    unsigned char image_list[4] = {};
    QString source_name;
    QString crop_name;
    QFrame* image_frame = nullptr;
    QFrame* image_focus = nullptr;
    QLabel* image_label[4] = {};
    QFrame* frame = nullptr;
    kel_keyboard keyboard;
    DrawnBlock drawn_;
    // The crop number each entry of the panel's page shows (0: the input itself or none).
    int entry_crop[3] = {};

    // The nine style sheets that carry state.
    QString style_focus_active, style_focus_open, style_focus_hidden;
    QString style_button, style_button_focus;
    QString style_frame1_blue, style_frame1_orange;
    QString style_panel_blue, style_panel_orange;

public slots:
    void kel_source_button_clicked();
    void slot_Button_back_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    // The released keys, by the level that holds them (images, image menu, sources).
    void key_left();
    void key_right();
    void key_ok();
    void key_back();
    // The window row's cursor for the window shown at position p of the row.
    int row_position(int window) const;
    int entries_on_page(int entries) const;
};

extern InputChoose* g_inputchoose;
