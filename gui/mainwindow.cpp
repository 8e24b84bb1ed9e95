#include "gui/mainwindow.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "core/utils.h"
#include "fpga/fpga_manage.h"
#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/numberkeyboard.h"
#include "gui/textfit.h"
#include "gui/tip.h"
#include "protocol/message_deal.h"
#include "scaler/c331_manage.h"
#include "ui_mainwindow.h"

#include <QDateTime>
#include <QDebug>
#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <cstring>
#include <memory>
#include <mutex>

QFrame* g_mode[16] = {};

namespace {
using P = KelRamPara;

constexpr int kMenuEntries = 6;   // machinestate .. tools
constexpr int kToolEntries = 4;   // toolButton1 .. toolButton4
constexpr int kToolBase = 6;      // focus-list index of toolButton1

const char kFrameSaved[] = "background-color: #212435;border-radius:5px;";
const char kFrameEmpty[] = "background-color: #B2B2B2;border-radius:5px;";
const char kFrameClicked[] = "background-color: #00D65B;border-radius:5px;";

// A write of scaler settings: the block is edited under its lock and the apply flag raised
// before the lock is released.
class ScalerEdit {
public:
    ScalerEdit() : manager_(c331_manage::p_c331_manage), lock_(KelRamPara::lock_block()) {}
    ~ScalerEdit()
    {
        if (manager_)
            manager_->raise_apply_flag(1);
    }

private:
    c331_manage* manager_;
    std::unique_lock<std::mutex> lock_;
};

// The window whose sound the tool bar switches; an out-of-range number means window 0.
int audio_window(const uint8_t* block)
{
    const int w = block[P::kAudioWindow];
    return w > 5 ? 0 : w;
}

bool slot_saved(int slot)
{
    return slot >= 0 && slot < P::kModeSlots && KelRamPara::pInstance()->KelUserModeSaved(slot) == 1;
}
} // namespace

MainWindow::MainWindow(QWidget* parent)
    : QMainWindow(parent),
      tip_pending(0),
      ui_select(0),
      mode_index(0),
      l_call_state(0),
      l_save_state(0),
      l_lock_state(0),
      ui(new Ui::MainWindow),
      focus_widget_(nullptr),
      widget_mode(nullptr),
      mode_title_(nullptr),
      mode_buttons_{},
      pointer_(nullptr),
      reboot_issued_(false),
      style_large_(KEL_STYLE_LARGE),
      style_small_(KEL_STYLE_SMALL),
      style_large_focus_(KEL_STYLE_LARGE_FOCUS),
      style_small_focus_(KEL_STYLE_SMALL_FOCUS),
      style_mode_bar_("#widget_mode{background-color: rgb(255, 255, 255);border:1px groove gray;border-radius:1px;}"),
      style_mode_button_("background-color:transparent;"),
      style_mode_button_focus_("background-color:transparent;border-radius:5px;border:2px solid rgb(255,171,84);")
{
    kel_icons_init();
    ui->setupUi(this);
    ui->widget->hide();
    mode_init();

    pointer_ = new QLabel(this);
    pointer_->setPixmap(QPixmap(kel_icon_plain(QStringLiteral("pointer"))));
    pointer_->setScaledContents(true);
    pointer_->hide();

    ui->label_IP->setPixmap(QPixmap(kel_icon_plain(QStringLiteral("ip"))));
    ui->label_IP->setScaledContents(true);
    set_icon(ui->Button_lock, kel_icon_plain(QStringLiteral("unlock")), 16, 16);
    set_icon(ui->tools, kel_icon_plain(QStringLiteral("tools")), 16, 16);
    set_icon(ui->toolButton3, kel_icon(QStringLiteral("uncall")), 24, 36);
    set_icon(ui->toolButton4, kel_icon(QStringLiteral("unsave")), 24, 36);

    g_numberkeyboard = new NumberKeyboard(nullptr);
    g_numberkeyboard->setWindowFlags(Qt::FramelessWindowHint);
    g_tip = new TIP(nullptr);
    own_keyboard_ = g_numberkeyboard;
    own_tip_ = g_tip;

    menulist_init();
    language_changed();
}

MainWindow::~MainWindow()
{
    // Built once for the whole run on the device; tests build and delete their own.
    if (g_mainwindow == this)
        g_mainwindow = nullptr;
    for (auto& frame : g_mode)
        frame = nullptr;
    delete own_keyboard_.data();
    delete own_tip_.data();
    delete ui;
}

