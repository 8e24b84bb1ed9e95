// The shortcut set-up wizard of the smart set-up dialog (pages 0-3): cabinet size, output
// port, rows, columns, wiring route and offsets, handed to the FPGA manager as job 1; and
// the output-port grid that the scan-parameter loading shares.
#include "gui/led/smartmapping.h"

#include "core/global.h"
#include "fpga/fpga_manage.h"
#include "gui/QRoundProgressBar.h"
#include "gui/input/editpanel.h"
#include "gui/kel_keys.h"
#include "gui/textfit.h"
#include "gui/my_lineedit.h"
#include "gui/numberkeyboard.h"
#include "ui_smartmapping.h"

#include <QDebug>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QToolButton>

namespace {

const char kFieldNormal[] = "color:rgb(255, 255, 255);background-color:rgb(33, 36, 53);border:1px solid rgb(255,255,255);";
const char kFieldFocused[] = "color:rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);";
const char kTabSelected[] = "background-color: #4777FF;color: rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
const char kTile[] = "background-color: #212435;border:1px solid #FFFFFF;";
const char kTileChosen[] = "background-color: #212435;border:1px solid #00D65B;";

// Base-10 conversion of a field: an empty or non-numeric text gives 0.
unsigned field_value(const QLineEdit* field)
{
    bool ok = false;
    const qlonglong v = field->text().trimmed().toLongLong(&ok, 10);
    return ok ? unsigned(v) : 0u;
}

bool chinese_text()
{
    const u8 lang = kel_lang();
    return lang == KEL_LANG_ZH || lang == KEL_LANG_TN;
}

// "Next" and "Previous": the Russian words are the right way round (Next is "Далее").
QString text_next()
{
    return kel_text("下一步", "Next", "Далее", "Bước tiếp theo", "下一步");
}
QString text_previous()
{
    return kel_text("上一步", "Previous", "Назад", "Thao tác\nphía trước", "上一步");
}

} // namespace

QString smart_port_tab_text(int first, int last)
{
    return kel_text("网口%1~%2", "LED%1~%2", "LED%1~%2", "LED%1~%2", "網口%1~%2").arg(first).arg(last);
}

void SmartMapping::set_focus_style(QWidget* w, bool focused)
{
    if (!w)
        return;
    if (qobject_cast<QLineEdit*>(w) || qobject_cast<QToolButton*>(w))
        w->setStyleSheet(focused ? kFieldFocused : kFieldNormal);
    else
        w->setStyleSheet(focused ? style_focused : style_normal);
}

// ------------------------------------------------------------------------------------
// Port grid

void SmartMapping::wlan_init(unsigned char kind, unsigned char)
{
    delete port_grid;
    port_grid = nullptr;
    for (int i = 0; i < 8; ++i) {
        port_buttons[i] = nullptr;
        port_frames[i] = nullptr;
    }
    QWidget* page = kind == 0 ? ui->page_2 : ui->page_5;
    port_grid = new QFrame(page);
    port_grid->setGeometry(1, 59, 230, 88);
    const int count = port_group == 1 ? 2 : 8;
    for (int i = 0; i < count; ++i) {
        const int c = i % 4, r = i / 4;
        const int port = port_group * 8 + i;
        auto* frame = new QFrame(port_grid);
        frame->setGeometry(10 + 55 * c, 2 + 45 * r, 50, 40);
        frame->setStyleSheet(port == line_type.port ? kTileChosen : kTile);
        auto* icon = new QLabel(port_grid);
        icon->setGeometry(25 + 55 * c, 5 + 45 * r, 22, 15);
        icon->setPixmap(QPixmap(QStringLiteral(":/png/offline.png")));
        icon->setScaledContents(true);
        icon->setStyleSheet(QStringLiteral("background-color: transparent;"));
        auto* text = new QLabel(port_grid);
        text->setGeometry(14 + 55 * c, 20 + 45 * r, 45, 20);
        text->setAlignment(Qt::AlignCenter);
        QFont font = text->font();
        font.setPixelSize(8);
        text->setFont(font);
        text->setStyleSheet(QStringLiteral("background-color: #212435;color: #FFFFFF"));
        text->setText(QStringLiteral("LED%1").arg(port + 1));
        auto* button = new QPushButton(port_grid);
        button->setGeometry(11 + 55 * c, 3 + 45 * r, 48, 38);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setStyleSheet(QStringLiteral("background-color: transparent;"));
        button->setObjectName(QString::number(i));
        connect(button, &QPushButton::clicked, this, &SmartMapping::kel_button_wlan_clicked);
        port_frames[i] = frame;
        port_buttons[i] = button;
    }
    port_grid->show();
}

