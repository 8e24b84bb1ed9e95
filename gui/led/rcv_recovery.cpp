#include "gui/led/rcv_recovery.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "fpga/fpga_manage.h"
#include "gui/QRoundProgressBar.h"
#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/textfit.h"
#include "gui/tip.h"
#include "gui/screen_keys.h"
#include "gui/settings/settingsscreen.h"
#include "ui_rcv_recovery.h"

#include <QDebug>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <algorithm>

rcv_recovery* g_rcv_recovery = nullptr;

namespace {

const char kButtonNormal[] = "color:rgb(255, 255, 255);border:1px solid rgb(255, 255, 255);";
const char kButtonFocused[] = "color:rgb(255, 255, 255);border:1px solid rgb(255,171,84);";
const char kRowBuilt[] = "background-color: rgb(33, 36, 53);color: #FFFFFF";
const char kRowNormal[] = "background-color: rgb(33, 36, 53);color: #FFFFFF;";
const char kRowSelected[] = "background-color:#4777FF;color: #FFFFFF;";
const char kPageButton[] = "background-color: rgb(33, 36, 53);";

QString failure_text(int job)
{
    return job == 5 ? kel_text("查询失败!", "Query failed!", "Ошибка запроса!", "Tìm hiểu thất bại!", "查詢失敗!")
                    : kel_text("恢复失败!", "Recovery failed!", "Ошибка восстановления!", "Phục hồi thất bại!", "恢復失敗!");
}

QPushButton* page_button(QWidget* parent, const char* icon, int y)
{
    auto* b = new QPushButton(parent);
    b->setGeometry(250, y, 20, 20);
    b->setIcon(QIcon(QString::fromLatin1(icon)));
    b->setIconSize(QSize(20, 20));
    b->setStyleSheet(QString::fromLatin1(kPageButton));
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

} // namespace

rcv_recovery::rcv_recovery(QWidget* parent) : QDialog(parent), ui(new Ui::rcv_recovery)
{
    ui->setupUi(this);
    ui->label_para_file->hide();
    ui->Button_closetest->hide();
    menulist_init();
    language_changed();
    // Jobs 5 and 6 report their progress and their list of cards to this screen.
    fpga_manage::set_progress_screen(fpga_manage::kProgressRcvRecovery, this);
}

rcv_recovery::~rcv_recovery()
{
    fpga_manage::set_progress_screen(fpga_manage::kProgressRcvRecovery, nullptr);
    delete ui;
    if (g_rcv_recovery == this)
        g_rcv_recovery = nullptr;
}

void rcv_recovery::menulist_init()
{
    ui_select = 0;
    menulist[0] = ui->Button_check;
    menulist[1] = ui->Button_self_covery;
    focus_widget = ui->Button_check;
    ui->Button_check->setStyleSheet(QString::fromLatin1(kButtonFocused));
    ui->Button_self_covery->setStyleSheet(QString::fromLatin1(kButtonNormal));
    rcv_self_recovery_file_list();
}

void rcv_recovery::language_changed()
{
    kel_fit_text(ui->label_title,
                 kel_text("接收卡自恢复", "Receiving card self recovery", "Самовосстановление приемной карты",
                          "Thẻ nhận tự phục hồi", "接收卡自恢復"),
                 11, KelFit::LineBox);
    kel_fit_text(ui->label_rcv_update,
                 kel_text("接收卡更新", "Receiving card update", "Получить обновление карты",
                          "Nhận thông tin cập nhập về thẻ", "接收卡更新"),
                 9, KelFit::LineBox);
    const double points = kel_lang() == KEL_LANG_VN ? 7 : 9;
    kel_fit_text(ui->Button_check, kel_text("查询", "Query", "Считать", "Tìm hiểu", "查詢"), points, KelFit::LineBox);
    kel_fit_text(ui->Button_self_covery, kel_text("恢复", "Recovery", "Восстановить", "Phục hồi", "恢復"), points, KelFit::LineBox);
    const u8 lang = kel_lang();
    if (lang == KEL_LANG_ZH || lang == KEL_LANG_TN)
        ui->Button_closetest->setText(lang == KEL_LANG_ZH ? QStringLiteral("查询") : QStringLiteral("查詢"));
    setWindowTitle(ui->label_title->text());
    rcv_self_recovery_file_list();
}

QString rcv_recovery::row_text(const QString& entry)
{
    const QStringList f = entry.split(QLatin1Char('/'));
    if (f.size() < 4)
        return QString();
    const bool beyond = f[2].toInt() > f[3].toInt();
    const QString card = (beyond ? QStringLiteral("<font color = #FF0000 >%1</font>")
                                 : QStringLiteral("<font color = #FFFFFF >%1</font>"))
                             .arg(f[2]);
    const u8 lang = kel_lang();
    if (lang == KEL_LANG_ZH)
        return QStringLiteral("发现 屏幕") + f[0] + QStringLiteral(", 网口LED") + f[1] + QStringLiteral(", 接收卡") + card;
    if (lang == KEL_LANG_TN)
        return QStringLiteral("髮現 屏幕") + f[0] + QStringLiteral(", 網口LED") + f[1] + QStringLiteral(", 接收卡") + card;
    return QStringLiteral("Find Screen") + f[0] + QStringLiteral(", LED") + f[1] + QStringLiteral(", Rcv") + card;
}

void rcv_recovery::rcv_self_recovery_file_list()
{
    // 1. A new list area with all its children.
    delete frame_file;
    for (int r = 0; r < kRowsPerPage; ++r) {
        row_labels[r] = nullptr;
        row_texts[r].clear();
    }
    button_previous = nullptr;
    button_next = nullptr;
    frame_file = new QFrame(ui->frame);
    frame_file->setObjectName(QStringLiteral("frame_file"));
    frame_file->setGeometry(10, 50, 280, 90);
    frame_file->setStyleSheet(QStringLiteral("#frame_file{background-color: rgb(33, 36, 53);border:1px solid #FFFFFF;}"));

    QFont rowFont;
    rowFont.setPixelSize(kel_lcd_px(7));
    // 2. Nothing listed.
    if (file_count == 0) {
        auto* empty = new QLabel(frame_file);
        empty->setGeometry(5, 5, 220, 20);
        empty->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        empty->setStyleSheet(QString::fromLatin1(kRowBuilt));
        kel_fit_text(empty,
                     check_failed ? failure_text(5)
                                  : kel_text("暂无接收卡需要更新!", "No receiving cards that need to be updated!",
                                             "Обновление принимающих карт не требуется!",
                                             "Chưa có thẻ nhận nào để cập nhật!", "暫無接收卡需要更新!"),
                     7, KelFit::LineBox);
        frame_file->show();
        return;
    }
    // 3. The entries of the shown page; the count never reaches past the list itself.
    const int count = std::min<int>(file_count, file_list.size());
    page_last = uint8_t(count > 0 ? (count - 1) / kRowsPerPage : 0);
    if (current_page > page_last)
        current_page = 0;
    const int first = current_page * kRowsPerPage;
    const int end = std::min(count, first + kRowsPerPage);
    rcv_out_of_range = 0;
    for (int i = first; i < end; ++i) {
        const int r = i - first;
        const QString text = row_text(file_list[i]);
        if (text.isEmpty())
            continue;   // fewer than four fields: the row stays empty
        auto* label = new QLabel(frame_file);
        label->setGeometry(5, 5 + 25 * r, 220, 20);
        label->setFont(rowFont);
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setText(text);
        label->setStyleSheet(QString::fromLatin1(r == file_select ? kRowSelected : kRowBuilt));
        row_labels[r] = label;
        row_texts[r] = text;
        auto* button = new QPushButton(frame_file);
        button->setGeometry(5, 5 + 25 * r, 220, 20);
        button->setFlat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setObjectName(QString::number(r));
        connect(button, &QPushButton::clicked, this, &rcv_recovery::kel_button_file_clicked);
        const QStringList f = file_list[i].split(QLatin1Char('/'));
        rcv_out_of_range = f[2].toInt() > f[3].toInt() ? 1 : 0;
    }
    // 4. Page buttons where there is a page before or after.
    if (current_page > 0) {
        button_previous = page_button(frame_file, ":/png/previous.png", 5);
        connect(button_previous, &QPushButton::clicked, this, &rcv_recovery::kel_Button_previous_clicked);
    }
    if (current_page < page_last) {
        button_next = page_button(frame_file, ":/png/next.png", 80);
        connect(button_next, &QPushButton::clicked, this, &rcv_recovery::kel_Button_next_clicked);
    }
    frame_file->show();
}

void rcv_recovery::set_file_list(const QStringList& list)
{
    file_list = list;
    file_count = uint8_t(std::min<int>(list.size(), 255));
}

void rcv_recovery::kel_button_file_clicked()
{
    if (file_select < kRowsPerPage && row_labels[file_select])
        row_labels[file_select]->setStyleSheet(QString::fromLatin1(kRowNormal));
    const int row = sender() ? sender()->objectName().toInt() : 0;
    if (row < 0 || row >= kRowsPerPage)
        return;
    file_select = uint8_t(row);
    if (row_labels[row])
        row_labels[row]->setStyleSheet(QString::fromLatin1(kRowSelected));
}

void rcv_recovery::kel_Button_previous_clicked()
{
    if (current_page > 0)
        --current_page;
    rcv_self_recovery_file_list();
}

void rcv_recovery::kel_Button_next_clicked()
{
    ++current_page;
    if (current_page > page_last)
        current_page = 0;
    rcv_self_recovery_file_list();
}

void rcv_recovery::menulist_sel_left()
{
    if (g_qround_bar)
        return;
    kel_step_focus(menulist, 2, ui_select, focus_widget, QString::fromLatin1(kButtonNormal),
                   QString::fromLatin1(kButtonFocused), -1);
}

void rcv_recovery::menulist_sel_right()
{
    if (g_qround_bar)
        return;
    kel_step_focus(menulist, 2, ui_select, focus_widget, QString::fromLatin1(kButtonNormal),
                   QString::fromLatin1(kButtonFocused), +1);
}

bool rcv_recovery::start_job(uint8_t code)
{
    // One job at a time: none pending in the manager and no ring shown.
    if (g_qround_bar || g_send_para.job != 0)
        return false;
    QRoundProgressBar::create_qround_bar(this);
    if (!g_qround_bar)
        return false;
    connect(this, &rcv_recovery::sig_qround_bar_update, g_qround_bar, &QRoundProgressBar::para_sync);
    job_started = code;
    g_send_para.post(code);
    return true;
}

void rcv_recovery::card_job_failed(int)
{
    check_failed = job_started == 5;
    rcv_self_recovery_file_list();
    if (g_tip)
        g_tip->tip_message(failure_text(job_started));
}

void rcv_recovery::menulist_button_ok_page()
{
    if (g_send_para.job != 0 || g_qround_bar)
        return;
    if (ui_select == 0) {
        // The list is emptied at once, entries and all: Recovery can only act on a card that
        // the new check lists.
        file_list.clear();
        file_count = 0;
        current_page = 0;
        check_failed = false;
        rcv_self_recovery_file_list();
        start_job(5);
        return;
    }
    if (rcv_out_of_range)
        return;
    if (file_list.isEmpty() || file_count == 0) {
        ui->Button_self_covery->setStyleSheet(QString::fromLatin1(kButtonNormal));
        ui->Button_check->setStyleSheet(QString::fromLatin1(kButtonFocused));
        focus_widget = ui->Button_check;
        ui_select = 0;
        return;
    }
    start_job(6);
}

void rcv_recovery::menulist_back_page()
{
    if (g_qround_bar) {
        // The dialog stays while a job runs; Back asks the job to end where it waits (a
        // file's sleep or a card that does not answer), and the ring then closes.
        if (g_send_para.job != 0)
            g_send_para.cancel = 1;
        return;
    }
    if (g_rcv_recovery == this)
        g_rcv_recovery = nullptr;
    SettingsScreen::return_to(this, 12);
}

void rcv_recovery::syncUpdate(int code)
{
    if (KelRamPara::pInstance()->KelLanguageChanged())
        language_changed();
    const u16 found = g_send_para.progress;
    if (code == 99 || (found != 255 && found != 65535))
        rcv_self_recovery_file_list();
}

void rcv_recovery::keyPressEvent(QKeyEvent* event)
{
    screen_key_press("rcv_recovery", event);
}

void rcv_recovery::keyReleaseEvent(QKeyEvent* event)
{
    screen_key_release(this, "rcv_recovery", event->key(), keyboard,
                       {[this](int step) { step < 0 ? menulist_sel_left() : menulist_sel_right(); },
                        [this] { menulist_button_ok_page(); }, [this] { menulist_back_page(); },
                        [this] {
                            if (g_rcv_recovery == this)
                                g_rcv_recovery = nullptr;
                            SettingsScreen::close_chain(12);
                        },
                        // A job runs: the dialog stays and the key goes nowhere.
                        [] { return g_qround_bar != nullptr; }});
}
