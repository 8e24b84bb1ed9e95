#include "core/utils.h"
#include "gui/led/smartmapping.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "fpga/fpga_manage.h"
#include "gui/QRoundProgressBar.h"
#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/textfit.h"
#include "gui/tip.h"
#include "gui/numberkeyboard.h"
#include "gui/my_lineedit.h"
#include "gui/option.h"
#include "gui/screen_keys.h"
#include "board/Files.h"
#include "ui_smartmapping.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFileInfo>
#include <algorithm>
#include <QIcon>
#include <QKeyEvent>
#include <QToolButton>

SmartMapping* g_smartmapping = nullptr;

namespace {

constexpr uint8_t kMappingOn = 0x80;      // bit 7 of FPGA 0's register 0

bool chinese()
{
    const u8 lang = kel_lang();
    return lang == KEL_LANG_ZH || lang == KEL_LANG_TN;
}

// Register 0 of FPGA 0 as the FPGA manager last read it (0 without a manager).
uint8_t function_register(bool refresh)
{
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    if (!fpga)
        return 0;
    if (refresh)
        fpga->read_from_register(0, 0);
    return fpga->reg_shadow(0, 0);
}

} // namespace

SmartMapping::SmartMapping(QWidget* parent) : QDialog(parent), ui(new Ui::SmartMapping)
{
    style_normal = QStringLiteral("background-color: rgb(33, 36, 53);color:rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);");
    style_focused = QStringLiteral("background-color: rgb(33, 36, 53);color:rgb(255, 255, 255);border:1px solid rgb(255,171,84);");
    style_disabled = QStringLiteral(
        "background-color: gray;border:2px;border-radius:10px;padding:2px 4px;color:rgb(255,255,255)");
    style_entered = QStringLiteral("color:rgb(255, 255, 255);border:1px solid rgb(71, 119, 255);");
    ui->setupUi(this);
    ui->stackedWidget->setCurrentIndex(kPageShortcut);
    button_selected = ui->Button_shortcut;
    ui->Button_shortcut->setStyleSheet(style_focused);
    // Only output ports 1 to 10 exist: two tabs per port grid.
    for (QPushButton* tab : {ui->Button_wlan3, ui->Button_wlan4, ui->Button_wlan7, ui->Button_wlan8})
        tab->hide();
    ui->Button_wlan1->setGeometry(10, 32, 55, 17);
    ui->Button_wlan5->setGeometry(10, 32, 55, 17);
    ui->Button_wlan2->setGeometry(70, 32, 55, 17);
    ui->Button_wlan6->setGeometry(70, 32, 55, 17);
    port_tab = ui->Button_wlan1;
    QToolButton* routes[16] = {ui->Button_route1,  ui->Button_route2,  ui->Button_route3,  ui->Button_route4,
                               ui->Button_route5,  ui->Button_route6,  ui->Button_route7,  ui->Button_route8,
                               ui->Button_route9,  ui->Button_route10, ui->Button_route11, ui->Button_route12,
                               ui->Button_route13, ui->Button_route14, ui->Button_route15, ui->Button_route16};
    for (int k = 0; k < 16; ++k)
        route_list[k] = routes[k];
    route_list[16] = ui->Button_cancel;
    line_type.port = 0;
    line_type.route = 1;
    for (My_lineEdit* field : {ui->lineEdit_X, ui->lineEdit_Y, ui->lineEdit_line, ui->lineEdit_column,
                               ui->lineEdit_horzion, ui->lineEdit_vert})
        connect(field, &My_lineEdit::send_show, this, &SmartMapping::show_numberkeyboard_ui);
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &SmartMapping::confirmString);
    menulist_init();
    language_changed();
    menu_index = 0;
    file_page_open = 0;
    // The FPGA manager's progress of jobs 1 to 4 comes to this dialog; at the mapping
    // switch's end (100, or Back) its icon shows what the register then holds.
    fpga_manage::set_progress_screen(fpga_manage::kProgressSmartMapping, this);
    connect(this, &SmartMapping::sig_qround_bar_update, this, [this](int percent) {
        if (percent >= 100 && job_started == 4)
            show_mapping_state();
    });
}

