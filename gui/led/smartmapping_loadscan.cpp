// Scan-parameter loading of the smart set-up dialog (pages 4-5): an output port from the
// port grid, a file from the stored and USB scan-parameter files (three a page), and Load
// hands job 2 to the FPGA manager with the file in g_kxfile_name.
#include "gui/led/smartmapping.h"

#include "core/global.h"
#include "fpga/fpga_manage.h"
#include "gui/QRoundProgressBar.h"
#include "gui/kel_keys.h"
#include "gui/textfit.h"
#include "ui_smartmapping.h"

#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <mutex>

QString smart_port_tab_text(int first, int last);

namespace {

enum { kPlain = 0, kSelected = 1, kSelectedFocused = 2 };

// Stored files in white, USB files in green; a selected row filled blue.
const char* const kFileStyles[2][3] = {
    {"background-color: rgb(33, 36, 53);color: #FFFFFF",
     "background-color:#4777FF;color: #FFFFFF;border:1px solid rgb(255,255,255);",
     "background-color:#4777FF;color: #FFFFFF;border:1px solid rgb(255,171,84);"},
    {"background-color: rgb(33, 36, 53);color: #00FF00",
     "background-color:#4777FF;color: #00FF00;border:1px solid rgb(255,255,255);",
     "background-color:#4777FF;color: #00FF00;border:1px solid rgb(255,171,84);"}};

void set_kxfile(const QString& path)
{
    std::lock_guard<std::mutex> hold(g_kxfile_name_mutex);
    g_kxfile_name = path;
}

} // namespace

uint8_t SmartMapping::rows_on_page() const
{
    if (file_num == 0)
        return 0;
    return file_num >= (current_page + 1) * 3 ? 3 : file_num % 3;
}

// A row shown selected is the file Load sends, so the operator sees what is loaded.
void SmartMapping::set_file_style(int row, int style)
{
    if (row < 0 || row >= rows_on_page() || !file_labels[row])
        return;
    const bool usb = row + 3 * current_page >= smart_file_num;
    file_labels[row]->setStyleSheet(kFileStyles[usb ? 1 : 0][style]);
    if (style != kPlain)
        set_kxfile(file_paths[row]);
}

void SmartMapping::on_Button_next_5_clicked()
{
    file_num = 0;
    file_list.clear();
    get_file_list_smartpath();
    get_file_list_usbpath();
    file_num = total_file_num;
    current_page = 0;
    page_max = int8_t(total_file_num / 3 - (total_file_num % 3 == 0 ? 1 : 0));
    if (page_max < 0)
        page_max = 0;
    file_page_open = 1;
    scan_file_list();
    language_for_loadscan_page5();
}

