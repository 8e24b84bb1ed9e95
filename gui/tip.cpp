#include "gui/tip.h"

#include "core/global.h"
#include "gui/kel_keys.h"
#include "gui/textfit.h"
#include "ui_tip.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>

TIP* g_tip = nullptr;

namespace {
constexpr int kTipTicks = 300;   // 3 s of 10 ms ticks
}

TIP::TIP(QWidget* parent) : QDialog(parent), ui(new Ui::TIP), frame_(nullptr), counter_(0)
{
    ui->setupUi(this);
}

TIP::~TIP()
{
    if (g_tip == this)
        g_tip = nullptr;
    delete ui;
}

QString TIP::tip_text(int type)
{
    switch (type) {
    case 3:
        return kel_text("U盘已接入\n请稍候…", "USB driver is connected,please wait...",
                        "Драйвер USB подключен,\nпожалуйста,подождите...", "Usb đã truy cập\nxin vui lòng chờ …",
                        "U盤已接入\n請稍候…");
    case 4:
        return kel_text("U盘已拔出", "USB drive is unplugged.", "USB-накопитель отключен \nот сети.",
                        "USB Thì không kết nối.", "U盤已拔出");
    case 5:
        return kel_text("正在读取中，请稍候…", "Reading the data,pls wait", "Прочитайте данные,\nпожалуйста,подождите",
                        "Đang đọc,xin vui lòng chờ …", "正在讀取中，請稍候…");
    default:
        return QString();
    }
}

QString TIP::not_saved_text()
{
    return kel_text("保存失败!", "Not saved!", "Не сохранено!", "Lưu thất bại!", "保存失敗!");
}

void TIP::tip_create(int type)
{
    if (frame_) {
        delete frame_;
        frame_ = nullptr;
    }
    if (type != 1 && type != 3 && type != 4 && type != 5)
        return;

    if (type == 1) {
        setGeometry(100, 60, 120, 120);
        frame_ = new QFrame(this);
        frame_->setGeometry(0, 0, 120, 120);
        frame_->setStyleSheet(QStringLiteral("background-color:rgb(136, 138, 133);"));
        QLabel* image = new QLabel(frame_);
        image->setObjectName(QStringLiteral("tip_image"));
        image->setGeometry(20, 20, 80, 80);
        image->setPixmap(QPixmap(kel_icon_plain(QStringLiteral("check_180"))));
        image->setScaledContents(true);
        image->raise();
        frame_->show();
        tip_show();
    } else {
        tip_message(tip_text(type));
    }
}

void TIP::tip_message(const QString& message)
{
    delete frame_;
    setGeometry(50, 60, 220, 120);
    frame_ = new QFrame(this);
    frame_->setGeometry(0, 0, 220, 120);
    frame_->setStyleSheet(QStringLiteral("background-color:rgb(136, 138, 133);"));
    QLabel* text = new QLabel(frame_);
    text->setObjectName(QStringLiteral("tip_text"));
    text->setGeometry(5, 5, 200, 100);
    text->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    // 15 px where the message fits the box at that size, as large as fits otherwise.
    kel_fit_text_px(text, message, 15);
    frame_->show();
    tip_show();
}

void TIP::tip_show()
{
    // A toast asked for while one shows only replaces the content; its caller returns at
    // once and the toast keeps the time it has left.
    if (g_tip_flag && isVisible())
        return;
    g_tip_flag = 1;
    exec();
}

void TIP::tip_outtime_deal()
{
    ++counter_;
    if (counter_ >= kTipTicks) {
        hide();
        counter_ = 0;
        g_tip_flag = 0;
        KEL_TRACE("\n tip over! ");
    }
}
