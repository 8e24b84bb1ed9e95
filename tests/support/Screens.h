#pragma once
// Opening a screen, typing on the shared number keypad, placing widgets and taking toasts, as
// the screen tests do it; brings the key, tick, grab and text-fit harness with it.
#include "core/global.h"
#include "gui/numberkeyboard.h"
#include "gui/textfit.h"
#include "gui/tip.h"
#include "tests/support/Grab.h"
#include "tests/support/TickDriver.h"
#include "tests/support/KeyDriver.h"
#include "tests/support/TextFit.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QRect>
#include <QString>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <string>

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

// The text of the next text toast, taken (fitted and grabbed as `name`) while it shows,
// and let run its 3 s: schedule it before the key or job that brings the toast up.
inline std::shared_ptr<QString> nextToast(const std::string& name)
{
    auto text = std::make_shared<QString>();
    whenModal([text, name](QWidget* modal) {
        QLabel* label = modal == g_tip && g_tip->tip_frame() ? g_tip->tip_frame()->findChild<QLabel*>("tip_text") : nullptr;
        *text = label ? label->text() : QString();
        EXPECT_TRUE(label && allTextsFit(g_tip)) << name;
        grab(g_tip, name);
        tick(300);
    }, 100000);
    return text;
}

// A widget, its place on its parent and the pixel size of its font (0: not compared).
struct Placed {
    QWidget* widget;
    int x, y, w, h;
    int px = 0;
};

inline QString shownText(const QWidget* w)
{
    const auto* label = qobject_cast<const QLabel*>(w);
    return label ? label->text() : static_cast<const QAbstractButton*>(w)->text();
}

// Each widget of a screen's table where the table puts it, in the font size it gives, or,
// where the text shown does not fit at that size (by the screen's measure how), the largest
// smaller size it fits.
inline void expectPlaced(std::initializer_list<Placed> table, const std::string& context = {}, KelFit how = KelFit::LineBox)
{
    for (const Placed& p : table) {
        ASSERT_NE(p.widget, nullptr) << context;
        const std::string name = context + " " + p.widget->objectName().toStdString();
        const QRect at = p.widget->geometry();
        EXPECT_EQ(at, QRect(p.x, p.y, p.w, p.h)) << name << " at " << at.x() << ", " << at.y() << ", " << at.width() << " x " << at.height();
        const QFont kept = p.widget->font();
        bool largest = kept.pixelSize() == p.px;
        if (p.px && kept.pixelSize() < p.px) {   // the next size up must not fit
            QFont larger = kept;
            larger.setPixelSize(kept.pixelSize() + 1);
            p.widget->setFont(larger);
            largest = !kel_text_fits(p.widget, shownText(p.widget), how);
            p.widget->setFont(kept);
        }
        EXPECT_TRUE(!p.px || largest) << name << " " << kept.pixelSize() << " px";
    }
}

// Every label and button text of a screen fits its widget (by the screen's measure how),
// legibly.
inline void expectTextsFit(QWidget* screen, const std::string& where, KelFit how = KelFit::LineBox)
{
    for (QWidget* w : screen->findChildren<QWidget*>()) {
        if ((qobject_cast<QLabel*>(w) || qobject_cast<QAbstractButton*>(w)) && !shownText(w).isEmpty() && w->isVisibleTo(screen)) {
            EXPECT_TRUE(kel_text_fits(w, shownText(w), how)) << where << " " << w->objectName().toStdString() << ": " << shownText(w).toStdString();
        }
    }
    EXPECT_TRUE(allTextsLegible(screen)) << where;
}

} // namespace kel_test
