#include "core/utils.h"
#include "gui/option.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/kel_keys.h"
#include "gui/textfit.h"
#include "gui/kel_screens.h"
#include "gui/linkoption.h"
#include "gui/mainwindow.h"
#include "gui/outputset.h"
#include "gui/screen_keys.h"
#include "ui_option.h"

#include <QDebug>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPushButton>

Option* g_option = nullptr;

namespace {
const char* const kEntryNames[Option::kEntries] = {
    "output_set", "input_cut", "image_layout", "link_set", "image_quality", "test_chart", "smart_mapping",
    "AdvanceButton",
};

[[maybe_unused]] void not_built(const char* screen)
{
    kel_screen_not_built("Option", screen);
}
} // namespace

Option::Option(QWidget* parent) : QDialog(parent), ui(new Ui::Option)
{
    style_normal = QStringLiteral(
        "background-color: rgb(33, 36, 53);border:2px solid rgb(33, 36, 53);border-radius:10px;padding:2px 4px;color:rgb(255,255,255)");
    style_focus = QStringLiteral("background-color: rgb(33, 36, 53); border:2px solid "
                                 "rgb(255,171,84);border-radius:10px;padding:2px 4px;color:rgb(255,255,255)");
    ui->setupUi(this);
    ui->label_note_OK->setPixmap(QPixmap(QStringLiteral(":/png/OK_Enter.png")));
    ui->label_note_back->setPixmap(QPixmap(QStringLiteral(":/png/back_return.png")));
    ui_select = 0;
    menulist_init();
    language_changed();
}

Option::~Option()
{
    delete ui;
    if (g_option == this)
        g_option = nullptr;
}

void Option::menulist_init()
{
    menulist[0] = ui->output_set;
    menulist[1] = ui->input_cut;
    menulist[2] = ui->image_layout;
    menulist[3] = ui->link_set;
    menulist[4] = ui->image_quality;
    menulist[5] = ui->test_chart;
    menulist[6] = ui->smart_mapping;
    menulist[7] = ui->AdvanceButton;
    ui_select = 0;
    focus_widget = menulist[0];
    focus_widget->setStyleSheet(QStringLiteral(
        "background-color: rgb(33, 36, 53); border:2px solid rgb(255,171,84);border-radius:10px;padding:2px 4px"));
}

void Option::language_changed()
{
    const u8 lang = kel_lang();
    kel_fit_text_designed(ui->label_title, kel_text("设置", "Setting", "Настройки", "Cài đặt", "設置"));
    const QString prefix = kel_icon_prefix();
    for (int i = 0; i < kEntries; ++i) {
        QString path = QStringLiteral(":/png/") + prefix + QString::fromLatin1(kEntryNames[i]) + QStringLiteral(".png");
        if (i == 7 && lang == KEL_LANG_EN)
            path = QStringLiteral(":/png/en_advance_option.png");
        menulist[i]->setIcon(QIcon(path));
        // Every entry's icon at one size, so their captions share one scale.
        menulist[i]->setIconSize(QSize(66, 60));
        menulist[i]->setProperty("iconPath", path);
    }
    ui->smart_mapping->setStyleSheet(focus_widget == ui->smart_mapping ? style_focus : style_normal);
}

void Option::return_from_submenu(QDialog* submenu)
{
    submenu->setAttribute(Qt::WA_DeleteOnClose);
    submenu->close();
    if (g_option != nullptr)
        g_option->language_changed();
    g_page_focus = 5;
}

void Option::close_menu()
{
    kel_close_screen(g_option);
}

void Option::syncUpdate()
{
    if (KelRamPara::pInstance()->KelLanguageChanged())
        language_changed();
}

void Option::slot_Button_back_clicked()
{
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_option == this)
        g_option = nullptr;
    if (g_mainwindow != nullptr)
        g_mainwindow->language_changed();
    g_page_focus = 1;
}

void Option::on_output_set_clicked()
{
    KEL_OPEN_MODAL(OutputSet, g_outputset, 6);
}

void Option::on_input_cut_clicked()
{
#ifdef KEL_HAVE_INPUTCUT
    KEL_OPEN_MODAL(InputCut, g_inputcut, 7);
#else
    not_built("InputCut");
#endif
}

void Option::on_image_layout_clicked()
{
#ifdef KEL_HAVE_IMAGELAYOUT
    KEL_OPEN_MODAL(ImageLayout, g_imagelayout, 9);
#else
    not_built("ImageLayout");
#endif
}

void Option::on_link_set_clicked()
{
    KEL_OPEN_MODAL(LinkOption, g_linkoption, 10);
}

void Option::on_image_quality_clicked()
{
#ifdef KEL_HAVE_IMAGEQUALITY
    KEL_OPEN_MODAL(ImageQuality, g_imagequality, 11);
#else
    not_built("ImageQuality");
#endif
}

void Option::on_test_chart_clicked()
{
#ifdef KEL_HAVE_TEST_CHART
    KEL_OPEN_MODAL(test_chart, g_test_chart, 16);
#else
    not_built("test_chart");
#endif
}

void Option::on_smart_mapping_clicked()
{
#ifdef KEL_HAVE_SMARTMAPPING
    KEL_OPEN_MODAL(SmartMapping, g_smartmapping, 24);
#else
    not_built("SmartMapping");
#endif
}

void Option::on_AdvanceButton_clicked()
{
#ifdef KEL_HAVE_ADVANCEDOPTION
    KEL_OPEN_MODAL(AdvancedOption, g_advancedoption, 12);
#else
    not_built("AdvancedOption");
#endif
}

void Option::open_entry(int index)
{
    switch (index) {
    case 0: on_output_set_clicked(); break;
    case 1: on_input_cut_clicked(); break;
    case 2: on_image_layout_clicked(); break;
    case 3: on_link_set_clicked(); break;
    case 4: on_image_quality_clicked(); break;
    case 5: on_test_chart_clicked(); break;
    case 6: on_smart_mapping_clicked(); break;
    case 7: on_AdvanceButton_clicked(); break;
    default: break;
    }
}

int Option::get_file_list_usbpath()
{
    int count = 0;
    for (const QString& name : Utils::fileNames(QStringLiteral("/mnt/usb1/"), true)) {
        if (QFileInfo(name).suffix() == QLatin1String("kxfile"))
            ++count;
    }
    return count;
}

QImage Option::converToGrayscale(const QImage& image)
{
    return image.convertToFormat(QImage::Format_Grayscale8);
}

void Option::keyPressEvent(QKeyEvent* event)
{
    screen_key_press("Option", event);
}

void Option::keyReleaseEvent(QKeyEvent* event)
{
    screen_key_release(this, "Option", event->key(), keyboard,
                       {[this](int step) {
                            kel_step_focus(menulist, kEntries, ui_select, focus_widget, style_normal, style_focus, step);
                        },
                        [this] { open_entry(ui_select); },
                        [this] { slot_Button_back_clicked(); },
                        [this] {
                            if (g_option == this)
                                g_option = nullptr;
                        }});
}
