#pragma once
// The output menu (page 6): the LED screen size screen and the output-port status screen,
// with the LED screen size currently set shown beneath them.

#include "gui/kel_keyboard.h"

#include <QDialog>
#include <QString>

class QPushButton;

namespace Ui {
class OutputSet;
}

class OutputSet : public QDialog {
    Q_OBJECT
public:
    static constexpr int kEntries = 2;

    explicit OutputSet(QWidget* parent = nullptr);
    ~OutputSet() override;

    void menulist_init();
    void language_changed();
    void syncUpdate();
    void slot_Button_back_clicked();

    Ui::OutputSet* ui;
    unsigned char ui_select = 0;
    QWidget* focus_widget = nullptr;
    QPushButton* menulist[kEntries] = {};
    QString style_focus;
    QString style_normal;
    kel_keyboard keyboard;

public slots:
    void on_Button_ledset_clicked();
    void on_Button_lanset_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
};

extern OutputSet* g_outputset;