void MainWindow::set_icon(QPushButton* button, const QString& path, int w, int h)
{
    button->setIcon(QIcon(path));
    button->setIconSize(QSize(w, h));
    button->setProperty("iconPath", path);
}

QPushButton* MainWindow::mode_button(int slot) const
{
    return (slot >= 0 && slot < 16) ? mode_buttons_[slot] : nullptr;
}

bool MainWindow::tool_bar_shown() const
{
    return !ui->widget->isHidden();
}

// --- focus ---

void MainWindow::unfocus(int index)
{
    if (index < 0 || index >= 10)
        return;
    focus_list_[index]->setStyleSheet(index < 4 ? style_large_ : style_small_);
}

void MainWindow::focus_on(int index)
{
    if (index < 0 || index >= 10)
        return;
    focus_widget_ = focus_list_[index];
    focus_widget_->setStyleSheet(index < 4 ? style_large_focus_ : style_small_focus_);
}

void MainWindow::menulist_init()
{
    QWidget* list[10] = {ui->machinestate, ui->inputchoose, ui->custommode,  ui->option,      ui->Button_lock,
                         ui->tools,        ui->toolButton1, ui->toolButton2, ui->toolButton3, ui->toolButton4};
    for (int i = 0; i < 10; ++i)
        focus_list_[i] = list[i];
    ui_select = 0;
    focus_on(0);
}

// --- texts, icons and refresh ---

void MainWindow::language_changed()
{
    const QSize menu(100, 70);
    ui->machinestate->setIcon(QIcon(kel_icon(QStringLiteral("machinestate"))));
    ui->inputchoose->setIcon(QIcon(kel_icon(QStringLiteral("inputchoose"))));
    ui->custommode->setIcon(QIcon(kel_icon(QStringLiteral("custommode"))));
    ui->option->setIcon(QIcon(kel_icon(QStringLiteral("option"))));
    ui->machinestate->setIconSize(menu);
    ui->inputchoose->setIconSize(menu);
    ui->custommode->setIconSize(menu);
    ui->option->setIconSize(menu);
    set_icon(ui->toolButton3, kel_icon(QStringLiteral("uncall")), 24, 36);
    set_icon(ui->toolButton4, kel_icon(QStringLiteral("unsave")), 24, 36);
    para_init();
    ip_changed();
}

void MainWindow::para_init()
{
    // Drawn from a copy: PC links write the block on their threads.
    std::unique_ptr<P::BlockCopy> block(new P::BlockCopy);
    KelRamPara::pInstance()->copy_block(*block);
    set_icon(ui->toolButton1, kel_icon(block->ram16(P::kScreenDark) == 1 ? "closeled" : "uncloseled"), 24, 36);
    const uint8_t sound = block->ram[P::kLayers + P::kLayerSize * audio_window(block->ram) + P::kLayerSound];
    set_icon(ui->toolButton2, kel_icon((sound & 0x80) ? "unslience" : "slience"), 24, 36);
    if (block->ram16(P::kKeyLock) != 0) {   // any non-zero word locks the keys
        set_icon(ui->Button_lock, kel_icon_plain(QStringLiteral("lock")), 16, 16);
        l_lock_state = 1;
    } else {
        set_icon(ui->Button_lock, kel_icon_plain(QStringLiteral("unlock")), 16, 16);
        l_lock_state = 0;
    }
}

void MainWindow::ip_changed()
{
    QString ip;
    {
        std::lock_guard<std::mutex> hold(g_str_globals_mutex);
        ip = g_str_ip;
    }
    ui->label_IPaddr->setText(ip);
}

void MainWindow::syncUpdate()
{
    KelRamPara* p = KelRamPara::pInstance();
    if (p->KelLanguageChanged())
        language_changed();
    // The tool bar is drawn from the live block whatever the saved copy holds: the audio
    // window and its sound, the screen and the key lock may have changed and changed back.
    para_init();
    ip_changed();
}

void MainWindow::mode_bar_changed()
{
    if (!widget_mode || !widget_mode->isVisible())
        return;
    mode_init();
    place_mode_bar();
    set_mode_title();
    widget_mode->show();
}

// --- firmware-update dialog (called from worker threads too) ---

