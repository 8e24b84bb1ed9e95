#include "gui/settings/settingsscreen.h"

#include "core/kelrampara.h"
#include "gui/kel_keys.h"
#include "gui/kel_screens.h"
#include "gui/textfit.h"
#include "gui/linkoption.h"
#include "gui/option.h"
#include "gui/outputset.h"
#include "gui/screen_keys.h"
#include "gui/settings/advancedoption.h"
#include "gui/settings/imagequality.h"

#include <QDebug>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

SettingsScreen::SettingsScreen(const char* objectName, int opener, QWidget* parent)
    : QDialog(parent), opener_page(opener)
{
    style_normal = QStringLiteral(
        "color:rgb(255,255,255);background-color: rgb(33, 36, 53) ; border:2px solid rgb(33, 36, 53);border-radius:10px;padding:2px 4px");
    style_focus = QStringLiteral("color:rgb(255,255,255);background-color: rgb(33, 36, 53); border:2px solid "
                                 "rgb(255,171,84);border-radius:10px;padding:2px 4px");
    setObjectName(QString::fromLatin1(objectName));
    resize(320, 240);
    setWindowTitle(QStringLiteral("Dialog"));
    setStyleSheet(QStringLiteral(KEL_STYLE_WINDOW));
    label_title = new QLabel(this);
    label_title->setObjectName(QStringLiteral("label_title"));
    label_title->setGeometry(20, 10, 280, 22);
    label_title->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    label_title->setAlignment(Qt::AlignCenter);
}

void SettingsScreen::set_title(const QString& text)
{
    kel_fit_text(label_title, text, 11, KelFit::LineBox);
}

QPushButton* SettingsScreen::add_entry(const char* objectName, int x, int y, int w, int h)
{
    auto* button = new QPushButton(this);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setGeometry(x, y, w, h);
    button->setFocusPolicy(Qt::NoFocus);
    button->setStyleSheet(style_normal);
    menulist.push_back(button);
    return button;
}

void SettingsScreen::set_entry_text(QPushButton* entry, const QString& text, double points)
{
    kel_fit_text(entry, text, points, KelFit::LineBox);
}

void SettingsScreen::menulist_init()
{
    ui_select = 0;
    focus_widget = nullptr;
    if (menulist.empty())
        return;
    for (QPushButton* entry : menulist)
        entry->setStyleSheet(style_normal);
    focus_widget = menulist.front();
    focus_widget->setStyleSheet(style_focus);
}

void SettingsScreen::syncUpdate()
{
    if (KelRamPara::pInstance()->KelLanguageChanged())
        language_changed();
}

void SettingsScreen::open_entry(int) {}

bool SettingsScreen::screen_key(int)
{
    return false;
}

void SettingsScreen::slot_Button_back_clicked()
{
    clear_pointer();
    return_to(this, opener_page);
}

void SettingsScreen::return_to(QDialog* screen, int page)
{
    screen->setAttribute(Qt::WA_DeleteOnClose);
    screen->close();
    switch (page) {
    case 5:
        if (g_option)
            g_option->language_changed();
        break;
    case 6:
        if (g_outputset)
            g_outputset->language_changed();
        break;
    case 10:
        if (g_linkoption)
            g_linkoption->language_changed();
        break;
    case 11:
        if (g_imagequality)
            g_imagequality->language_changed();
        break;
    case 12:
        if (g_advancedoption)
            g_advancedoption->language_changed();
        break;
    default:
        break;
    }
    g_page_focus = u8(page);
}

void SettingsScreen::close_chain(int page)
{
    switch (page) {
    case 6:
        kel_close_screen(g_outputset);
        break;
    case 10:
        kel_close_screen(g_linkoption);
        break;
    case 11:
        kel_close_screen(g_imagequality);
        break;
    case 12:
        kel_close_screen(g_advancedoption);
        break;
    default:
        break;
    }
    Option::close_menu();
}

void SettingsScreen::keyPressEvent(QKeyEvent* event)
{
    screen_key_press(objectName().toLatin1().constData(), event);
}

void SettingsScreen::keyReleaseEvent(QKeyEvent* event)
{
    const QByteArray name = objectName().toLatin1();
    screen_key_release(this, name.constData(), event->key(), keyboard,
                       {[this](int step) {
                            kel_step_focus(menulist.data(), int(menulist.size()), ui_select, focus_widget, style_normal,
                                           style_focus, step);
                        },
                        [this] {
                            if (!menulist.empty())
                                open_entry(ui_select);
                        },
                        [this] { slot_Button_back_clicked(); },
                        [this] {
                            clear_pointer();
                            close_chain(opener_page);
                        },
                        {},
                        [this](int code) { return screen_key(code); }});
}
