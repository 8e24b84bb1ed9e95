#include "gui/settings/linkwlan.h"

#include "core/global.h"
#include "gui/kel_keys.h"
#include "gui/textfit.h"
#include "gui/my_lineedit.h"
#include "gui/numberkeyboard.h"

#include <QLabel>
#include <QPointer>
#include <QStringList>
#include <algorithm>
#include <mutex>

linkwlan* g_linkwlan = nullptr;

linkwlan::linkwlan(QWidget* parent) : SettingsScreen("linkwlan", 10, parent)
{
    style_field = QStringLiteral("color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255, "
                                 "255, 255);");
    style_field_focus = QStringLiteral(
        "color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);");
    QFont fieldFont;
    fieldFont.setPixelSize(kel_lcd_px(10));
    for (int row = 0; row < 3; ++row) {
        label_rows[row] = new QLabel(this);
        label_rows[row]->setObjectName(QStringLiteral("label_row%1").arg(row));
        label_rows[row]->setGeometry(10, 60 + 50 * row, 80, 24);
        label_rows[row]->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
        label_rows[row]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        for (int col = 0; col < 4; ++col) {
            My_lineEdit* field = new My_lineEdit(this);
            field->setObjectName(QStringLiteral("lineEdit_%1").arg(row * 4 + col));
            field->setGeometry(98 + 54 * col, 60 + 50 * row, 46, 24);
            field->setFocusPolicy(Qt::NoFocus);
            field->setFont(fieldFont);
            field->setAlignment(Qt::AlignCenter);
            field->setStyleSheet(style_field);
            connect(field, &My_lineEdit::send_show, this, &linkwlan::show_numberkeyboard_ui);
            line_edits[row * 4 + col] = field;
        }
    }
    if (g_numberkeyboard)
        connect(g_numberkeyboard, &NumberKeyboard::sendKeyBoardUIDataToLineEdit, this, &linkwlan::confirmString);
    para_init();
    ui_select = 0;
    focus_widget = line_edits[0];
    focus_widget->setStyleSheet(style_field_focus);
    language_changed();
}

linkwlan::~linkwlan()
{
    clear_pointer();
}

void linkwlan::clear_pointer()
{
    if (g_linkwlan == this)
        g_linkwlan = nullptr;
}

namespace {
void network_texts(QString (&texts)[3])
{
    std::lock_guard<std::mutex> hold(g_str_globals_mutex);
    texts[0] = g_str_ip;
    texts[1] = g_srt_mask;
    texts[2] = g_str_gateway;
}
} // namespace

void linkwlan::syncUpdate()
{
    SettingsScreen::syncUpdate();
    QString texts[3];
    network_texts(texts);
    if (texts[0] != drawn[0] || texts[1] != drawn[1] || texts[2] != drawn[2])
        para_init();
}

void linkwlan::para_init()
{
    network_texts(drawn);
    for (int row = 0; row < 3; ++row) {
        const QStringList octets = drawn[row].split(QLatin1Char('.'));
        for (int col = 0; col < 4; ++col)
            line_edits[row * 4 + col]->setText(octets.size() == 4 ? octets[col] : QStringLiteral("0"));
    }
}

void linkwlan::language_changed()
{
    set_title(kel_text("网口设置", "Net connect", "Сетевое подключение", "Cài đặt cổng mạng", "網口設置"));
    kel_fit_text(label_rows[0], kel_text("IP地址", "IP", "IP", "IP", "IP地址"), 10, KelFit::LineBox);
    kel_fit_text(label_rows[1], kel_text("子网掩码", "Mask", "Маска", "Mặt nạ", "子網掩碼"), 10, KelFit::LineBox);
    kel_fit_text(label_rows[2], kel_text("网关", "Gateway", "Шлюз", "Cổng", "網關"), 10, KelFit::LineBox);
}

void linkwlan::show_numberkeyboard_ui(QString text)
{
    auto* field = qobject_cast<QLineEdit*>(sender());
    if (!field)
        return;
    g_lineedit = field;
    if (!g_numberkeyboard)
        return;
    const int index = field->objectName().mid(9).toInt();
    // The row's caption, read again after this screen's own re-text when the language changes.
    g_numberkeyboard->label_show([row = QPointer<QLabel>(label_rows[std::clamp(index / 4, 0, 2)])] { return row ? row->text() : QString(); }, text);
    g_numberkeyboard->exec();
}

void linkwlan::confirmString(QString text)
{
    if (!g_lineedit)
        return;
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value < 0)
        return;
    g_lineedit->setText(QString::number(std::min<qlonglong>(value, 255)));
}

bool linkwlan::screen_key(int code)
{
    // Left and Right walk the twelve fields; OK opens the keypad for the focused one.
    switch (kel_key(code)) {
    case KEL_LEFT:
        kel_step_focus(line_edits, kFields, ui_select, focus_widget, style_field, style_field_focus, -1);
        return true;
    case KEL_RIGHT:
        kel_step_focus(line_edits, kFields, ui_select, focus_widget, style_field, style_field_focus, +1);
        return true;
    case KEL_OK:
        emit line_edits[ui_select]->send_show(line_edits[ui_select]->text());
        return true;
    default:
        return false;
    }
}