void SmartMapping::wlan_foucus_style(QPushButton* tab)
{
    if (port_tab && port_tab != tab)
        port_tab->setStyleSheet(style_normal);
    port_tab = tab;
    tab->setStyleSheet(kTabSelected);
}

void SmartMapping::port_tab_clicked(QPushButton* tab, uint8_t group, unsigned char kind)
{
    wlan_foucus_style(tab);
    port_group = group;
    port_index = 0;
    wlan_init(kind, 0);
}

void SmartMapping::on_Button_wlan1_clicked() { port_tab_clicked(ui->Button_wlan1, 0, 0); }
void SmartMapping::on_Button_wlan2_clicked() { port_tab_clicked(ui->Button_wlan2, 1, 0); }
void SmartMapping::on_Button_wlan3_clicked() { port_tab_clicked(ui->Button_wlan3, 2, 0); }
void SmartMapping::on_Button_wlan4_clicked() { port_tab_clicked(ui->Button_wlan4, 3, 0); }
void SmartMapping::on_Button_wlan5_clicked() { port_tab_clicked(ui->Button_wlan5, 0, 1); }
void SmartMapping::on_Button_wlan6_clicked() { port_tab_clicked(ui->Button_wlan6, 1, 1); }
void SmartMapping::on_Button_wlan7_clicked() { port_tab_clicked(ui->Button_wlan7, 2, 1); }
void SmartMapping::on_Button_wlan8_clicked() { port_tab_clicked(ui->Button_wlan8, 3, 1); }

void SmartMapping::kel_button_wlan_clicked()
{
    qDebug("\n this is  kel_button_wlan_clicked %d \n", port_index);
    const QObject* button = sender();
    if (!button)
        return;
    bool ok = false;
    const int index = button->objectName().toInt(&ok, 10);
    const int count = port_group == 1 ? 2 : 8;
    if (!ok || index < 0 || index >= count)
        return;
    if (port_index < 8 && port_frames[port_index])
        port_frames[port_index]->setStyleSheet(kTile);
    port_index = uint8_t(index);
    const uint8_t port = uint8_t(port_group * 8 + port_index);
    port_saved = port;
    line_type.port = port;
    if (port_frames[port_index])
        port_frames[port_index]->setStyleSheet(kTileChosen);
}

// ------------------------------------------------------------------------------------
// Pages

// What the cards take: the cabinet size and the offsets are 16-bit words of the set-up and
// of each card's position, rows and columns bytes; no rows or columns place no card.
bool SmartMapping::wizard_value_ok(QLineEdit* field, const QString& text)
{
    const bool count = field == ui->lineEdit_line || field == ui->lineEdit_column;
    const bool offset = field == ui->lineEdit_horzion || field == ui->lineEdit_vert;
    const qlonglong low = offset ? 0 : 1, high = count ? 255 : 65535;
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok, 10);
    QWidget* page = field->parentWidget();
    if (ok && v >= low && v <= high) {
        if (label_refuse && label_refuse->parentWidget() == page)
            label_refuse->hide();
        return true;
    }
    wizard_refuse(page, kel_text("须为%1至%2", "Must be %1 to %2", "Допустимо: %1–%2", "Phải từ %1 đến %2", "須為%1至%2")
                            .arg(low)
                            .arg(high));
    return false;
}

void SmartMapping::wizard_refuse(QWidget* page, const QString& why)
{
    // Over the step's title, which the page has no other room for.
    if (!label_refuse)
        label_refuse = kel_refusal_label(page, QRect(10, 10, 220, 17));
    label_refuse->setParent(page);
    label_refuse->setStyleSheet(QStringLiteral("color: rgb(255, 80, 80);background-color: rgb(16, 16, 28);"));
    kel_fit_text(label_refuse, why, 8);
    label_refuse->show();
    label_refuse->raise();
}

void SmartMapping::on_Button_next_clicked()
{
    for (QLineEdit* field : {ui->lineEdit_X, ui->lineEdit_Y})
        if (!wizard_value_ok(field, field->text()))
            return;
    line_type.width = u16(field_value(ui->lineEdit_X));
    line_type.height = u16(field_value(ui->lineEdit_Y));
    on_Button_wlan1_clicked();
    language_for_shortcutt_page1();
    ui->stackedWidget->setCurrentIndex(1);
}

