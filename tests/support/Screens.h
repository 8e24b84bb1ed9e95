#pragma once
// Opening a screen and typing on the shared number keypad, as the screen tests do it.
#include "core/global.h"
#include "gui/numberkeyboard.h"
#include "tests/support/KeyDriver.h"

#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <gtest/gtest.h>

namespace kel_test {

// Builds a screen into its global as the menus do, makes it page `page` and shows it.
template <class Screen>
Screen* openScreen(Screen*& global, int page)
{
    global = new Screen(nullptr);
    g_page_focus = page;
    global->show();
    return global;
}

// Presses `key` (OK by default) on target (the current screen when null), which opens the
// shared number keypad; `text` is typed there and confirmed. The keypad's title, for the
// caller to check.
inline QString typeOnKeypad(const QString& text, PanelKey key = PanelKey::Ok, QWidget* target = nullptr)
{
    QString title;
    whenModal([&](QWidget* keypad) {
        EXPECT_EQ(keypad, g_numberkeyboard);
        title = g_numberkeyboard->findChild<QLabel*>("label")->text();
        g_numberkeyboard->findChild<QLineEdit*>("lineEdit")->setText(text);
        g_numberkeyboard->on_Button_ok_clicked();
    });
    pressKey(key, 0, target);
    return title;
}

} // namespace kel_test