void MainWindow::update_start()
{
    QMetaObject::invokeMethod(
        this,
        [] {
#ifdef KEL_HAVE_FIRMWAREUPDATE
            firmware_update_start();
#else
            KEL_TRACE("\n firmware update dialog not built\n");
#endif
        },
        Qt::QueuedConnection);
}

void MainWindow::update_over()
{
    QMetaObject::invokeMethod(
        this,
        [] {
#ifdef KEL_HAVE_FIRMWAREUPDATE
            firmware_update_over();
#else
            KEL_TRACE("\n firmware update dialog not built\n");
#endif
        },
        Qt::QueuedConnection);
}

// --- menu entries ---

void MainWindow::on_machinestate_clicked()
{
    mode_window_close();
#ifdef KEL_HAVE_MACHINESTATE
    g_machinestate = new MachineState(nullptr);
    g_page_focus = 2;
    g_machinestate->exec();
#else
    KEL_TRACE("\n MachineState is not built yet: nothing opened\n");
#endif
}

void MainWindow::on_inputchoose_clicked()
{
    mode_window_close();
#ifdef KEL_HAVE_INPUTCHOOSE
    g_inputchoose = new InputChoose(nullptr);
    g_page_focus = 3;
    g_inputchoose->exec();
#else
    KEL_TRACE("\n InputChoose is not built yet: nothing opened\n");
#endif
}

void MainWindow::on_custommode_clicked()
{
    mode_window_close();
    open_custommode();
}

void MainWindow::open_custommode()
{
#ifdef KEL_HAVE_CUSTOMMODE
    g_custommode = new CustomMode(nullptr);
    g_page_focus = 4;
    g_custommode->show();
#else
    KEL_TRACE("\n CustomMode is not built yet: nothing opened\n");
#endif
}

void MainWindow::on_option_clicked()
{
    mode_window_close();
#ifdef KEL_HAVE_OPTION
    g_option = new Option(nullptr);
    g_page_focus = 5;
    g_option->exec();
#else
    KEL_TRACE("\n Option is not built yet: nothing opened\n");
#endif
}

void MainWindow::open_lockwindow()
{
    mode_window_close();
#ifdef KEL_HAVE_LOCKWINDOW
    g_lockwindow = new LockWindow(nullptr);
    g_page_focus = 0;
    g_lockwindow->show();
#else
    KEL_TRACE("\n LockWindow is not built yet: nothing opened\n");
#endif
}

void MainWindow::on_Button_lock_clicked()
{
    KelRamPara* p = KelRamPara::pInstance();
    {
        // A PC link may write the block meanwhile.
        std::unique_lock<std::mutex> block = KelRamPara::lock_block();
        // From what the word holds now (a PC may have locked), not from the icon's copy.
        P::put16(p->ram + P::kKeyLock, p->ram16(P::kKeyLock) != 0 ? 0 : 1);
    }
    para_init();   // the icon reads the word back
    // No scaler setting: nothing else would announce it, and it must reach the file.
    p->test_signal(1);
}

void MainWindow::on_tools_clicked()
{
    if (!tool_bar_shown()) {
        ui->widget->show();
        unfocus(ui_select < kMenuEntries ? ui_select : 5);
        ui_select = 0;
        mode_index = 0;
        focus_on(kToolBase);
        return;
    }
    if (widget_mode) {
        widget_mode->hide();
        widget_mode->deleteLater();
        widget_mode = nullptr;
        for (auto& frame : g_mode)
            frame = nullptr;
        for (auto& button : mode_buttons_)
            button = nullptr;
        mode_title_ = nullptr;
    }
    pointer_->hide();
    l_call_state = 0;
    l_save_state = 0;
    mode_index = 0;
    set_icon(ui->toolButton3, kel_icon(QStringLiteral("uncall")), 24, 36);
    set_icon(ui->toolButton4, kel_icon(QStringLiteral("unsave")), 24, 36);
    ui->widget->hide();
    // Back on the menu: the focus returns to the tools button.
    unfocus(kToolBase + (ui_select < kToolEntries ? ui_select : 0));
    ui_select = 5;
    focus_on(5);
}

// --- tool bar ---

void MainWindow::on_toolButton1_clicked()
{
    KelRamPara* p = KelRamPara::pInstance();
    uint16_t dark;
    {
        ScalerEdit edit;
        dark = uint16_t((p->ram16(P::kScreenDark) + 1) & 1);
        P::put16(p->ram + P::kScreenDark, dark);
    }
    set_icon(ui->toolButton1, kel_icon(dark == 1 ? "closeled" : "uncloseled"), 24, 36);
}

