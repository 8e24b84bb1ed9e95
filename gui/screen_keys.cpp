#include "gui/screen_keys.h"

#include "gui/kel_keys.h"
#include "gui/kel_screens.h"

#include <QDebug>
#include <QKeyEvent>
#include <QPointer>

void screen_key_press(const char* name, const QKeyEvent* event)
{
    if (event->key() == KEL_KEY_OK_PANEL)
        qDebug("this is OK button(%s)[Press]", name);
    else if (event->key() == KEL_KEY_BACK_PANEL)
        qDebug("this is back button(%s)[Press]", name);
}

void screen_key_release(QWidget* screen, const char* name, int code, kel_keyboard& keyboard, const ScreenKeys& keys)
{
    // A screen opened from an action may close this one with its mode key while it runs.
    QPointer<QWidget> self(screen);
    const KelKey key = keys.own_key && keys.own_key(code) ? KEL_NONE : kel_key(code);
    switch (key) {
    case KEL_LEFT:
    case KEL_RIGHT:
        qDebug("this is %s-code [%s][Release]", key == KEL_LEFT ? "left" : "right", name);
        if (keys.move)
            keys.move(key == KEL_LEFT ? -1 : +1);
        break;
    case KEL_OK:
        qDebug("this is OK button(%s)[Release]", name);
        if (keys.ok)
            keys.ok();
        break;
    case KEL_BACK:
        qDebug("this is back button(%s)[Release]", name);
        if (keys.back)
            keys.back();
        break;
    case KEL_MODE:
        qDebug("this is mode-code [%s][Release]", name);
        if (keys.mode_refused && keys.mode_refused())
            return;
        if (keys.forget && kel_mode_shortcut(screen, name, keys.forget) == KelModeKey::Locked)
            return;
        break;
    default:
        break;
    }
    if (self)
        keyboard.update_usb_keyEvent(code);
    else
        kel_keyboard().update_usb_keyEvent(code);
}
