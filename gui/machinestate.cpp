#include "gui/machinestate.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "fpga/fpga_manage.h"
#include "gui/kel_keys.h"
#include "gui/textfit.h"
#include "gui/kel_screens.h"
#include "gui/mainwindow.h"
#include "gui/screen_keys.h"
#include "gui/sourceinfo.h"
#include "ui_machinestate.h"

#include <QDebug>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <cstring>
#include <mutex>

MachineState* g_machinestate = nullptr;

namespace {
// The application's own version: 11.2.0 of 2026-09-28.
constexpr int kVersionMajor = 11;
constexpr int kVersionMinor = 2;
constexpr int kVersionPatch = 0;
const char* const kVersionDate = "2026-09-28";

// The four used input places, left to right: HDMI1, HDMI2, HDMI3, DVI.
QLabel* input_name_label(Ui::MachineState* ui, int id)
{
    switch (id) {
    case 0: return ui->sourceid4name;
    case 1: return ui->sourceid1name;
    case 2: return ui->sourceid2name;
    case 3: return ui->sourceid3name;
    default: return nullptr;
    }
}

QLabel* input_icon_label(Ui::MachineState* ui, int id)
{
    switch (id) {
    case 0: return ui->sourceid4pixmap;
    case 1: return ui->sourceid1pixmap;
    case 2: return ui->sourceid2pixmap;
    case 3: return ui->sourceid3pixmap;
    default: return nullptr;
    }
}
} // namespace

MachineState::MachineState(QWidget* parent) : QDialog(parent), ui(new Ui::MachineState)
{
    ui->setupUi(this);
    ui->label_FPGA1->setGeometry(150, 15, 140, 15);
    ui->label_FPGA2->hide();
    ui->sourceid0name->hide();
    ui->sourceid5name->hide();
    for (int id = 0; id < 4; ++id) {
        input_name_label(ui, id)->setText(sourceinfo::get_source_specialstyle0_by_sourceid(uint8_t(id))
                                              .replace(QStringLiteral("%1"),
                                                       sourceinfo::get_source_name_by_sourceid(uint8_t(id))));
    }
    ui->Button_back->setIcon(QIcon(QStringLiteral(":/png/back.png")));
    ui->Button_back->setIconSize(QSize(32, 32));
    ui->Button_back->hide();
    ui->label_state1->setScaledContents(true);
    ui->label_state2->setScaledContents(true);
    ui->label_state3->setScaledContents(true);
    initWlan();
    language_changed();
    version_changed();
    source_check();

    QString barcode;
    {
        std::lock_guard<std::mutex> lock(g_str_globals_mutex);
        barcode = g_str_barcode;
    }
    if (barcode.compare(QStringLiteral(" "), Qt::CaseInsensitive) != 0)
        ui->label_2->setText(QStringLiteral("SN:") + barcode);
}

MachineState::~MachineState()
{
    delete ui;
    if (g_machinestate == this)
        g_machinestate = nullptr;
}

void MachineState::initWlan()
{
    if (wlan_frame != nullptr) {
        delete wlan_frame;
        wlan_frame = nullptr;
    }
    wlan_frame = new QFrame(ui->frame);
    wlan_frame->setObjectName(QStringLiteral("wlan_frame"));
    wlan_frame->setGeometry(20, 20, 288, 65);
    wlan_frame->setStyleSheet(QStringLiteral("background-color: rgb(33, 36, 53);"));

    wlan_mask = 0;
    if (fpga_manage::p_fpga_manage != nullptr)
        wlan_mask = fpga_manage::p_fpga_manage->get_wlan_state();

    for (int i = 0; i < 10; ++i) {
        QLabel* number = new QLabel(wlan_frame);
        // Wide enough for "10", centred where the port's icon is.
        number->setGeometry(58 + 18 * i, 13, 16, 14);
        number->setAlignment(Qt::AlignCenter);
        number->setText(QString::asprintf("%d", i + 1));
        number->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);font: 10px"));
        wlan_number[i] = number;

        const bool online = (wlan_mask >> i) & 1u;
        QLabel* icon = new QLabel(wlan_frame);
        icon->setGeometry(56 + 18 * i, 27, 16, 14);
        icon->setPixmap(QPixmap(online ? QStringLiteral(":/png/online.png") : QStringLiteral(":/png/offline.png")));
        icon->setScaledContents(true);
        icon->setProperty("online", online);
        wlan_icon[i] = icon;
    }
    wlan_frame->show();
}