void MainWindow::on_toolButton2_clicked()
{
    KelRamPara* p = KelRamPara::pInstance();
    bool on;
    {
        ScalerEdit edit;
        int w = p->ram[P::kAudioWindow];
        if (w > 5 || P::get16(p->ram + P::kLayers + P::kLayerSize * w + P::kLayerFlags) == 0) {
            P::put16(p->ram + P::kAudioWindow, 0);
            w = 0;
        }
        uint8_t* record = p->ram + P::kLayers + P::kLayerSize * w;
        if (record[P::kLayerSound] & 0x80) {
            record[P::kLayerVolume] = 0;
            record[P::kLayerSound] = 0;
            on = false;
        } else {
            record[P::kLayerVolume] = 255;
            record[P::kLayerSound] = 0x80;
            on = true;
        }
    }
    set_icon(ui->toolButton2, kel_icon(on ? "unslience" : "slience"), 24, 36);
}

void MainWindow::on_toolButton3_clicked()
{
    if (l_call_state)
        return;
    l_call_state = 1;
    if (l_save_state) {
        l_save_state = 0;
        set_icon(ui->toolButton4, kel_icon(QStringLiteral("unsave")), 24, 36);
    }
    open_mode_bar(ui->toolButton3, QStringLiteral("call"));
}

void MainWindow::on_toolButton4_clicked()
{
    if (l_save_state)
        return;
    l_save_state = 1;
    if (l_call_state) {
        l_call_state = 0;
        set_icon(ui->toolButton3, kel_icon(QStringLiteral("uncall")), 24, 36);
    }
    open_mode_bar(ui->toolButton4, QStringLiteral("save"));
}

// Recall and save share the user-mode bar: it opens on the next saved mode, and the tool
// button that opened it shows its active icon while the bar is up.
void MainWindow::open_mode_bar(QPushButton* opener, const QString& activeIcon)
{
    unfocus(kToolBase + (ui_select < kToolEntries ? ui_select : 0));
    const int i = KelRamPara::pInstance()->KelUserModeIndex(char(mode_index), 2);
    if (i >= 0 && i < 16) {
        mode_index = uint8_t(i);
        set_icon(opener, kel_icon(activeIcon), 24, 36);
    } else {
        mode_index = 0;
    }
    mode_init();
    place_mode_bar();
    set_mode_title();
    widget_mode->show();
    pointer_->setGeometry(281, 148, 9, 12);
    pointer_->show();
    pointer_->raise();
}

// --- user-mode bar ---

void MainWindow::place_mode_bar()
{
    if (widget_mode)
        widget_mode->setGeometry(11, 6, 270, 230);
}

void MainWindow::set_mode_title()
{
    if (!mode_title_)
        return;
    if (l_call_state)
        kel_fit_text_designed(mode_title_, kel_text("用户模式调用", "User mode invocation", "Загрузка настроек", "Điều chỉnh chế độ",
                                      "用戶模式調用"));
    else
        kel_fit_text_designed(
            mode_title_, kel_text("用户模式保存", "User mode save", "Сохранение настроек", "Chế độ lưu", "用戶模式保存"));
}

