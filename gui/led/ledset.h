#pragma once
// The LED size screen (page 13, opened from the output menu): the width and height of the
// LED screen in pixels, entered on the shared keypad and corrected at once to the limits.
// Apply stores the size, no splicing and both outputs covering the whole LED area; a new
// size also makes window 0 fill it, closes windows 1 to 5 and starts the LED-parameter
// hand-shake with the FPGA manager.

#include "gui/drawn_block.h"
#include "gui/kel_keyboard.h"

#include <QDialog>
#include <QString>
#include <cstdint>

namespace Ui {
class ledset;
}

class ledset : public QDialog {
    Q_OBJECT
public:
    // Limits of the entries: each side 64 to 8188 pixels; a width entry keeps the area
    // within 6,553,600 pixels, a height entry within 13,000,000.
    static constexpr int kMinSide = 64;
    static constexpr int kMaxSide = 8188;
    static constexpr int kWidthArea = 6553600;
    static constexpr int kHeightArea = 13000000;

    explicit ledset(QWidget* parent = nullptr);
    ~ledset() override;

    void para_init();
    void menulist_init();
    void language_changed();
    void syncUpdate();
    void on_Button_apply1_clicked();

    Ui::ledset* ui;
    uint8_t ui_select = 0;
    QWidget* line_widget = nullptr;
    QWidget* button_widget = nullptr;
    QWidget* menulist[4] = {};
    QString line_names[2];
    QString edit_name;
    QString style_field;
    QString style_field_focus;
    QString style_button;
    QString style_button_focus;
    kel_keyboard keyboard;
    DrawnBlock drawn_;

public slots:
    void slot_Button_back_clicked();
    void confirmString(QString text);
    void show_numberkeyboard_ui(QString text);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void move_focus(int step);
};

extern ledset* g_ledset;
