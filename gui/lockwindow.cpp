#include "gui/lockwindow.h"

#include "core/alias.h"
#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/kel_keys.h"
#include "gui/textfit.h"
#include "gui/kel_screens.h"
#include "gui/mainwindow.h"
#include "gui/sourceinfo.h"
#include "ui_lockwindow.h"

#include <QDebug>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <cstring>
#include <mutex>

LockWindow* g_lockwindow = nullptr;

namespace {
const char* const kTileStyle[4] = {
    "background-color: #867AE9;font: 20px",
    "background-color: #EBA83A;font: 20px",
    "background-color: #005A8D;font: 20px",
    "background-color: #FF96AD;font: 20px",
};

QString text_close()
{
    return kel_text("未开启", "Close", "Откл", "Đóng", "未開啟");
}

QString text_black()
{
    return kel_text("黑屏", "Black", "Черный", "Màn đen", "黑屏");
}

QString text_no_signal()
{
    return kel_text("无信号", "No signal", "Нет сигнала", "Không có tín hiệu", "無信號");
}

int audio_window(const KelRamPara::BlockCopy& block)
{
    const int n = block.ram[KelRamPara::kAudioWindow];
    return n > 5 ? 0 : n;
}

int layer_offset(int window)
{
    return KelRamPara::kLayers + KelRamPara::kLayerSize * window;
}
} // namespace

LockWindow::LockWindow(QWidget* parent)
    : QDialog(parent), ui(new Ui::LockWindow), block_(new KelRamPara::BlockCopy)
{
    ui->setupUi(this);
    ui->widget->installEventFilter(this);
    ui->main_Button->setIcon(QIcon(QStringLiteral(":/png/menu_status.png")));
    ui->main_Button->setIconSize(QSize(20, 20));
    ui->main_Button->hide();
    ui->label_ip->setPixmap(QPixmap(QStringLiteral(":/png/ip.png")));
    ui->label_ip->setScaledContents(true);
    ui->label_LED_icon->setPixmap(QPixmap(QStringLiteral(":/png/LED.png")));
    ui->label_LED_icon->setScaledContents(true);
    ui->label_bright_icon->setPixmap(QPixmap(QStringLiteral(":/png/bright.png")));
    ui->label_bright_icon->setScaledContents(true);
    ui->label_contrast_icon->setPixmap(QPixmap(QStringLiteral(":/png/contrast.png")));
    ui->label_contrast_icon->setScaledContents(true);
    ui->label_volume->hide();
    para_init();
    image_init();
    ip_changed();
    language_changed();
}

LockWindow::~LockWindow()
{
    delete ui;
    if (g_lockwindow == this)
        g_lockwindow = nullptr;
}

const KelRamPara::BlockCopy& LockWindow::fresh_block()
{
    KelRamPara::pInstance()->copy_block(*block_);
    return *block_;
}

void LockWindow::set_led_size_text()
{
    const KelRamPara::BlockCopy& para = fresh_block();
    const QString format = kel_text("LED屏:%d x %d", "LED size:%d x %d", "Размер LED:%d x %d", "Led:%d x %d",
                                    "LED屏:%d x %d");
    kel_fit_text_designed(ui->label_input,
                          QString::asprintf(format.toUtf8().constData(), int(para.ram16(KelRamPara::kLedWidth)),
                                            int(para.ram16(KelRamPara::kLedHeight))));
}

void LockWindow::set_volume_icon(bool on)
{
    const QString path = on ? QStringLiteral(":/png/volume_open.png") : QStringLiteral(":/png/volume_close.png");
    ui->label_volume_icon->setPixmap(QPixmap(path));
    ui->label_volume_icon->setScaledContents(true);
    ui->label_volume_icon->setProperty("iconPath", path);
}

void LockWindow::para_init()
{
    set_led_size_text();
    const KelRamPara::BlockCopy& para = *block_;
    ui->label_bright->setText(QString::asprintf("%d", int(para.ram16(KelRamPara::kBrightness))));
    ui->label_contrast->setText(QString::asprintf("%d", int(para.ram16(KelRamPara::kBrightness + 2))));
    set_volume_icon(volume_check());
}