void MainWindow::mode_init()
{
    // The old bar may hold the button whose click is being handled right now: it goes
    // with the next turn of the event loop, never from inside its own signal.
    if (widget_mode) {
        widget_mode->hide();
        widget_mode->deleteLater();
    }
    KelRamPara* p = KelRamPara::pInstance();
    const int current = p->KelGetCurrentModeIndex();

    widget_mode = new QWidget(this);
    widget_mode->setObjectName(QStringLiteral("widget_mode"));
    widget_mode->setGeometry(11, 6, 270, 230);
    widget_mode->setAttribute(Qt::WA_StyledBackground, true);
    widget_mode->setStyleSheet(style_mode_bar_);
    widget_mode->hide();

    mode_title_ = new QLabel(widget_mode);
    mode_title_->setGeometry(10, 5, 210, 28);
    QFont titleFont = mode_title_->font();
    titleFont.setPointSize(9);
    mode_title_->setFont(titleFont);
    mode_title_->setStyleSheet(QStringLiteral("background-color: rgb(255, 255, 255);"));

    const QString inUse = kel_text("使用中\u00AD", "Using", "Использовать", "sử dụng", "使用中\u00AD");
    for (int k = 0; k < 16; ++k) {
        const int x = 15 + 63 * (k % 4);
        const int y = 33 + 45 * (k / 4);
        const bool saved = slot_saved(k);

        QFrame* frame = new QFrame(widget_mode);
        frame->setGeometry(x, y, 50, 40);
        frame->setStyleSheet(saved ? kFrameSaved : kFrameEmpty);
        g_mode[k] = frame;

        QLabel* number = new QLabel(widget_mode);
        number->setGeometry(x, y, 12, 12);
        number->setText(QString::asprintf("%d", k + 1));
        number->setAlignment(Qt::AlignCenter);
        number->setStyleSheet(
            QStringLiteral("background-color: #4777FF;color: #FFFFFF;border-radius:3px;font: 8px;"));

        QLabel* icon = new QLabel(frame);
        icon->setPixmap(QPixmap(kel_icon_plain(saved ? "mode_exist" : "mode_blank")));
        icon->setScaledContents(true);
        if (k + 1 == current) {
            icon->setGeometry(17, 7, 16, 16);
            QLabel* using_ = new QLabel(frame);
            using_->setGeometry(7, 23, 36, 17);
            using_->setAlignment(Qt::AlignCenter);
            using_->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
            kel_fit_text_px(using_, inUse, 8);
        } else {
            icon->setGeometry(17, 12, 16, 16);
        }

        QPushButton* button = new QPushButton(widget_mode);
        button->setGeometry(x, y, 50, 40);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFlat(true);
        button->setObjectName(QString::number(k));
        const bool highlighted =
            k == mode_index && ((saved && (l_call_state || l_save_state)) || (!saved && l_save_state));
        button->setStyleSheet(highlighted ? style_mode_button_focus_ : style_mode_button_);
        connect(button, &QPushButton::clicked, this, &MainWindow::kel_button_mode_clicked);
        number->raise();
        button->raise();
        mode_buttons_[k] = button;
    }
}

void MainWindow::mode_window_close()
{
    if (!widget_mode)
        return;
    l_call_state = 0;
    l_save_state = 0;
    widget_mode->hide();
    pointer_->hide();
}

void MainWindow::on_usermodesel_clicked(char direction)
{
    if (!l_call_state && !l_save_state)
        return;
    const int r = KelRamPara::pInstance()->KelUserModeIndex(char(mode_index), direction);
    if (l_save_state) {
        if (direction == 1)
            mode_index = mode_index >= 15 ? 0 : mode_index + 1;
        else
            mode_index = mode_index == 0 ? 15 : mode_index - 1;
    } else {
        mode_index = (r >= 0 && r <= 15) ? uint8_t(r) : 0;
    }
    mode_init();
    place_mode_bar();
    set_mode_title();
    widget_mode->show();
}

void MainWindow::on_deletewidgetmode_clicked()
{
    if (l_save_state) {
        l_save_state = 0;
        set_icon(ui->toolButton4, kel_icon(QStringLiteral("unsave")), 24, 36);
    }
    if (l_call_state) {
        l_call_state = 0;
        set_icon(ui->toolButton3, kel_icon(QStringLiteral("uncall")), 24, 36);
    }
    if (widget_mode)
        widget_mode->hide();
    pointer_->hide();
}

void MainWindow::on_toolusermode_clicked()
{
    if (!l_call_state && !l_save_state)
        return;
    l_call_state = 0;
    l_save_state = 0;
    set_icon(ui->toolButton4, kel_icon(QStringLiteral("unsave")), 24, 36);
    set_icon(ui->toolButton3, kel_icon(QStringLiteral("uncall")), 24, 36);
    if (widget_mode)
        widget_mode->hide();
    pointer_->hide();
}