void SmartMapping::on_Button_front_2_clicked()
{
    ui->stackedWidget->setCurrentIndex(0);
}

void SmartMapping::on_Button_next_2_clicked()
{
    ui->stackedWidget->setCurrentIndex(2);
    language_for_shortcutt_page2();
}

void SmartMapping::on_Button_front_3_clicked()
{
    if (g_qround_bar)
        return;
    ui->stackedWidget->setCurrentIndex(1);
}

void SmartMapping::on_Button_route_clicked()
{
    ui->stackedWidget->setCurrentIndex(3);
    language_for_shortcutt_page3();
}

void SmartMapping::route_chosen(int route)
{
    line_select(char(route));
    ui->stackedWidget->setCurrentIndex(2);
}

void SmartMapping::on_Button_route1_clicked() { route_chosen(1); }
void SmartMapping::on_Button_route2_clicked() { route_chosen(2); }
void SmartMapping::on_Button_route3_clicked() { route_chosen(3); }
void SmartMapping::on_Button_route4_clicked() { route_chosen(4); }
void SmartMapping::on_Button_route5_clicked() { route_chosen(5); }
void SmartMapping::on_Button_route6_clicked() { route_chosen(6); }
void SmartMapping::on_Button_route7_clicked() { route_chosen(7); }
void SmartMapping::on_Button_route8_clicked() { route_chosen(8); }
void SmartMapping::on_Button_route9_clicked() { route_chosen(9); }
void SmartMapping::on_Button_route10_clicked() { route_chosen(10); }
void SmartMapping::on_Button_route11_clicked() { route_chosen(11); }
void SmartMapping::on_Button_route12_clicked() { route_chosen(12); }
void SmartMapping::on_Button_route13_clicked() { route_chosen(13); }
void SmartMapping::on_Button_route14_clicked() { route_chosen(14); }
void SmartMapping::on_Button_route15_clicked() { route_chosen(15); }
void SmartMapping::on_Button_route16_clicked() { route_chosen(16); }

void SmartMapping::on_Button_cancel_clicked()
{
    ui->stackedWidget->setCurrentIndex(2);
}

void SmartMapping::line_select(char route)
{
    const int k = static_cast<unsigned char>(route);
    if (k >= 1 && k <= 16) {
        ui->Button_route->setIcon(QIcon(QStringLiteral(":/png/line%1.png").arg(k)));
        ui->Button_route->setProperty("iconPath", QStringLiteral("line%1").arg(k));
    }
    ui->Button_route->setIconSize(QSize(30, 20));
    // Beside the route picture a legible caption needs the few pixels up to the row's label.
    ui->Button_route->setGeometry(157, 95, 78, 24);
    const QString text = kel_text("走线%1", "Routing %1", "Путь %1", "Dấu vết%1", "走線%1").arg(k);
    kel_fit_text(ui->Button_route, text, 7, KelFit::LineBox);
    line_type.route = u8(k);
}

void SmartMapping::on_Button_send_clicked()
{
    // The record is the running job's: not touched while any job runs.
    if (g_qround_bar || g_send_para.job != 0)
        return;
    for (QLineEdit* field : {ui->lineEdit_line, ui->lineEdit_column, ui->lineEdit_horzion, ui->lineEdit_vert})
        if (!wizard_value_ok(field, field->text()))
            return;
    // Each card's position is a 16-bit word: the far row and column must still fit in one,
    // or their positions would wrap round to the left and top of the screen.
    const unsigned rows = field_value(ui->lineEdit_line), cols = field_value(ui->lineEdit_column);
    const unsigned right = field_value(ui->lineEdit_horzion) + (cols - 1) * unsigned(line_type.width);
    const unsigned bottom = field_value(ui->lineEdit_vert) + (rows - 1) * unsigned(line_type.height);
    if (right > 65535 || bottom > 65535) {
        wizard_refuse(ui->lineEdit_line->parentWidget(),
                      kel_text("箱体位置超出65535", "Cabinets go past 65535", "Позиция > 65535", "Vị trí quá 65535",
                               "箱體位置超出65535"));
        return;
    }
    line_type.rows = u8(rows);
    line_type.cols = u8(cols);
    line_type.x_offset = u16(field_value(ui->lineEdit_horzion));
    line_type.y_offset = u16(field_value(ui->lineEdit_vert));
    qDebug("\n set the route_way = %d \n", line_type.route);
    start_job(1);
}