bool LockWindow::volume_check()
{
    const KelRamPara::BlockCopy& para = fresh_block();
    return (para.ram[layer_offset(audio_window(para)) + KelRamPara::kLayerSound] & 0x80) != 0;
}

void LockWindow::ip_changed()
{
    QString ip;
    {
        std::lock_guard<std::mutex> lock(g_str_globals_mutex);
        ip = g_str_ip;
    }
    ui->label_IPaddr->setText(ip);
}

void LockWindow::language_changed()
{
    set_led_size_text();
    image_init();
}

void LockWindow::syncUpdate()
{
    if (KelRamPara::pInstance()->KelLanguageChanged())
        language_changed();

    // Every value is drawn from the live block, not only those that differ from the saved
    // copy: a change made while another screen was in front, or one back to the saved value
    // (the sound handed back to window 0), must show too. The sound is the audio window's.
    para_init();
    image_init();
    ip_changed();
}

void LockWindow::image_init()
{
    if (image_frame != nullptr) {
        delete image_frame;
        image_frame = nullptr;
    }
    for (int w = 0; w < 4; ++w) {
        image_tile[w] = nullptr;
        image_name[w] = nullptr;
        image_state[w] = nullptr;
        image_freeze[w] = nullptr;
    }
    image_select = nullptr;

    const KelRamPara::BlockCopy& para = fresh_block();
    image_frame = new QFrame(this);
    image_frame->setObjectName(QStringLiteral("image_frame"));
    image_frame->setGeometry(0, 74, 320, 160);
    image_frame->installEventFilter(this);
    QFont font;
    font.setPixelSize(10);
    const unsigned screenState = para.ram16(KelRamPara::kScreenDark);

    for (int w = 0; w < 4; ++w) {
        const int c = 155 * (w % 2);
        const int r = 50 * (w / 2);
        const int layer = layer_offset(w);

        QLabel* tile = new QLabel(image_frame);
        tile->setObjectName(QStringLiteral("image_tile%1").arg(w));
        tile->setGeometry(c + 10, r + 10, 40, 40);
        tile->setStyleSheet(QString::fromLatin1(kTileStyle[w]));
        tile->setAlignment(Qt::AlignCenter);
        tile->setText(QString::asprintf("%d", w + 1));
        image_tile[w] = tile;

        QLabel* name = new QLabel(image_frame);
        name->setObjectName(QStringLiteral("image_name%1").arg(w));
        name->setGeometry(c + 55, r + 13, 100, 15);
        name->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255)"));
        name->setFont(font);
        image_name[w] = name;

        if (w == g_image_current) {
            image_select = new QLabel(tile);
            image_select->setObjectName(QStringLiteral("image_select"));
            image_select->setGeometry(28, 0, 12, 12);
            image_select->setPixmap(QPixmap(QStringLiteral(":/png/osd_yes.png")));
            image_select->setScaledContents(true);
        }

        const bool open = w == 0 || para.ram16(layer + KelRamPara::kLayerFlags) == 1;
        if (!open) {
            QLabel* state = new QLabel(image_frame);
            state->setObjectName(QStringLiteral("image_state%1").arg(w));
            state->setGeometry(c + 55, r + 20, 40, 15);
            state->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255)"));
            state->setFont(font);
            state->setText(text_close());
            image_state[w] = state;
            continue;
        }

        // Where the picture comes from: a whole input, or one of its crops. The crop record
        // is read here by its index and named by its own crop number; a port above 3 or an
        // index past the 40 records means there is no picture to describe.
        int16_t isCrop = 0;
        char cropIndex = 0;
        unsigned port = unsigned(KelRamPara::pInstance()->KelGetImageSource(para.ram, uint8_t(w), &isCrop,
                                                                           &cropIndex, 0));
        bool valid = true;
        unsigned width = 0;
        unsigned height = 0;
        if (isCrop) {
            const unsigned index = static_cast<unsigned char>(cropIndex);
            if (index < unsigned(KelRamPara::kCropCount)) {
                const uint8_t* rec = para.ram + KelRamPara::kCropRecords + KelRamPara::kCropRecordSize * index;
                const unsigned id = KelRamPara::get16(rec);
                port = id & 0xFF;
                width = KelRamPara::get16(rec + 6);
                height = KelRamPara::get16(rec + 8);
                name->setText(sourceinfo::get_source_name_by_sourceid(uint8_t(port)) +
                              QString::asprintf("_Crop%u", ((id >> 8) & 0x7F) + 1));
            } else {
                valid = false;
            }
        } else {
            const QString input = sourceinfo::get_source_name_by_sourceid(uint8_t(port));
            ALIAS_PARA alias;
            if (port <= 3 && get_json_alias_para(&alias, "source", int(port)) == 1) {
                const QString text = QString::fromStdString(alias.name);
                name->setText(QFontMetrics(name->font()).elidedText(text, Qt::ElideRight, name->width()));
            } else {
                name->setText(input);
            }
        }
        if (port > 3)
            valid = false;

        QLabel* state = new QLabel(image_frame);
        state->setObjectName(QStringLiteral("image_state%1").arg(w));
        state->setGeometry(c + 55, r + 28, 100, 12);
        state->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
        state->setFont(font);
        image_state[w] = state;
        const unsigned output = para.ram[layer + KelRamPara::kLayerOutput];
        QString stateText;
        if (screenState == 1) {
            stateText = text_black();
        } else {
            unsigned rate = 0;
            if (valid) {
                const uint8_t* status = para.ram + KelRamPara::kInputStatus + 6 * port;
                if (!isCrop) {
                    width = KelRamPara::get16(status);
                    height = KelRamPara::get16(status + 2);
                }
                rate = KelRamPara::get16(status + 4);
            }
            if (!valid || rate == 0 || width == 0 || height == 0)
                stateText = text_no_signal();
            else
                stateText = QString::asprintf("%ux%u@%uHz", width, height, rate);
            if (output & 0x01)
                stateText = text_black();
        }
        // A descender of the no-signal text must not fall below the low line.
        kel_fit_text_px(state, stateText, font.pixelSize());

        if ((output & 0x02) || screenState == 2) {
            QLabel* freeze = new QLabel(tile);
            freeze->setObjectName(QStringLiteral("image_freeze%1").arg(w));
            freeze->setGeometry(0, 0, 16, 16);
            freeze->setPixmap(QPixmap(QStringLiteral(":/png/freeze.png")));
            freeze->setScaledContents(true);
            image_freeze[w] = freeze;
        }
    }
    image_frame->show();
}

