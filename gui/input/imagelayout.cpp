#include "gui/input/imagelayout.h"

#include "core/alias.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/textfit.h"
#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/option.h"
#include "gui/screen_keys.h"
#include "gui/sourceinfo.h"
#include "ui_imagelayout.h"

#include <QDebug>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPixmap>
#include <array>

ImageLayout* g_imagelayout = nullptr;

namespace {
using P = KelRamPara;

using Record = std::array<uint8_t, P::kLayerSize>;

// A copy of a window's layer record: PC links write the block on their threads.
Record record(int window)
{
    Record r{};
    P::pInstance()->copy_bytes(P::kLayers + P::kLayerSize * window, r.data(), P::kLayerSize);
    return r;
}

constexpr double kFramePt = 7;
} // namespace

ImageLayout::ImageLayout(QWidget* parent) : QDialog(parent), ui(new Ui::ImageLayout)
{
    ui_select = 0;
    ui->setupUi(this);
    ui->label5->hide();
    ui->label6->hide();
    // A mirror value past 3 lights no icon; the form's placeholder must not show instead.
    for (QLabel* icon : {ui->mirror1, ui->mirror2, ui->mirror3, ui->mirror4})
        icon->clear();
    menulist_init();
    // The form's 90 px cannot hold the Vietnamese splicing items at a legible size; the row
    // has the room to the right.
    ui->comboBox_P2P->resize(120, ui->comboBox_P2P->height());
    for (int k = 0; k < 4; ++k)
        ui->comboBox_P2P->addItem(QString());   // named by language_changed
    image_init();
    image_para_update();
    language_changed();
}

ImageLayout::~ImageLayout()
{
    delete ui;
    if (g_imagelayout == this)
        g_imagelayout = nullptr;
}

void ImageLayout::menulist_init()
{
    ui_select = g_image_current;
}

void ImageLayout::language_changed()
{
    kel_fit_text(ui->label_title, kel_text("画面布局", "Screen layout", "Расположение", "Bố cục màn hình", "畫面佈局"), 11);
    kel_fit_text(ui->label_P2P, kel_text("点对点", "DBD", "Пиксель к пикселю", "Điểm tới điểm", "點對點"), kFramePt);
    // The width and height captions may use the gaps after the fields before them.
    ui->label_W->setGeometry(131, 88, 39, 16);
    ui->label_H->setGeometry(213, 88, 45, 16);
    kel_fit_text(ui->label_W, kel_text("宽", "W", "Ширина", "Rộng", "寬"), kFramePt);
    kel_fit_text(ui->label_H, kel_text("高", "H", "Высота", "Cao", "高"), kFramePt);
    kel_fit_text(ui->label_mirror, kel_text("镜像", "mirror", "Отражение", "Ảnh phản chiếu", "鏡像"), kFramePt);
    const QString items[4] = {
        kel_text("点对点关闭", "OFF", "Откл", "Đóng", "點對點關閉"),
        kel_text("点对点开启", "ON", "Вкл", "Mở", "點對點開啟"),
        kel_text("HD3,HD4水平拼接", "HD3,HD4 Hor", "Гор HD3,HD4", "Nối ngang HD3,HD4", "HD3,HD4水平拼接"),
        kel_text("HD3,HD4垂直拼接", "HD3,HD4 Ver", "Вер HD3,HD4", "Ghép dọc HD3,HD4", "HD3,HD4垂直拼接"),
    };
    QString widest;
    for (int k = 0; k < 4; ++k) {
        ui->comboBox_P2P->setItemText(k, items[k]);
        if (items[k].size() > widest.size())
            widest = items[k];
    }
    kel_fit_font(ui->comboBox_P2P, widest, kFramePt);
}

void ImageLayout::image_init()
{
    const int w = ui_select;
    const QString prefix = kel_text("画面状态:", "Image state:", "Состояние:", "Trạng thái:", "畫面狀態:");
    const QString state = P::get16(record(w).data() + P::kLayerFlags) == 0 ? kel_text("关闭", "OFF", "Откл", "Đóng", "關閉")
                                                                   : kel_text("开启", "ON", "Вкл", "Mở", "開啟");
    kel_fit_text(ui->image_state, prefix + state, kFramePt);
    ui->frame_image->setGeometry(7 + 51 * w, 39, 51, 49);
    ui->frame_image->setStyleSheet(QStringLiteral(
        "#frame_image{border:1px solid;border-left-color:rgb(255,171,84);border-right-color:rgb(255,171,84);"
        "border-top-color:rgb(255,171,84);}"));
}