SmartMapping::~SmartMapping()
{
    fpga_manage::set_progress_screen(fpga_manage::kProgressSmartMapping, nullptr);
    delete ui;
    if (g_smartmapping == this)
        g_smartmapping = nullptr;
}

void SmartMapping::menulist_init()
{
    menu_list[0] = ui->Button_shortcut;
    menu_list[1] = ui->Button_loadscan;
    menu_list[2] = ui->Button_paraweld;
    menu_list[3] = ui->Button_mapping;
    menu_focus = ui->Button_shortcut;
    menu_index = 0;
    menu_entered = 0;
    shortcut_step = 0;
}

void SmartMapping::menulist_main_sel()
{
    switch (menu_index) {
    case 0:
        ui->stackedWidget->setCurrentIndex(kPageShortcut);
        language_for_shortcutt_page0();
        break;
    case 1:
        ui->stackedWidget->setCurrentIndex(kPageLoadScan);
        menulist_loadscan_page1_init(0);
        language_for_loadscan_page4();
        break;
    case 2:
        ui->stackedWidget->setCurrentIndex(kPageParaweld);
        language_for_paraweld_page6();
        break;
    default:
        on_Button_mapping_clicked();
        break;
    }
}

void SmartMapping::language_changed()
{
    // Every page: the one shown need not be the function the list's focus is on.
    language_for_shortcutt_page0();
    language_for_shortcutt_page1();
    language_for_shortcutt_page2();
    language_for_shortcutt_page3();
    language_for_loadscan_page4();
    language_for_loadscan_page5();
    language_for_paraweld_page6();
    language_for_mapping_onoff_page7();

    // The files of the scan-parameter folder (any name), else the stick's "kxfile" files.
    // Counted here, not through the FPGA manager's reader, which its thread owns.
    if (Utils::isDirExists("/data/smartmapping")) {
        // A full folder must not count as empty and disable Load.
        const int stored = Utils::fileNames(QStringLiteral("/data/smartmapping"), false).size();
        scan_file_avail = uint8_t(std::min(stored, 255));
    }
    if (scan_file_avail == 0) {
        smart_file_num = 0;
        file_list.clear();
        get_file_list_usbpath();
        scan_file_avail = total_file_num;
    }

    kel_fit_text(ui->label_title,
                 kel_text("智能调屏", "Smart debugging screen", "Умная настройка экрана", "Điều chỉnh màn hình thông minh",
                          "智能調屏"),
                 11, KelFit::LineBox);
    const QString texts[kFunctions] = {
        kel_text("快捷点屏", "Debugging\nscreen", "Пошаговая\nнастройка", "Chạm vào màn\nhình nhanh", "快捷點屏"),
        kel_text("加载扫描", "Load scan", "Загрузить\nсканирование", "Cài đặt\nquét", "加載掃描"),
        kel_text("参数固化", "Curing\nparameter", "Сохранение\nнастроек", "Lưu thông\nsố", "參數固化"),
        kel_text("Mapping", "Mapping", "Маршрут", "Mapping", "Mapping")};
    const u8 lang = kel_lang();
    // Fitted to the room the style they wear leaves (a greyed entry's padding takes some).
    set_loadscan_style();
    for (int i = 0; i < kFunctions; ++i) {
        double points = 7;
        if (chinese())
            points = 9;
        else if (lang == KEL_LANG_RU && i < 2)
            points = 6;
        else if (lang == KEL_LANG_VN && i == 0)
            points = 6;
        if (chinese())
            menu_list[i]->setGeometry(5, i == 0 ? 42 : i == 1 ? 77 : i == 2 ? 111 : 145, 65, 20);
        else   // the longest lines ("сканирование", "Chạm vào màn") need the column up to the page frame
            menu_list[i]->setGeometry(3, 42 + 45 * i, 70, 30);
        kel_fit_text(menu_list[i], texts[i], points, KelFit::LineBox);
    }
}