void SmartMapping::scan_file_list()
{
    delete file_frame;
    file_frame = nullptr;
    for (int i = 0; i < 3; ++i) {
        file_labels[i] = nullptr;
        file_buttons[i] = nullptr;
        file_names[i].clear();
        file_paths[i].clear();
    }
    file_frame = new QFrame(ui->page_6);
    file_frame->setObjectName(QStringLiteral("frame_file"));
    file_frame->setGeometry(10, 55, 220, 90);
    file_frame->setStyleSheet(QStringLiteral("#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}"));
    if (file_num == 0) {
        auto* none = new QLabel(file_frame);
        none->setGeometry(5, 5, 200, 40);
        none->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        none->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);color: #FFFFFF"));
        kel_fit_text(none, kel_text("无加载文件!", "No loaded file!", "Нет файлов для загрузки!", "Không có tập tin để tải!",
                                    "無加載文件!"),
                     7, KelFit::LineBox);
        set_kxfile(QString());
    } else {
        // Only a file shown selected on this page may be loaded.
        bool shown = false;
        const int rows = rows_on_page();
        for (int i = 0; i < rows; ++i) {
            const int k = 3 * current_page + i;
            if (k >= file_list.size())
                break;
            const QStringList parts = file_list.at(k).split(QLatin1Char('/'));
            if (parts.size() < 4)
                continue;
            QString name = parts.at(3);
            name.remove(QLatin1Char('\n'));
            auto* label = new QLabel(file_frame);
            label->setGeometry(5, 5 + 25 * i, 190, 20);
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            kel_fit_text(label, name, 7, KelFit::LineBox);
            file_labels[i] = label;
            file_names[i] = name;
            file_paths[i] = file_list.at(k);
            auto* button = new QPushButton(file_frame);
            button->setGeometry(5, 5 + 25 * i, 190, 20);
            button->setFlat(true);
            button->setFocusPolicy(Qt::NoFocus);
            button->setStyleSheet(QStringLiteral("background-color: transparent;"));
            button->setObjectName(QString::number(i));
            connect(button, &QPushButton::clicked, this, &SmartMapping::kel_button_file_clicked);
            file_buttons[i] = button;
            set_file_style(i, i == file_select ? kSelectedFocused : kPlain);
            shown = shown || i == file_select;
        }
        if (!shown)
            set_kxfile(QString());
        auto arrow = [this](int y, const char* icon, void (SmartMapping::*slot)()) {
            auto* b = new QPushButton(file_frame);
            b->setGeometry(200, y, 15, 20);
            b->setFocusPolicy(Qt::NoFocus);
            b->setIcon(QIcon(QString::fromLatin1(icon)));
            b->setIconSize(QSize(15, 20));
            b->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);"));
            b->setObjectName(QString::fromLatin1(icon).mid(6, 4));
            connect(b, &QPushButton::clicked, this, slot);
        };
        if (current_page >= 1)
            arrow(5, ":/png/previous.png", &SmartMapping::kel_Button_previous_clicked);
        if (current_page < page_max)
            arrow(55, ":/png/next.png", &SmartMapping::kel_Button_next_clicked);
    }
    file_frame->show();
    ui->stackedWidget->setCurrentIndex(5);
}

void SmartMapping::kel_Button_previous_clicked()
{
    if (g_qround_bar)
        return;
    if (current_page > 0)
        --current_page;
    scan_file_list();
}

void SmartMapping::kel_Button_next_clicked()
{
    if (g_qround_bar)
        return;
    current_page = int8_t(current_page >= page_max ? 0 : current_page + 1);
    scan_file_list();
}

void SmartMapping::kel_button_file_clicked()
{
    if (g_qround_bar || !sender())
        return;
    bool ok = false;
    const int row = sender()->objectName().toInt(&ok, 10);
    if (!ok || row < 0 || row >= rows_on_page())
        return;
    set_file_style(file_select, kPlain);
    file_select = uint8_t(row);
    set_file_style(file_select, kSelected);
}

void SmartMapping::on_Button_front_6_clicked()
{
    if (g_qround_bar)
        return;
    ui->stackedWidget->setCurrentIndex(kPageLoadScan);
}

// The keys follow the page on screen: Previous does nothing while a job runs, and then the
// keys stay on the file page.
bool SmartMapping::leave_file_page()
{
    on_Button_front_6_clicked();
    if (ui->stackedWidget->currentIndex() != kPageLoadScan)
        return false;
    scan_step = 0;
    return true;
}

void SmartMapping::on_Button_load_clicked()
{
    {
        std::lock_guard<std::mutex> hold(g_kxfile_name_mutex);
        if (g_kxfile_name.isEmpty())
            return;
    }
    start_job(2);
}

// ------------------------------------------------------------------------------------
// Texts

void SmartMapping::language_for_loadscan_page4()
{
    kel_fit_text(ui->label_step1_5, kel_text("步骤1选择网口", "Step 1 Select network port", "Шаг 1. Выбор LAN-порта",
                                             "Bước 1 Chọn cổng mạng", "步驟1選擇網口"), 9, KelFit::LineBox);
    const u8 lang = kel_lang();
    kel_fit_text(ui->Button_next_5, kel_text("下一步", "Next", "Далее", "Bước tiếp theo", "下一步"),
                 lang == KEL_LANG_RU || lang == KEL_LANG_VN ? 7 : 9, KelFit::LineBox);
    kel_fit_text(ui->Button_wlan5, smart_port_tab_text(1, 8), 7, KelFit::LineBox);
    kel_fit_text(ui->Button_wlan6, smart_port_tab_text(9, 10), 7, KelFit::LineBox);
}