void SmartMapping::show_numberkeyboard_ui(QString)
{
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field)
        return;
    g_lineedit = field;
    // Asked again when the language changes while the keypad is open.
    const auto title = [name = field->objectName()] {
        if (name == QLatin1String("lineEdit_X"))
            return kel_text("箱体宽度", "width", "width", "width", "箱體寬度");
        if (name == QLatin1String("lineEdit_Y"))
            return kel_text("箱体高度", "height", "height", "height", "箱體高度");
        if (name == QLatin1String("lineEdit_line"))
            return kel_text("箱体行数", "rows", "rows", "rows", "箱體行數");
        if (name == QLatin1String("lineEdit_column"))
            return kel_text("箱体列数", "lines", "lines", "lines", "箱體列數");
        if (name == QLatin1String("lineEdit_horzion"))
            return kel_text("水平偏移", "Horizontal", "Horizontal", "Horizontal", "水平偏移");
        if (name == QLatin1String("lineEdit_vert"))
            return kel_text("垂直偏移", "Vertical", "Vertical", "Vertical", "垂直偏移");
        return QString();
    };
    if (!g_numberkeyboard)
        return;
    if (!title().isEmpty())
        g_numberkeyboard->label_show(title, field->text());
    g_numberkeyboard->exec();
}

void SmartMapping::confirmString(QString text)
{
    // The keypad is shared: only a field of this dialog takes its answer.
    for (QLineEdit* field : {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_line, ui->lineEdit_column,
                             ui->lineEdit_horzion, ui->lineEdit_vert})
        if (g_lineedit == field && wizard_value_ok(field, text))
            field->setText(text);
}

// ------------------------------------------------------------------------------------
// Texts

void SmartMapping::language_for_shortcutt_page0()
{
    kel_fit_text(ui->label_step1, kel_text("步骤1箱体设置", "Step 1 Cabinet setup", "Шаг 1. Настройка кабинета",
                                           "Bước 1: Thiết lập cabin", "步驟1箱體設置"), 9, KelFit::LineBox);
    kel_fit_text(ui->label_boxwidth, kel_text("箱体宽度", "Cabinet width", "Ширина кабинета", "Chiều rộng cabin", "箱體寬度"), 9, KelFit::LineBox);
    kel_fit_text(ui->label_boxheight, kel_text("箱体高度", "Cabinet height", "Высота кабинета", "Chiều cao cabin", "箱體高度"), 9, KelFit::LineBox);
    const u8 lang = kel_lang();
    kel_fit_text(ui->Button_next, text_next(), lang == KEL_LANG_RU || lang == KEL_LANG_VN ? 7 : 9, KelFit::LineBox);
}

void SmartMapping::language_for_shortcutt_page1()
{
    kel_fit_text(ui->label_step2, kel_text("步骤2选择网口", "Step 2 Select port", "Шаг 2. Выберите сетевой порт",
                                           "Bước 2 :Chọn cổng mạng", "步驟2選擇網口"), 9, KelFit::LineBox);
    const u8 lang = kel_lang();
    const double points = lang == KEL_LANG_RU || lang == KEL_LANG_VN ? 7 : 9;
    kel_fit_text(ui->Button_front_2, text_previous(), points, KelFit::LineBox);
    kel_fit_text(ui->Button_next_2, text_next(), points, KelFit::LineBox);
    kel_fit_text(ui->Button_wlan1, smart_port_tab_text(1, 8), 7, KelFit::LineBox);
    kel_fit_text(ui->Button_wlan2, smart_port_tab_text(9, 10), 7, KelFit::LineBox);
}