void SmartMapping::set_loadscan_style()
{
    if (scan_file_avail == 0)
        ui->Button_loadscan->setStyleSheet(style_disabled);
    else
        ui->Button_loadscan->setStyleSheet(menu_focus == ui->Button_loadscan ? style_focused : style_normal);
}

// Inserts the folder's scan-parameter files into file_list from position start on; the
// count including start.
int SmartMapping::list_scan_files(const QString& folder, int start)
{
    int count = start;
    const QString base = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    for (const QString& name : Utils::fileNames(folder, true)) {
        if (count >= kMaxFiles)
            break;
        // The suffix after the last dot, as the settings menu counts them: "old_kxfile"
        // and "b.oldkxfile" are not scan-parameter files.
        if (QFileInfo(name).suffix() != QLatin1String("kxfile"))
            continue;
        file_list.insert(std::min<int>(count, file_list.size()), base + name);
        ++count;
    }
    while (file_list.size() > count)
        file_list.removeLast();
    return count;
}

void SmartMapping::get_file_list_smartpath()
{
    smart_file_num = uint8_t(list_scan_files(QStringLiteral("/data/smartmapping"), 0));
}

void SmartMapping::get_file_list_usbpath()
{
    // The total, also when no stored file comes first (the USB count then starts at 0).
    total_file_num = uint8_t(list_scan_files(QStringLiteral("/mnt/usb1/"), smart_file_num));
}

void SmartMapping::syncUpdate(int code)
{
    switch (code) {
    case 100:
        qDebug("SmartMapping: USB stick inserted");
        break;
    case 101:
    case 102:
        // The stick's files came or went: the open file page is listed afresh.
        file_select = 0;
        if (file_page_open) {
            on_Button_next_5_clicked();
            menulist_loadscan_page2_init();
        }
        break;
    default:
        if (KelRamPara::pInstance()->KelLanguageChanged())
            language_changed();
        break;
    }
}

void SmartMapping::Button_back_clicked()
{
    if (g_qround_bar)
        return;
    if (g_smartmapping == this)
        g_smartmapping = nullptr;
    Option::return_from_submenu(this);
}

void SmartMapping::pc_close()
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [] {
            if (g_page_focus == 24 && g_smartmapping)
                g_smartmapping->Button_back_clicked();
        },
        Qt::QueuedConnection);
}

void SmartMapping::button_select(QPushButton* button)
{
    if (button_selected && button_selected != button)
        button_selected->setStyleSheet(button_selected == ui->Button_loadscan && scan_file_avail == 0 ? style_disabled
                                                                                                     : style_normal);
    button_selected = button;
    button->setStyleSheet(style_focused);
}

void SmartMapping::menulist_fuc_sel_default()
{
    menu_focus->setStyleSheet(style_focused);
}

bool SmartMapping::start_job(uint8_t code)
{
    // One job at a time: none may be running in the manager, nor a ring be shown.
    if (g_qround_bar || g_send_para.job != 0)
        return false;
    QRoundProgressBar::create_qround_bar(this);
    if (!g_qround_bar)
        return false;
    connect(this, &SmartMapping::sig_qround_bar_update, g_qround_bar, &QRoundProgressBar::para_sync);
    job_started = code;
    g_send_para.post(code);
    return true;
}

void SmartMapping::card_job_failed(int why)
{
    if (!g_tip)
        return;
    if (job_started == 1 && why == fpga_manage::kJobNoCard)
        g_tip->tip_message(kel_text("该网口没有接收卡!", "No receiving card\non this port!", "На этом порту нет\nприемных карт!",
                                    "Cổng này không có\nthẻ nhận!", "該網口沒有接收卡!"));
    else if (job_started == 1)
        g_tip->tip_message(kel_text("有接收卡未应答!", "A receiving card\ndid not answer!", "Приемная карта\nне ответила!",
                                    "Có thẻ nhận\nkhông phản hồi!", "有接收卡未應答!"));
    else if (job_started == 2)
        g_tip->tip_message(kel_text("加载失败!", "Load failed!", "Ошибка загрузки!", "Tải thất bại!", "加載失敗!"));
    else if (job_started == 3)
        g_tip->tip_message(kel_text("参数固化失败!", "Parameter curing\nfailed!", "Ошибка сохранения\nнастроек!",
                                    "Lưu thông số\nthất bại!", "參數固化失敗!"));
    else if (job_started == 4)
        g_tip->tip_message(kel_text("Mapping开关失败!", "Mapping switch\nfailed!", "Ошибка переключения\nсопоставления!",
                                    "Bật mapping\nthất bại!", "Mapping開關失敗!"));
}