void SmartMapping::language_for_loadscan_page5()
{
    const u8 lang = kel_lang();
    const bool zh = lang == KEL_LANG_ZH || lang == KEL_LANG_TN;
    kel_fit_text(ui->label_step2_6, kel_text("步骤2加载扫描参数", "Step 2 Upload scan parameters", "Шаг 2.Настройка сканирования",
                                             "Bước 2Tải thông số quét", "步驟2加載掃描參數"), 9, KelFit::LineBox);
    kel_fit_text(ui->label_step2_7, kel_text("检测到以下屏参文件", "Detected the following screen parameter\n files",
                                             "Были обнаружены следующие файлы \nпараметров экрана",
                                             "Các tập tin tham số màn hình sau đã\n được phát hiện", "檢測到以下屏參文件"),
                 zh ? 9 : 6, KelFit::LineBox);
    const double button = lang == KEL_LANG_RU ? 7 : lang == KEL_LANG_VN ? 6 : 9;
    kel_fit_text(ui->Button_front_6, kel_text("上一步", "Previous", "Назад", "Thao tác\nphía trước", "上一步"), button, KelFit::LineBox);
    kel_fit_text(ui->Button_load, kel_text("加载", "Load", "Загрузка", "Tải về", "加載"), button, KelFit::LineBox);
}

// ------------------------------------------------------------------------------------
// Keys

void SmartMapping::menulist_loadscan_page1_init(uint8_t entered)
{
    scan_focus_list[0] = ui->Button_wlan5;
    scan_focus_list[1] = ui->Button_wlan6;
    scan_focus_list[2] = ui->Button_next_5;
    if (line_type.port < 8)
        on_Button_wlan5_clicked();
    else if (line_type.port < 16)
        on_Button_wlan6_clicked();
    scan_port_focus = port_group < 2 ? port_group : 0;
    scan_grid_open = 0;
    scan_port_chosen = 0;
    scan_focus_widget = scan_focus_list[scan_port_focus];
    if (entered) {
        menulist_loadscan_page1_sel_recovery();
        menu_focus->setStyleSheet(style_entered);
    } else {
        menulist_loadscan_page1_sel_default();
        menu_focus->setStyleSheet(style_focused);
    }
    scan_step = 0;
}

void SmartMapping::menulist_loadscan_page1_sel_default()
{
    if (scan_focus_widget)
        scan_focus_widget->setStyleSheet(style_normal);
}

void SmartMapping::menulist_loadscan_page1_sel_recovery()
{
    if (scan_focus_widget)
        scan_focus_widget->setStyleSheet(style_focused);
}

void SmartMapping::menulist_loadscan_page1_sel_right() { loadscan_page1_move(+1); }
void SmartMapping::menulist_loadscan_page1_sel_left() { loadscan_page1_move(-1); }

// Inside the grid the cursor walks the group's tiles and the port follows it; outside, the
// focus walks the two tabs and Next, and a tab reached shows its group.
void SmartMapping::loadscan_page1_move(int step)
{
    if (scan_grid_open) {
        const int count = port_group == 1 ? 2 : 8;
        port_index = uint8_t((port_index + count + step) % count);
        port_group = scan_port_focus;
        line_type.port = uint8_t(port_group * 8 + port_index);
        wlan_init(1, 0);
        return;
    }
    menulist_loadscan_page1_sel_default();
    scan_port_focus = uint8_t((scan_port_focus + 3 + step) % 3);
    if (scan_port_focus == 0)
        on_Button_wlan5_clicked();
    else if (scan_port_focus == 1)
        on_Button_wlan6_clicked();
    scan_focus_widget = scan_focus_list[scan_port_focus];
    menulist_loadscan_page1_sel_recovery();
}

void SmartMapping::menulist_loadscan_page2_init()
{
    file_focus_list[0] = ui->Button_front_6;
    file_focus_list[1] = ui->Button_load;
    if (file_focus_widget)
        file_focus_widget->setStyleSheet(style_normal);
    file_focus = file_num ? 1 : 0;
    file_focus_widget = file_focus_list[file_focus];
    if (!file_num)
        file_focus_widget->setStyleSheet(style_focused);
    file_cursor = 0;
    file_buttons_active = 0;
    scan_step = 1;
}