void MainWindow::kel_button_mode_clicked()
{
    QObject* from = sender();
    if (!from)
        return;
    bool ok = false;
    const int clicked = from->objectName().toInt(&ok);
    if (!ok || clicked < 0 || clicked > 15)
        return;

    const int before = g_mode_select;
    if (before >= 0 && before < 16 && g_mode[before])
        g_mode[before]->setStyleSheet(slot_saved(before) ? kFrameSaved : kFrameEmpty);
    g_mode_select = uint8_t(clicked);

    KelRamPara* p = KelRamPara::pInstance();
    if (l_save_state) {
        {
            std::unique_lock<std::mutex> block = KelRamPara::lock_block();
            if (clicked + 1 != p->ram16(P::kModeSaveRequest)) {
                P::put16(p->ram + P::kModeSaveRequest, uint16_t(clicked + 1));
                if (c331_manage* scaler = c331_manage::p_c331_manage)
                    scaler->raise_apply_flag(1);
            }
        }
        l_save_state = 0;
        on_toolButton4_clicked();
        tip_pending = 1;
    } else if (l_call_state && slot_saved(clicked)) {
        {
            // Only the PC writes a slot meanwhile, and only whole records under this lock.
            ScalerEdit edit;
            std::memcpy(p->ram + P::kModeArea, &p->mode_slot[clicked][2], P::kModeAreaLength);
            p->set_mode_words_locked(clicked + 1, 0);
        }
        l_call_state = 0;
        mode_index = uint8_t(clicked);
        on_toolButton3_clicked();
        tip_pending = 1;
    }
    if (g_mode[clicked])
        g_mode[clicked]->setStyleSheet(kFrameClicked);
}

// --- keys ---

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // Presses are swallowed: the screens act on the release.
    const KelKey key = kel_key(event->key());
    if (key == KEL_OK)
        qDebug("this is OK button(MainWindow)[Press]\n");
    else if (key == KEL_BACK)
        qDebug("this is back button(MainWindow)[Press]\n");
}

void MainWindow::keyReleaseEvent(QKeyEvent* event)
{
    const int code = event->key();
    const KelKey key = kel_key(code);
    const bool toolBar = tool_bar_shown();
    const bool armed = toolBar && (l_call_state || l_save_state);

    switch (key) {
    case KEL_RIGHT:
        qDebug("this is right-code [MainWindow][Release] ui_select=%#x", ui_select);
        if (armed) {
            on_usermodesel_clicked(1);
        } else if (toolBar) {
            const int cur = ui_select < kToolEntries ? ui_select : 0;
            unfocus(kToolBase + cur);
            ui_select = uint8_t(cur + 1 >= kToolEntries ? 0 : cur + 1);
            focus_on(kToolBase + ui_select);
        } else {
            const int cur = ui_select < kMenuEntries ? ui_select : 0;
            unfocus(cur);
            ui_select = uint8_t(cur + 1 >= kMenuEntries ? 0 : cur + 1);
            focus_on(ui_select);
        }
        break;
    case KEL_LEFT:
        qDebug("this is left-code [MainWindow][Release] ui_select=%#x", ui_select);
        if (armed) {
            on_usermodesel_clicked(0);
        } else if (toolBar) {
            const int cur = ui_select < kToolEntries ? ui_select : 0;
            unfocus(kToolBase + cur);
            ui_select = uint8_t(cur == 0 ? kToolEntries - 1 : cur - 1);
            focus_on(kToolBase + ui_select);
        } else {
            const int cur = ui_select < kMenuEntries ? ui_select : 0;
            unfocus(cur);
            ui_select = uint8_t(cur == 0 ? kMenuEntries - 1 : cur - 1);
            focus_on(ui_select);
        }
        break;
    case KEL_OK:
        qDebug("this is OK button(MainWindow)[Release]\n");
        if (armed) {
            if (mode_index < 16 && mode_buttons_[mode_index])
                mode_buttons_[mode_index]->click();
        } else if (toolBar) {
            switch (ui_select) {
            case 0:
                on_toolButton1_clicked();
                break;
            case 1:
                on_toolButton2_clicked();
                break;
            case 2:
                on_toolButton3_clicked();
                break;
            case 3:
                on_toolButton4_clicked();
                break;
            default:
                break;
            }
        } else {
            switch (ui_select) {
            case 0:
                on_machinestate_clicked();
                break;
            case 1:
                on_inputchoose_clicked();
                break;
            case 2:
                on_custommode_clicked();
                break;
            case 3:
                on_option_clicked();
                break;
            case 4:
                on_Button_lock_clicked();
                break;
            case 5:
                on_tools_clicked();
                break;
            default:
                break;
            }
        }
        break;
    case KEL_BACK:
        qDebug("this is back button(MainWindow)[Release]\n");
        if (armed) {
            on_deletewidgetmode_clicked();
            focus_on(kToolBase + (ui_select < kToolEntries ? ui_select : 0));
        } else if (toolBar) {
            ui->widget->hide();
            if (ui_select > 3)
                ui_select = 0;
            unfocus(kToolBase + ui_select);
            ui_select = 5;
            focus_on(5);
            on_toolusermode_clicked();
        } else {
            open_lockwindow();
        }
        break;
    case KEL_MODE:
        if (KelRamPara::pInstance()->locked16(P::kKeyLock) != 0)
            return;   // refused by the key lock, and not handed on
        g_mode_shortcut_key = 1;
        on_custommode_clicked();
        break;
    default:
        break;
    }
    keyboard_.update_usb_keyEvent(code);
}