void LockWindow::open_main_menu(bool showMain)
{
    setAttribute(Qt::WA_DeleteOnClose);
    close();
    g_page_focus = 1;
    if (g_mainwindow != nullptr) {
        g_mainwindow->language_changed();
        if (showMain)
            g_mainwindow->show();
    }
}

bool LockWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != ui->widget && watched != image_frame)
        return QDialog::eventFilter(watched, event);
    // Touches arrive as mouse events: a release anywhere leaves for the main menu, and no
    // mouse event reaches the widgets below. Paint, layout and the rest pass on.
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
        open_main_menu(false);
        return true;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
        return true;
    default:
        return QDialog::eventFilter(watched, event);
    }
}

void LockWindow::on_main_Button_clicked()
{
    open_main_menu(false);
}

void LockWindow::keyPressEvent(QKeyEvent* event)
{
    const KelKey key = kel_key(event->key());
    if (key == KEL_OK)
        qDebug("this is OK button(LockWindow)[Press]");
    else if (key == KEL_BACK)
        qDebug("this is back button(LockWindow)[Press]");
}

void LockWindow::keyReleaseEvent(QKeyEvent* event)
{
    const int code = event->key();
    qDebug("in LockWindow keyReleaseEvent event %#x", code);
    switch (kel_key(code)) {
    case KEL_OK:
        open_main_menu(true);
        break;
    case KEL_MODE: {
        if (kel_mode_shortcut(this, "LockWindow", [] { g_lockwindow = nullptr; }) == KelModeKey::Locked)
            return;   // locked: the key is not passed on either
        break;
    }
    default:
        break;
    }
    keyboard.update_usb_keyEvent(code);
}