void SmartMapping::language_for_shortcutt_page2()
{
    const u8 lang = kel_lang();
    const bool zh = chinese_text();
    const double caption = zh ? 9 : 7;
    const double offset = lang == KEL_LANG_RU ? 6 : caption;
    const double button = lang == KEL_LANG_RU || lang == KEL_LANG_VN ? 7 : 9;
    kel_fit_text(ui->label_step3, kel_text("步骤3屏参设置", "Step 3 Screen parameter setting", "Шаг 3.Настройка параметров экрана",
                                           "Bước 3:Cài đặt thông số màn hình", "步驟3屏參設置"),
                 lang == KEL_LANG_RU ? 7 : 9, KelFit::LineBox);
    kel_fit_text(ui->label_boxline, kel_text("箱体行数", "Number of Cabinet in rows", "Кол-во рядов", "Số lượng hàng tủ", "箱體行數"),
                 caption, KelFit::LineBox);
    kel_fit_text(ui->label_boxlcolumn,
                 kel_text("箱体列数", "Number of Cabinet in lines", "Кол-во столбцов", "Số lượng cột tủ", "箱體列數"), caption, KelFit::LineBox);
    kel_fit_text(ui->label_routeway, kel_text("屏体走线方式", "Screen alignment mode", "Тип подключения кабинетов",
                                              "Chế độ căn chỉnh màn hình", "屏體走線方式"),
                 caption, KelFit::LineBox);
    kel_fit_text(ui->label_horizon, kel_text("水平偏移", "Horizontal offset", "Горизонтальное\nсмещение",
                                             "Bù đắp theo\nchiều ngang", "水平偏移"),
                 offset, KelFit::LineBox);
    kel_fit_text(ui->label_vert, kel_text("垂直偏移", "Vertical offset", "Вертикальное\nсмещение", "Bù đắp theo\nchiều dọc",
                                          "垂直偏移"),
                 offset, KelFit::LineBox);
    kel_fit_text(ui->Button_send, kel_text("发送", "Send", "Отправить", "Gửi", "髮送"), button, KelFit::LineBox);
    kel_fit_text(ui->Button_front_3, text_previous(), button, KelFit::LineBox);
    line_select(char(line_type.route));
}

void SmartMapping::language_for_shortcutt_page3()
{
    for (int k = 1; k <= 16; ++k) {
        QToolButton* b = route_list[k - 1];
        b->setIcon(QIcon(QStringLiteral(":/png/line%1.png").arg(k)));
        b->setIconSize(QSize(40, 25));
        b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        kel_fit_text(b, kel_text("走线%1", "Routing %1", "Путь %1", "Dấu vết%1", "走線%1").arg(k), 7, KelFit::LineBox);
    }
    kel_fit_text(ui->Button_cancel, kel_text("取消", "Cancel", "Отмена", "Hủy bỏ", "取消"), 9, KelFit::LineBox);
}

// ------------------------------------------------------------------------------------
// Keys

void SmartMapping::menulist_shortcut_page1_init()
{
    step0_list[0] = ui->lineEdit_X;
    step0_list[1] = ui->lineEdit_Y;
    step0_list[2] = ui->Button_next;
    set_focus_style(ui->lineEdit_X, true);
    set_focus_style(ui->lineEdit_Y, false);
    set_focus_style(ui->Button_next, false);
    menu_focus->setStyleSheet(style_entered);
    shortcut_step = 0;
    step0_focus = 0;
}

void SmartMapping::menulist_shortcut_page2_init()
{
    step1_list[0] = ui->Button_wlan1;
    step1_list[1] = ui->Button_wlan2;
    step1_list[2] = ui->Button_front_2;
    step1_list[3] = ui->Button_next_2;
    step1_focus = 0;
    port_grid_open = 0;
    ui->Button_wlan1->setStyleSheet(style_focused);
    ui->Button_front_2->setStyleSheet(style_normal);
    ui->Button_next_2->setStyleSheet(style_normal);
    shortcut_step = 1;
}

void SmartMapping::menulist_shortcut_page3_init()
{
    step2_list[0] = ui->lineEdit_line;
    step2_list[1] = ui->lineEdit_column;
    step2_list[2] = ui->Button_route;
    step2_list[3] = ui->lineEdit_horzion;
    step2_list[4] = ui->lineEdit_vert;
    step2_list[5] = ui->Button_front_3;
    step2_list[6] = ui->Button_send;
    for (QWidget* w : step2_list)
        set_focus_style(w, false);
    step2_focus = 0;
    set_focus_style(ui->lineEdit_line, true);
    shortcut_step = 2;
}

void SmartMapping::menulist_shortcut_page3_button_route_init()
{
    for (QToolButton* b : route_list)
        set_focus_style(b, false);
    const int route = line_type.route;
    route_focus = uint8_t(route >= 1 && route <= 16 ? route - 1 : 0);
    set_focus_style(route_list[route_focus], true);
    route_list_open = 1;
}