// --- the ageing log ---

void MainWindow::getagelog()
{
    QDateTime now;
    {
        std::lock_guard<std::mutex> hold(Utils::_system_mutex);
        now = QDateTime::currentDateTime();
    }
    fpga_manage* fpga = fpga_manage::p_fpga_manage;
    fpga->read_from_register(40, 0);
    fpga->read_from_register(42, 0);
    fpga->read_from_register(43, 0);
    // The manager's thread and the links' interrupt service write the shadow meanwhile.
    factoryage_log.append(QStringLiteral("%1 %2 %3 %4")
                              .arg(now.toString(QStringLiteral("MM-dd hh:mm")))
                              .arg(fpga->reg_shadow(42, 0))
                              .arg(fpga->reg_shadow(40, 0))
                              .arg(fpga->reg_shadow(43, 0)));
    // Seven days of 3-minute samples.
    while (factoryage_log.size() > 3360)
        factoryage_log.removeFirst();
    if (factoryage_log.size() < 2)
        return;
    // Field 2 is register 42, an 8-bit counter that wraps.
    const int prev = factoryage_log.at(factoryage_log.size() - 2).split(' ').value(2).toInt();
    const int cur = factoryage_log.last().split(' ').value(2).toInt();
    int step = cur - prev;
    if (prev > cur)
        step += 256;
    if (step <= 0)
        return;
    if (step <= 2)
        ++factoryage_log_diff3;
    else if (step <= 4)
        ++factoryage_log_diff5;
    else if (step <= 9)
        ++factoryage_log_diff10;
    else if (step <= 19)
        ++factoryage_log_diff20;
    else
        ++factoryage_log_diffmore;
}

// --- the 10 ms tick ---

void MainWindow::slot_update_timer_ticks()
{
    G_timeTicks = G_timeTicks + 1;

#ifdef KEL_HAVE_FIRMWAREUPDATE
    if (g_update_flag && g_move_update)
        g_move_update->update_time_deal();
#endif
    if (g_update_flag)
        message_deal::update_watch();

    if (g_tip_flag && g_tip)
        g_tip->tip_outtime_deal();

    // One reboot per request: the command is issued once, 3 s after the request's stamp, and
    // not before an upload of a program, kernel or logo is over (the reboot would tear it).
    if (g_app_reset_flag && !reboot_issued_ && Utils::getTimeSpace(G_reboot_tickTicks) >= 300 && message_deal::restart_may_go()) {
        reboot_issued_ = true;
        reboot_ticks_ = G_timeTicks;
        // A reboot that does not happen is met below: the program runs on.
        static_cast<void>(Utils::system_mutex(QStringLiteral("reboot"), nullptr));
    }
    // A reboot that has not taken the program down 30 s after it was issued did not happen
    // (on the simulated board it is only written down): the program runs on as a restart
    // would find it, with nothing pending and no update shown, and a finish then installs
    // what waits, as after a restart.
    if (reboot_issued_ && Utils::getTimeSpace(reboot_ticks_) >= kRebootGoneTicks) {
        g_app_reset_flag = 0;
        reboot_issued_ = false;
        message_deal::update_over();
    }

    if (Utils::getTimeSpace(G_factoryage_ticks) > 17999) {
        G_factoryage_ticks = G_timeTicks.load();
        // A poll that finds the FPGA down or a PC command running is not retried before
        // the next 3-minute mark.
        if (fpga_manage::p_fpga_manage != nullptr && pc_cmd_valid == 0
            && fpga_manage::p_fpga_manage->get_fpga_status() == 1)
            getagelog();
#ifdef KEL_HAVE_FACTORYAGE
        if (g_factoryage)
            g_factoryage->update_agelog();
#endif
        G_factoryage_ticks = G_timeTicks.load();
    }

    if (g_delay_usbserver == 0 && Utils::getTimeSpace(g_delay_usbserver_ticks) >= 1000)
        g_delay_usbserver = 1;
}