void MachineState::source_check()
{
    KelRamPara* para = KelRamPara::pInstance();
    for (int port = 0; port < 4; ++port) {
        // The input-status bytes are written by the source thread (and PC links).
        uint8_t status[6];
        para->copy_bytes(KelRamPara::kInputStatus + 6 * port, status, sizeof status);
        const bool online = KelRamPara::get16(status) != 0 && KelRamPara::get16(status + 2) != 0 &&
                            KelRamPara::get16(status + 4) != 0;
        QLabel* label = input_icon_label(ui, port);
        sourceinfo::set_sourceonline_pixmap(label, uint8_t(port), online ? 1 : 0);
        label->setScaledContents(true);
        label->setProperty("online", online);
    }
}

QString MachineState::mcu_version()
{
    return QString::asprintf("V%02d.%02d.%02d %s", kVersionMajor, kVersionMinor, kVersionPatch, kVersionDate);
}

QString MachineState::fpga_version(const unsigned char* regs)
{
    return QString::asprintf("V11.00.%02x %x-%02x-%02x", regs[28], 0x2000u + regs[31], regs[30], regs[29]);
}

void MachineState::version_changed()
{
    ui->label_MCU->setText(QStringLiteral("MCU:") + mcu_version());
    // The manager's thread refreshes the register image: its bytes are read under its lock.
    unsigned char regs[32] = {};
    if (fpga_manage* fpga = fpga_manage::p_fpga_manage)
        for (int reg = 28; reg < 32; ++reg)
            regs[reg] = fpga->reg_shadow(reg, 0);
    kel_fit_text_designed(ui->label_FPGA1, QStringLiteral("FPGA:") + fpga_version(regs));
}

void MachineState::language_changed()
{
    // The side captions are drawn in every language.
    const QString version = kel_icon(QStringLiteral("version_state"));
    const QString output = kel_icon(QStringLiteral("output_state"));
    const QString input = kel_icon(QStringLiteral("input_state"));
    kel_fit_text_designed(ui->label_title, kel_text("设备信息", "Devices", "Устройство", "Thiết bị", "設備信息"));
    ui->label_state3->setPixmap(QPixmap(version));
    ui->label_state1->setPixmap(QPixmap(output));
    ui->label_state2->setPixmap(QPixmap(input));
    ui->label_state1->setProperty("iconPath", output);
    ui->label_state2->setProperty("iconPath", input);
    ui->label_state3->setProperty("iconPath", version);
}

void MachineState::syncUpdate(int code)
{
    if (KelRamPara::pInstance()->KelLanguageChanged())
        language_changed();
    source_check();
    if (fpga_manage::p_fpga_manage != nullptr && code == 11)
        initWlan();
}

void MachineState::back_to_main_menu()
{
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    if (g_mainwindow != nullptr)
        g_mainwindow->language_changed();
    if (g_machinestate == this)
        g_machinestate = nullptr;
    g_page_focus = 1;
}

void MachineState::on_Button_back_clicked()
{
    back_to_main_menu();
}

void MachineState::keyPressEvent(QKeyEvent* event)
{
    screen_key_press("MachineState", event);
}

void MachineState::keyReleaseEvent(QKeyEvent* event)
{
    screen_key_release(this, "MachineState", event->key(), keyboard,
                       {{}, {}, [this] { back_to_main_menu(); },
                        [this] {
                            if (g_machinestate == this)
                                g_machinestate = nullptr;
                        }});
}