void SmartMapping::menulist_loadscan_page2_sel_default()
{
    if (file_focus_widget)
        file_focus_widget->setStyleSheet(style_normal);
}

void SmartMapping::menulist_loadscan_page2_sel_recovery()
{
    if (file_focus_widget)
        file_focus_widget->setStyleSheet(style_focused);
}

void SmartMapping::menulist_loadscan_page2_sel_right()
{
    const int rows = rows_on_page();
    if (file_num == 0 || rows == 0 || file_buttons_active) {
        menulist_loadscan_page2_sel_default();
        file_focus = uint8_t(file_focus ^ 1);
        file_focus_widget = file_focus_list[file_focus];
        menulist_loadscan_page2_sel_recovery();
        return;
    }
    set_file_style(file_cursor, kPlain);
    ++file_cursor;
    if (file_cursor >= rows) {
        file_cursor = 0;
        file_select = 0;
        kel_Button_next_clicked();
    }
    file_select = file_cursor;
    set_file_style(file_select, kSelectedFocused);
}

void SmartMapping::menulist_loadscan_page2_sel_left()
{
    const int rows = rows_on_page();
    if (file_num == 0 || rows == 0 || file_buttons_active) {
        menulist_loadscan_page2_sel_default();
        file_focus = uint8_t(file_focus ^ 1);
        file_focus_widget = file_focus_list[file_focus];
        menulist_loadscan_page2_sel_recovery();
        return;
    }
    set_file_style(file_cursor, kPlain);
    if (file_cursor == 0) {
        if (current_page > 0) {
            file_cursor = uint8_t(rows);
            file_select = uint8_t(rows - 1);
        } else {
            file_select = 0;
            file_cursor = 1;
        }
        kel_Button_previous_clicked();
    }
    --file_cursor;
    if (file_cursor < rows) {
        file_select = file_cursor;
        set_file_style(file_cursor, kSelectedFocused);
    }
}

void SmartMapping::menulist_loadscan_button_ok_page()
{
    if (scan_step == 0) {
        if (scan_grid_open) {
            const int count = port_group == 1 ? 2 : 8;
            if (port_index < count && port_buttons[port_index])
                emit port_buttons[port_index]->clicked();
            scan_grid_open = 0;
            menulist_loadscan_page1_sel_recovery();
            scan_port_chosen = 1;
        } else if (scan_port_focus == 2) {
            on_Button_next_5_clicked();
            menulist_loadscan_page2_init();
        } else {
            scan_grid_open = 1;
            port_saved = line_type.port;
            if (scan_port_focus == 0)
                on_Button_wlan5_clicked();
            else
                on_Button_wlan6_clicked();
        }
        return;
    }
    const int rows = rows_on_page();
    if (file_num && rows && !file_buttons_active) {
        if (file_cursor < rows && file_buttons[file_cursor])
            emit file_buttons[file_cursor]->clicked();
        file_buttons_active = 1;
        menulist_loadscan_page2_sel_recovery();
        return;
    }
    if (file_focus == 0) {
        leave_file_page();
    } else {
        on_Button_load_clicked();
        menulist_loadscan_page2_sel_default();
        set_file_style(file_cursor, kSelectedFocused);
        file_buttons_active = 0;
    }
}

void SmartMapping::menulist_loadscan_back_page()
{
    if (scan_step == 0) {
        if (scan_grid_open) {
            scan_grid_open = 0;
            if (scan_port_chosen)
                line_type.port = port_saved;
            if (scan_port_focus == 0)
                on_Button_wlan5_clicked();
            else
                on_Button_wlan6_clicked();
            menulist_loadscan_page1_sel_recovery();
            return;
        }
        menu_entered = 0;
        menulist_loadscan_page1_sel_default();
        menu_focus->setStyleSheet(style_focused);
        return;
    }
    const int rows = rows_on_page();
    if (file_num == 0 || rows == 0 || !file_buttons_active) {
        if (leave_file_page())
            language_for_loadscan_page4();
        return;
    }
    set_file_style(file_select, kSelectedFocused);
    menulist_loadscan_page2_sel_default();
    file_buttons_active = 0;
}
