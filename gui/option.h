#pragma once
// The settings menu (page 5): eight icon entries that open the settings screens. Left and
// right move the orange focus frame, OK opens the entry, back returns to the main menu, the
// mode key leaves for the user modes.

#include "gui/kel_keyboard.h"

#include <QDialog>
#include <QImage>
#include <QString>

class QPushButton;

namespace Ui {
class Option;
}

class Option : public QDialog {
    Q_OBJECT
public:
    static constexpr int kEntries = 8;

    explicit Option(QWidget* parent = nullptr);
    ~Option() override;

    void menulist_init();
    void language_changed();
    void syncUpdate();
    // A sub-menu (output, communication) closes itself and hands the keys back to this menu.
    static void return_from_submenu(QDialog* submenu);
    // Closes the open settings menu (the mode key's shortcut leaves it from a sub-menu).
    static void close_menu();
    void slot_Button_back_clicked();

    // Not called by anything in the program.
    int get_file_list_usbpath();
    QImage converToGrayscale(const QImage& image);

    Ui::Option* ui;
    unsigned char ui_select = 0;
    QWidget* focus_widget = nullptr;
    QPushButton* menulist[kEntries] = {};
    QString style_normal;
    QString style_focus;
    kel_keyboard keyboard;

public slots:
    void on_output_set_clicked();
    void on_input_cut_clicked();
    void on_image_layout_clicked();
    void on_link_set_clicked();
    void on_image_quality_clicked();
    void on_test_chart_clicked();
    void on_smart_mapping_clicked();
    void on_AdvanceButton_clicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void open_entry(int index);
};

extern Option* g_option;