// ------------------------------------------------------------------------------------
// Function entries

void SmartMapping::on_Button_shortcut_clicked()
{
    if (g_qround_bar)
        return;
    button_select(ui->Button_shortcut);
    ui->stackedWidget->setCurrentIndex(kPageShortcut);
    file_page_open = 0;
    language_for_shortcutt_page0();
}

void SmartMapping::on_Button_loadscan_clicked()
{
    if (g_qround_bar)
        return;
    button_select(ui->Button_loadscan);
    ui->stackedWidget->setCurrentIndex(kPageLoadScan);
    language_for_loadscan_page4();
    file_page_open = 0;
}

void SmartMapping::on_Button_paraweld_clicked()
{
    if (g_qround_bar)
        return;
    button_select(ui->Button_paraweld);
    ui->stackedWidget->setCurrentIndex(kPageParaweld);
    language_for_paraweld_page6();
    file_page_open = 0;
}

void SmartMapping::on_Button_mapping_clicked()
{
    if (g_qround_bar)
        return;
    button_select(ui->Button_mapping);
    show_mapping_state();
    ui->stackedWidget->setCurrentIndex(kPageMapping);
    file_page_open = 0;
    language_for_mapping_onoff_page7();
}

// ------------------------------------------------------------------------------------
// Parameter curing and mapping switch

void SmartMapping::menulist_paraweld_page1_init()
{
    menu_focus->setStyleSheet(style_entered);
    ui->Button_confirm->setStyleSheet(style_focused);
}

void SmartMapping::menulist_paraweld_button_ok_page()
{
    on_Button_confirm_clicked();
}

void SmartMapping::menulist_paraweld_back_page()
{
    menu_focus->setStyleSheet(style_focused);
    ui->Button_confirm->setStyleSheet(style_normal);
    menu_entered = 0;
}

void SmartMapping::on_Button_confirm_clicked()
{
    start_job(3);
}

void SmartMapping::menulist_mapping_page1_init()
{
    menu_focus->setStyleSheet(style_entered);
    ui->Button_mapping_state->setStyleSheet(style_focused);
}

void SmartMapping::menulist_mapping_button_ok_page()
{
    emit ui->Button_mapping_state->clicked();
}

void SmartMapping::menulist_mapping_back_page()
{
    menu_focus->setStyleSheet(style_focused);
    ui->Button_mapping_state->setStyleSheet(style_normal);
    menu_entered = 0;
}

void SmartMapping::show_mapping_state()
{
    const bool on = function_register(true) & kMappingOn;
    ui->Button_mapping_state->setIcon(QIcon(on ? QStringLiteral(":/png/button_on.png") : QStringLiteral(":/png/button_off.png")));
    ui->Button_mapping_state->setIconSize(QSize(40, 20));
    ui->Button_mapping_state->setProperty("iconPath", on ? "button_on" : "button_off");
}

void SmartMapping::on_Button_mapping_state_clicked()
{
    // Nothing while a job runs. The register and the icon are left to the job: the FPGA
    // manager sets the bit once a card has switched, and the icon follows when the job ends.
    if (!fpga_manage::p_fpga_manage || g_qround_bar || g_send_para.job != 0)
        return;
    const bool on = function_register(true) & kMappingOn;
    g_send_para.mapping = on ? 0 : 9;
    start_job(4);
}

