#include "gui/outputset.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/option.h"
#include "gui/screen_keys.h"
#include "gui/textfit.h"
#include "ui_outputset.h"

#include <QDebug>
#include <QKeyEvent>
#include <QPushButton>

OutputSet* g_outputset = nullptr;

namespace {
[[maybe_unused]] void not_built(const char* screen)
{
    kel_screen_not_built("OutputSet", screen);
}
} // namespace

OutputSet::OutputSet(QWidget* parent) : QDialog(parent), ui(new Ui::OutputSet)
{
    style_focus = QStringLiteral("color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:2px solid "
                                 "rgb(255,171,84);border-radius:10px;padding:2px 4px");
    style_normal = QStringLiteral(
        "color:rgb(255,255,255);background-color: rgb(33, 36, 53) ; border:2px solid rgb(33, 36, 53);border-radius:10px;padding:2px 4px");
    ui->setupUi(this);
    ui->label_note_OK->setPixmap(QPixmap(QStringLiteral(":/png/OK_Enter.png")));
    ui->label_note_back->setPixmap(QPixmap(QStringLiteral(":/png/back_return.png")));
    menulist_init();
    language_changed();
}

OutputSet::~OutputSet()
{
    delete ui;
    if (g_outputset == this)
        g_outputset = nullptr;
}

void OutputSet::menulist_init()
{
    ui_select = 0;
    menulist[0] = ui->Button_ledset;
    menulist[1] = ui->Button_lanset;
    focus_widget = menulist[0];
    focus_widget->setStyleSheet(style_focus);
}

void OutputSet::language_changed()
{
    KelRamPara* para = KelRamPara::pInstance();
    const int width = para->locked16(KelRamPara::kLedWidth);
    const int height = para->locked16(KelRamPara::kLedHeight);
    kel_fit_text_designed(ui->label_title, kel_text("输出设置", "Output Setting", "Выход", "Thông số đầu ra", "輸出設置"));
    ui->Button_ledset->setText(kel_text("LED设置", "LED Setting", "Настройки\nLED", "Cài đặt\nLED", "LED設置"));
    ui->Button_lanset->setText(
        kel_text("网口输出", "Port output", "Настройка\nLAN", "Cài đặt\ncổng MẠNG", "網口輸出"));
    const QString info = kel_text("当前设置LED屏宽高为: %dx%d", "LED Screen can be set:%dx%d",
                                  "Текущий размер LED (px): %dx%d",
                                  "Gợi ý: Kích thước màn hình LED hiện tại:%dx%d", "當前設置LED屏寬高爲: %dx%d");
    kel_fit_text(ui->label_info, QString::asprintf(info.toUtf8().constData(), width, height), 7);
}

void OutputSet::syncUpdate()
{
    // Drawn anew every time: besides the language, a PC may have changed the LED size shown.
    language_changed();
}

void OutputSet::slot_Button_back_clicked()
{
    if (g_outputset == this)
        g_outputset = nullptr;
    Option::return_from_submenu(this);
}

void OutputSet::on_Button_ledset_clicked()
{
#ifdef KEL_HAVE_LEDSET
    KEL_OPEN_MODAL(ledset, g_ledset, 13);
#else
    not_built("ledset");
#endif
}

void OutputSet::on_Button_lanset_clicked()
{
#ifdef KEL_HAVE_NETSET
    KEL_OPEN_MODAL(netset, g_netset, 14);
#else
    not_built("netset");
#endif
}

void OutputSet::keyPressEvent(QKeyEvent* event)
{
    screen_key_press("OutputSet", event);
}

void OutputSet::keyReleaseEvent(QKeyEvent* event)
{
    screen_key_release(this, "OutputSet", event->key(), keyboard,
                       {[this](int step) {
                            kel_step_focus(menulist, kEntries, ui_select, focus_widget, style_normal, style_focus, step);
                        },
                        [this] {
                            if (ui_select == 0)
                                on_Button_ledset_clicked();
                            else
                                on_Button_lanset_clicked();
                        },
                        [this] { slot_Button_back_clicked(); },
                        [this] {
                            if (g_outputset == this)
                                g_outputset = nullptr;
                            Option::close_menu();
                        }});
}
