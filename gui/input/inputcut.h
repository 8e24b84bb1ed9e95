#pragma once
// Page 7: the crops of the inputs. Four tabs (HDMI1, HDMI2, HDMI3, DVI with their item
// counts); under the current tab the input itself and its crops, six a page, with an add
// button on page 0. OK on the add button or on a crop opens the edit panel (X, Y, W, H
// through the number keypad; Delete, Cancel, OK). OK stores the crop through the KelRamPara
// crop operations once it lies within the input; the scaler applies it. Opened from the
// settings menu and from the input selection screen, which back returns to.

#include "gui/drawn_block.h"
#include "gui/kel_keyboard.h"

#include <QDialog>
#include <QFont>
#include <QString>

class QFrame;
class QLabel;
class QPushButton;

namespace Ui {
class InputCut;
}

class InputCut : public QDialog {
    Q_OBJECT
public:
    explicit InputCut(QWidget* parent = nullptr);
    ~InputCut() override;

    void language_changed();
    void syncUpdate(int code);
    void menulist_init();
    void crop_source_num_update();
    unsigned char get_source_num(unsigned char id);
    void source_name_update();
    int source_current_check();
    void kel_button_input_clicked();
    void source_init();
    void para_changed_over();
    void kel_sel_info(int position, int mode, int n);
    // Whether the panel's values make a crop of the current input; when not, says why.
    bool crop_values_ok(QString* why) const;

    Ui::InputCut* ui;
    unsigned char ui_select = 0;
    unsigned char ui_seltype = 0;
    unsigned char ui_tab_backup = 0;
    unsigned char ui_list_backup = 0;
    unsigned char source_num[4] = {};
    unsigned char current_pag = 0;
    unsigned char max_pag = 0;
    unsigned char source_id = 1;
    unsigned char crop_number = 0;
    unsigned char panel_n = 0;        // the item count the edit panel's positions start from
    unsigned char crop_open = 0;      // the number (1-40) of the crop the changing panel holds
    unsigned char panel_level = 0;    // the level (2 add, 3 change) the panel was opened at
    int crop_held[4] = {};            // the held crop's x, y, width, height when the panel opened
    bool crop_lost = false;           // the panel saw its crop gone or changed: it writes no more
    bool crop_gone = false;           // ... and which of the two
    QString source_name;
    QString crop_suffix;
    QString crop_name;
    QFont card_font;
    QFrame* frame_select = nullptr;
    QFrame* frame_source = nullptr;
    QPushButton* button_add = nullptr;
    QPushButton* button_cancel = nullptr;
    QPushButton* button_ok = nullptr;
    QPushButton* button_delete = nullptr;
    QLabel* label_refuse = nullptr;   // why the panel's OK was refused
    QString style_select_tabs, style_select_inner, style_source_tabs, style_source_inner;
    QString style_field, style_field_focus;
    QString field_names[4];
    kel_keyboard keyboard;
    DrawnBlock drawn_;

public slots:
    void slot_Button_back_clicked();
    void kel_button_source_clicked();
    void kel_button_add_clicked();
    void kel_button_cancel_clicked();
    void kel_button_ok_clicked();
    void kel_button_delete_clicked();
    void show_numberkeyboard_ui(QString name);
    void confirmString(QString text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    // The released keys, by the level that holds them; n: the items of the input.
    void key_move(int step, int n);
    void key_ok(int n);
    void key_back(int n);
    QWidget* panel_item(int j) const;
    // The list position of item k (page and position).
    void select_item(int k);
    int selected_item() const;
    QString name_prefix() const;
    // The list place (k) of the crop the changing panel holds, looked up afresh; 0 when a PC
    // has deleted it. The panel's crop is its number, not its place: a deletion moves places.
    int open_crop_place();
    // At the changing panel: false, with the reason shown, when its crop is gone or was
    // changed by someone else since the panel opened; once false, false for good.
    bool open_crop_there();
    // The place (0-39) among the 40 crop records of the held crop (its input and number), or
    // -1; *changed when its rectangle is no longer the one the panel opened with. Given the
    // records under the block's lock or a copy of them.
    int held_crop_record(const uint8_t* records, bool* changed) const;
};

extern InputCut* g_inputcut;