void SmartMapping::language_for_paraweld_page6()
{
    const double points = kel_lang() == KEL_LANG_RU ? 7 : 9;
    kel_fit_text(ui->label_step1_6,
                 kel_text("参数固化操作", "Parameter curing operation", "Полное сохранение всех настроек", "Lưu thông số",
                          "參數固化操作"),
                 points, KelFit::LineBox);
    kel_fit_text(ui->Button_confirm, kel_text("确定", "OK", "OK", "Đồng ý", "確定"), 9, KelFit::LineBox);
}

void SmartMapping::language_for_mapping_onoff_page7()
{
    const double points = kel_lang() == KEL_LANG_RU ? 7 : 9;
    kel_fit_text(ui->label_step1_7,
                 kel_text("Mapping开关", "Mapping switch", "Переключатель сопоставления", "Bật mapping", "Mapping開關"),
                 points, KelFit::LineBox);
}

// ------------------------------------------------------------------------------------
// Keys

void SmartMapping::move_in_list(int step)
{
    menu_focus->setStyleSheet(menu_focus == ui->Button_loadscan && scan_file_avail == 0 ? style_disabled : style_normal);
    int next = menu_index + step;
    // Without a scan-parameter file the Load scan entry is stepped over.
    if (next == 1 && scan_file_avail == 0)
        next += step;
    next = (next + kFunctions) % kFunctions;
    menu_index = uint8_t(next);
    menu_focus = menu_list[menu_index];
    menu_focus->setStyleSheet(style_focused);
    menulist_main_sel();
}

void SmartMapping::enter_function()
{
    if (g_qround_bar)
        return;
    switch (menu_index) {
    case 0:
        on_Button_shortcut_clicked();
        menulist_shortcut_page1_init();
        break;
    case 1:
        on_Button_loadscan_clicked();
        menulist_loadscan_page1_init(1);
        break;
    case 2:
        on_Button_paraweld_clicked();
        menulist_paraweld_page1_init();
        break;
    default:
        on_Button_mapping_clicked();
        menulist_mapping_page1_init();
        break;
    }
    menu_entered = 1;
}

void SmartMapping::keyPressEvent(QKeyEvent* event)
{
    screen_key_press("SmartMapping", event);
}

void SmartMapping::keyReleaseEvent(QKeyEvent* event)
{
    screen_key_release(this, "SmartMapping", event->key(), keyboard,
                       {[this](int step) { key_move(step); }, [this] { key_ok(); }, [this] { key_back(); },
                        [this] {
                            if (g_smartmapping == this)
                                g_smartmapping = nullptr;
                            Option::close_menu();
                        },
                        // A job runs: the dialog stays and the key goes nowhere.
                        [] { return g_qround_bar != nullptr; }});
}

void SmartMapping::key_move(int step)
{
    if (!menu_entered)
        move_in_list(step);
    else if (menu_index == 0)
        menulist_shortcut_sel(step);
    else if (menu_index == 1 && scan_step == 0)
        step < 0 ? menulist_loadscan_page1_sel_left() : menulist_loadscan_page1_sel_right();
    else if (menu_index == 1)
        step < 0 ? menulist_loadscan_page2_sel_left() : menulist_loadscan_page2_sel_right();
}

void SmartMapping::key_ok()
{
    if (!menu_entered)
        enter_function();
    else if (menu_index == 0)
        menulist_shortcut_button_ok_page();
    else if (menu_index == 1)
        menulist_loadscan_button_ok_page();
    else if (menu_index == 2)
        menulist_paraweld_button_ok_page();
    else if (menu_index == 3)
        menulist_mapping_button_ok_page();
}

void SmartMapping::key_back()
{
    // While a job runs Back only asks it to end where it waits (a file's sleep or a card
    // that does not answer); the ring then closes. The pages stay as they are, so the keys
    // keep acting on the page on screen.
    if (g_qround_bar) {
        if (g_send_para.job != 0)
            g_send_para.cancel = 1;
        return;
    }
    if (!menu_entered)
        Button_back_clicked();
    else if (menu_index == 0)
        menulist_shortcut_back_page();
    else if (menu_index == 1)
        menulist_loadscan_back_page();
    else if (menu_index == 2)
        menulist_paraweld_back_page();
    else if (menu_index == 3)
        menulist_mapping_back_page();
}
