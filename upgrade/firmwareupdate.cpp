#include "upgrade/firmwareupdate.h"

#include "gui/kel_keys.h"
#include "gui/textfit.h"

#include <QLabel>

FirmwareUpdate* g_move_update = nullptr;

FirmwareUpdate::FirmwareUpdate(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("FirmwareUpdate"));
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setGeometry(0, 0, 320, 240);
    setStyleSheet(QStringLiteral(KEL_STYLE_WINDOW));
    label_title = new QLabel(this);
    label_title->setObjectName(QStringLiteral("label_title"));
    label_title->setGeometry(10, 70, 300, 50);
    label_title->setAlignment(Qt::AlignCenter);
    label_title->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    label_dots = new QLabel(this);
    label_dots->setObjectName(QStringLiteral("label_dots"));
    label_dots->setGeometry(60, 140, 200, 30);
    label_dots->setAlignment(Qt::AlignCenter);
    label_dots->setStyleSheet(QStringLiteral("color: rgb(255,171,84);"));
    QFont dots;
    dots.setPixelSize(kel_lcd_px(14));
    label_dots->setFont(dots);
    language_changed();
    update_time_deal();
}

FirmwareUpdate::~FirmwareUpdate()
{
    if (g_move_update == this)
        g_move_update = nullptr;
}

void FirmwareUpdate::language_changed()
{
    kel_fit_text(label_title,
                 kel_text("固件升级中\n请勿断电", "Updating the firmware\nKeep the power on",
                          "Обновление прошивки\nНе выключайте питание", "Đang cập nhật firmware\nKhông tắt nguồn",
                          "固件昇級中\n請勿斷電"),
                 12, KelFit::LineBox);
}

void FirmwareUpdate::update_time_deal()
{
    if (ticks++ % kTicksPerStep == 0) {
        QString text;
        for (int i = 0; i < kDots; ++i)
            text += i == step ? QChar(0x25CF) : QChar(0x25CB);
        label_dots->setText(text);
        step = (step + 1) % kDots;
    }
}

void FirmwareUpdate::keyPressEvent(QKeyEvent*)
{
    // No key leaves the dialog while an image is written.
}

void FirmwareUpdate::keyReleaseEvent(QKeyEvent*) {}

void firmware_update_start()
{
    if (!g_move_update)
        g_move_update = new FirmwareUpdate(nullptr);
    g_move_update->show();
    g_move_update->raise();
}

void firmware_update_over()
{
    FirmwareUpdate* dialog = g_move_update;
    g_move_update = nullptr;
    if (dialog) {
        dialog->close();
        dialog->deleteLater();
    }
}