void ImageLayout::image_para_update()
{
    const int w = ui_select;
    const Record layer = record(w);
    const uint8_t* rec = layer.data();

    ALIAS_PARA alias{0, std::string(), std::string()};
    if (get_json_alias_para(&alias, "win", w)) {
        QFont font = ui->image_name->font();
        font.setPixelSize(kel_lcd_px(kFramePt));
        ui->image_name->setFont(font);
        // The name is cut to the room the prefix leaves, so the whole line fits the label.
        const QString prefix = kel_text("名称:", "Name:", "Название:", "Tên:", "名稱:");
        const QFontMetrics metrics(font);
        const QString name = metrics.elidedText(QString::fromStdString(alias.name), Qt::ElideRight,
                                                ui->image_name->width() - metrics.horizontalAdvance(prefix), Qt::TextShowMnemonic);
        ui->image_name->setText(prefix + name);
    } else {
        const QString format =
            kel_text("画面名称:画面%d", "Name:Image%d", "Название:Канал%d", "Tên:Hình ảnh%d", "畫面名稱:畫面%d");
        kel_fit_text(ui->image_name, QString(format).replace(QStringLiteral("%d"), QString::number(w + 1)), kFramePt);
    }

    int16_t isCrop = 0;
    char cropIndex = 0;
    const int input = P::pInstance()->live_image_source(uint8_t(w), &isCrop, &cropIndex);
    kel_fit_text(ui->image_source,
                 kel_text("信源:", "Source:", "Источник:", "Nguồn tín hiệu:", "信源:") +
                     sourceinfo::get_source_name_by_sourceid(uint8_t(input)),
                 kFramePt);

    ui->lineEdit_X->setText(QString::number(P::get16(rec + P::kLayerWindow)));
    ui->lineEdit_Y->setText(QString::number(P::get16(rec + P::kLayerWindow + 2)));
    ui->lineEdit_W->setText(QString::number(P::get16(rec + P::kLayerWindow + 4)));
    ui->lineEdit_H->setText(QString::number(P::get16(rec + P::kLayerWindow + 6)));

    mirror_select(P::get16(rec + P::kLayerAttribute));

    if ((P::get16(rec + P::kLayerOutput) & 0x100) == 0) {
        ui->comboBox_P2P->setCurrentIndex(0);
    } else {
        switch (P::get16(rec + P::kLayerDbd)) {
        case 0: ui->comboBox_P2P->setCurrentIndex(1); break;
        case 8: ui->comboBox_P2P->setCurrentIndex(2); break;
        case 9: ui->comboBox_P2P->setCurrentIndex(3); break;
        default: break;
        }
    }
    ui->frame->setStyleSheet(QStringLiteral("#frame{border:1px solid rgb(255,171,84);}"));
}

void ImageLayout::mirror_select(int value)
{
    if (value < 0 || value > 3)
        return;
    kel_icons_init();
    QLabel* const icons[4] = {ui->mirror1, ui->mirror2, ui->mirror3, ui->mirror4};
    for (int k = 0; k < 4; ++k) {
        const QString path = QStringLiteral(":/png/mirror%1_%2.png").arg(k + 1).arg(k == value ? "on" : "off");
        icons[k]->setPixmap(QPixmap(path).scaled(icons[k]->size()));
        icons[k]->setProperty("iconPath", path);
    }
}

void ImageLayout::syncUpdate()
{
    if (KelRamPara::pInstance()->KelLanguageChanged()) {
        language_changed();
        ui_select = g_image_current;
    }
    // A PC may have moved, resized, re-sourced or switched off the window shown.
    image_init();
    image_para_update();
}

void ImageLayout::slot_Button_back_clicked()
{
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_imagelayout == this)
        g_imagelayout = nullptr;
    if (g_option)
        g_option->language_changed();
    g_page_focus = 5;
}

void ImageLayout::step(int direction)
{
    ui_select = uint8_t((ui_select + 4 + direction) % 4);
    image_init();
    image_para_update();
    g_image_current = ui_select;
    KelRamPara::pInstance()->test_signal(1);
}

void ImageLayout::keyPressEvent(QKeyEvent* event)
{
    screen_key_press("ImageLayout", event);
}

void ImageLayout::keyReleaseEvent(QKeyEvent* event)
{
    // OK changes nothing here.
    screen_key_release(this, "ImageLayout", event->key(), keyboard,
                       {[this](int direction) { step(direction); }, {}, [this] { slot_Button_back_clicked(); },
                        [this] {
                            if (g_imagelayout == this)
                                g_imagelayout = nullptr;
                            Option::close_menu();
                        }});
}
