#pragma once
// What every front-panel screen shares: the key codes, the focus colours and styles, and
// the choice of language for texts and icons.
//
// Keys. The panel and the USB keypad deliver Qt key events; each of the five front-panel
// keys arrives under either of two codes. Screens act on the key RELEASE only; their
// keyPressEvent swallows every press (at most a trace line for OK and back) and never calls
// the base class, so Enter and Escape never close a dialog. After its own handling a screen
// hands every released code to its kel_keyboard member (kel_keyboard::update_usb_keyEvent),
// except a mode key refused by the key lock (parameter block u16 at 772 non-zero).
//
// Focus is drawn with style sheets, never with Qt keyboard focus: entries and buttons get
// Qt::NoFocus; the focused entry gets an orange border, an entry whose inner list holds the
// keys a blue one.

#include "core/global.h"

#include <QString>
#include <QWidget>

// --- key codes (either code of a pair is the same key) ---
constexpr int KEL_KEY_LEFT = 83;                // letter S
constexpr int KEL_KEY_LEFT_PANEL = 0x01000033;  // Qt::Key_F4
constexpr int KEL_KEY_RIGHT = 82;               // letter R
constexpr int KEL_KEY_RIGHT_PANEL = 0x01000034; // Qt::Key_F5
constexpr int KEL_KEY_OK = 81;                  // letter Q
constexpr int KEL_KEY_OK_PANEL = 0x01000035;    // Qt::Key_F6
constexpr int KEL_KEY_BACK = 79;                // letter O
constexpr int KEL_KEY_BACK_PANEL = 0x010000B7;  // Qt::Key_PowerOff
constexpr int KEL_KEY_MODE = 77;                // letter M
constexpr int KEL_KEY_MODE_PANEL = 0x01000063;  // Qt::Key_Stop

// The front-panel key a Qt key code stands for.
enum KelKey { KEL_NONE = 0, KEL_LEFT, KEL_RIGHT, KEL_OK, KEL_BACK, KEL_MODE };

inline KelKey kel_key(int code)
{
    switch (code) {
    case KEL_KEY_LEFT:
    case KEL_KEY_LEFT_PANEL:
        return KEL_LEFT;
    case KEL_KEY_RIGHT:
    case KEL_KEY_RIGHT_PANEL:
        return KEL_RIGHT;
    case KEL_KEY_OK:
    case KEL_KEY_OK_PANEL:
        return KEL_OK;
    case KEL_KEY_BACK:
    case KEL_KEY_BACK_PANEL:
        return KEL_BACK;
    case KEL_KEY_MODE:
    case KEL_KEY_MODE_PANEL:
        return KEL_MODE;
    default:
        return KEL_NONE;
    }
}

// --- colours and styles shared by all screens ---
#define KEL_STYLE_WINDOW "background-color: rgb(16, 16, 28);"
#define KEL_COLOR_ENTRY "rgb(33, 36, 53)"
#define KEL_COLOR_FOCUS "rgb(255,171,84)"   // the entry under the key focus
#define KEL_COLOR_ENTER "rgb(71, 119, 255)" // the entry whose inner level holds the keys
// Large buttons (10 px corners, 2 px border) and small ones (1 px), normal and focused.
#define KEL_STYLE_LARGE "background-color: rgb(33, 36, 53);border:2px solid rgb(33, 36, 53);border-radius:10px;padding:2px 4px"
#define KEL_STYLE_LARGE_FOCUS \
    "background-color: rgb(33, 36, 53);border:2px solid rgb(255,171,84);border-radius:10px;padding:2px 4px;"
#define KEL_STYLE_SMALL "background-color: rgb(33, 36, 53);border:1px;border-radius:1px;padding:1px 1px"
#define KEL_STYLE_SMALL_FOCUS \
    "background-color: rgb(33, 36, 53);border:1px solid rgb(255,171,84);border-radius:1px;padding:1px 1px"

// --- language ---
// g_language: 0 simplified Chinese, 1 English, 2 Russian, 3 Vietnamese, 4 traditional
// Chinese. A language other than English is shown only while its bit (1 << language) is
// set in g_lcd_lang_valid; otherwise, and for English, the English texts and icons are used.
enum KelLang { KEL_LANG_ZH = 0, KEL_LANG_EN = 1, KEL_LANG_RU = 2, KEL_LANG_VN = 3, KEL_LANG_TN = 4 };

// The language whose literals a screen shows now (0 to 4).
u8 kel_lang();
// The literal of kel_lang() among the five (simplified Chinese, English, Russian,
// Vietnamese, traditional Chinese), UTF-8.
QString kel_text(const char* zh, const char* en, const char* ru, const char* vn, const char* tn);
// Icon prefix of kel_lang(): "" zh, "en_" en and every fallback, "ru_", "vn_", "tn_".
QString kel_icon_prefix();
// Icons are drawn at build time (tools/icons) from the descriptions in tools/icons/icons.txt
// and in any gui/**/*.icons file of the same format; a screen that needs icons of its own
// adds them in its folder's .icons file (see gui/resources.cmake).
// ":/png/" + prefix + name + ".png" for the language-dependent icons.
QString kel_icon(const QString& name);
// ":/png/" + name + ".png" for the icons that never take a prefix (tools, lock, ip ...).
QString kel_icon_plain(const QString& name);
// Makes the generated icon resources available (called by MainWindow; harmless to repeat).
void kel_icons_init();

// Moves a menu's focus frame one entry (step +1 for right, -1 for left), wrapping at both ends:
// the old entry gets the normal style, the new one the focus style.
template <typename Entry>
void kel_step_focus(Entry* const* entries, int count, unsigned char& select, QWidget*& focus,
                    const QString& normal, const QString& focused, int step)
{
    if (count <= 0)
        return;
    if (focus != nullptr)
        focus->setStyleSheet(normal);
    select = static_cast<unsigned char>(((select % count) + step % count + count) % count);
    focus = entries[select];
    focus->setStyleSheet(focused);
}
