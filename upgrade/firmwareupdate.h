#pragma once
// The firmware-update progress dialog: shown over every screen while a firmware image
// arrives (the PC file transfer opens it through MainWindow::update_start and closes it
// through MainWindow::update_over). The 10 ms tick animates it while g_update_flag is set.

#include <QDialog>

class QLabel;

class FirmwareUpdate : public QDialog {
    Q_OBJECT
public:
    static constexpr int kDots = 6;
    static constexpr int kTicksPerStep = 25;   // a quarter second per step of the animation

    explicit FirmwareUpdate(QWidget* parent = nullptr);
    ~FirmwareUpdate() override;
    void language_changed();
    // One tick of the animation.
    void update_time_deal();

    QLabel* label_title;
    QLabel* label_dots;
    unsigned ticks = 0;
    int step = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
};

// Creates and shows the dialog (once); closes and deletes it. GUI thread only.
void firmware_update_start();
void firmware_update_over();

extern FirmwareUpdate* g_move_update;