void SmartMapping::menulist_shortcut_sel(int step)
{
    switch (shortcut_step) {
    case 0:
        set_focus_style(step0_list[step0_focus], false);
        step0_focus = uint8_t((step0_focus + 3 + step) % 3);
        set_focus_style(step0_list[step0_focus], true);
        break;
    case 1:
        if (port_grid_open) {
            const int count = port_group == 1 ? 2 : 8;
            port_index = uint8_t((port_index + count + step) % count);
            port_group = step1_focus;
            line_type.port = uint8_t(port_group * 8 + port_index);
            wlan_init(0, 0);
            break;
        }
        step1_list[step1_focus]->setStyleSheet(style_normal);
        step1_focus = uint8_t((step1_focus + 4 + step) % 4);
        if (step1_focus == 0)
            on_Button_wlan1_clicked();
        else if (step1_focus == 1)
            on_Button_wlan2_clicked();
        step1_list[step1_focus]->setStyleSheet(kFieldFocused);
        break;
    default:
        if (route_list_open) {
            set_focus_style(route_list[route_focus], false);
            route_focus = uint8_t((route_focus + 17 + step) % 17);
            set_focus_style(route_list[route_focus], true);
            break;
        }
        set_focus_style(step2_list[step2_focus], false);
        step2_focus = uint8_t((step2_focus + 7 + step) % 7);
        set_focus_style(step2_list[step2_focus], true);
        break;
    }
}

void SmartMapping::menulist_shortcut_button_ok_page()
{
    switch (shortcut_step) {
    case 0:
        if (step0_focus < 2) {
            auto* field = static_cast<My_lineEdit*>(step0_list[step0_focus]);
            emit field->send_show(field->objectName());
        } else {
            on_Button_next_clicked();
            if (ui->stackedWidget->currentIndex() == 1)   // not refused
                menulist_shortcut_page2_init();
        }
        break;
    case 1:
        if (port_grid_open) {
            const int count = port_group == 1 ? 2 : 8;
            if (port_index < count && port_buttons[port_index])
                emit port_buttons[port_index]->clicked();
            port_grid_open = 0;
            step1_list[step1_focus]->setStyleSheet(style_focused);
        } else if (step1_focus < 2) {
            port_grid_open = 1;
            step1_list[step1_focus]->setStyleSheet(style_entered);
            port_saved = line_type.port;
            line_type.port = step1_focus == 0 ? 0 : 8;
            if (step1_focus == 0)
                on_Button_wlan1_clicked();
            else
                on_Button_wlan2_clicked();
        } else if (step1_focus == 2) {
            on_Button_front_2_clicked();
            shortcut_step = 0;
        } else {
            on_Button_next_2_clicked();
            menulist_shortcut_page3_init();
        }
        break;
    default:
        if (route_list_open) {
            if (route_focus < 16)
                route_chosen(route_focus + 1);
            else
                on_Button_cancel_clicked();
            route_list_open = 0;
            set_focus_style(step2_list[step2_focus], true);
            break;
        }
        switch (step2_focus) {
        case 2:
            on_Button_route_clicked();
            menulist_shortcut_page3_button_route_init();
            break;
        case 5:
            if (!g_qround_bar) {
                on_Button_front_3_clicked();
                shortcut_step = 1;
            }
            break;
        case 6:
            on_Button_send_clicked();
            break;
        default: {
            auto* field = static_cast<My_lineEdit*>(step2_list[step2_focus]);
            emit field->send_show(field->objectName());
            break;
        }
        }
        break;
    }
}

void SmartMapping::menulist_shortcut_back_page()
{
    switch (shortcut_step) {
    case 0:
        menu_entered = 0;
        menu_focus->setStyleSheet(style_focused);
        set_focus_style(step0_list[step0_focus], false);
        break;
    case 1:
        if (port_grid_open) {
            port_grid_open = 0;
            line_type.port = port_saved;
            if (step1_focus == 0)
                on_Button_wlan1_clicked();
            else
                on_Button_wlan2_clicked();
            step1_list[step1_focus]->setStyleSheet(style_focused);
            break;
        }
        ui->stackedWidget->setCurrentIndex(0);
        shortcut_step = 0;
        language_for_shortcutt_page0();
        break;
    default:
        if (route_list_open) {
            set_focus_style(step2_list[step2_focus], true);
            ui->stackedWidget->setCurrentIndex(2);
            language_for_shortcutt_page2();
            route_list_open = 0;
            break;
        }
        if (g_qround_bar)
            break;
        qDebug("this is back page3 to page2");
        set_focus_style(step2_list[step2_focus], false);
        ui->stackedWidget->setCurrentIndex(1);
        shortcut_step = 1;
        language_for_shortcutt_page1();
        break;
    }
}
