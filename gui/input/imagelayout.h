#pragma once
// Page 9: the settings of one of the four windows at a time (name, source, on/off, position
// and size, mirror, point-to-point mode). Left and right step through the windows and make
// the one shown the selected window of the whole front panel (g_image_current). The screen
// changes no parameter. Opened from the settings menu; back returns there, the mode key
// leaves for the user modes.

#include "gui/kel_keyboard.h"

#include <QDialog>

namespace Ui {
class ImageLayout;
}

class ImageLayout : public QDialog {
    Q_OBJECT
public:
    explicit ImageLayout(QWidget* parent = nullptr);
    ~ImageLayout() override;

    void syncUpdate();
    void language_changed();
    void image_init();
    void image_para_update();
    void menulist_init();
    void mirror_select(int value);

    Ui::ImageLayout* ui;
    unsigned char ui_select = 0;
    kel_keyboard keyboard;

public slots:
    void slot_Button_back_clicked();
    void kel_image_button_clicked() {}

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void step(int direction);
};

extern ImageLayout* g_imagelayout;
