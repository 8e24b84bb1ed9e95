#include "tests/support/KeyDriver.h"

#include "core/global.h"
#include "core/kelrampara.h"
#include "gui/syncupdate.h"
#include "gui/tip.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QEvent>
#include <QKeyEvent>
#include <QPointer>
#include <QTimer>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

namespace kel_test {

namespace {
std::function<QWidget*()>& resolver()
{
    static std::function<QWidget*()> r;
    return r;
}

// The top-level widgets in the order they were last shown.
QList<QPointer<QWidget>>& shownOrder()
{
    static QList<QPointer<QWidget>> list;
    return list;
}

class ShowWatcher : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            QWidget* w = static_cast<QWidget*>(watched);
            if (w->isWindow()) {
                shownOrder().removeAll(QPointer<QWidget>(w));
                shownOrder().append(QPointer<QWidget>(w));
            }
        }
        return false;
    }
};

// whenModal timers still waiting; a test that ends with one left would hand it to the next.
QList<QPointer<QTimer>>& pendingTimers()
{
    static QList<QPointer<QTimer>> list;
    return list;
}

class DropPending : public ::testing::EmptyTestEventListener {
    void OnTestEnd(const ::testing::TestInfo& info) override
    {
        for (auto& t : pendingTimers()) {
            if (t) {
                std::fprintf(stderr, "%s.%s: a whenModal action never ran\n", info.test_suite_name(), info.name());
                delete t.data();
            }
        }
        pendingTimers().clear();
        // What the device's threads posted to the GUI thread that the test never took in (a
        // failed save's toast, a screen's refresh) is not the next test's: a toast shown in the
        // next test's first event pass would wait there for ticks that test cannot give.
        // Its count of failed saves is taken here with no toast and no screen to draw.
        KelRamPara::wait_mode_files();
        TIP* const toast = g_tip;
        const u8 page = g_page_focus;
        g_tip = nullptr, g_page_focus = 0;
        SyncUpdate::pInstance()->mode_save_shown();
        g_tip = toast, g_page_focus = page;
        QCoreApplication::removePostedEvents(nullptr, QEvent::MetaCall);
    }
};

// A modal screen whose loop runs with nothing done in it (no key, tick or scheduled action)
// was left open by its test, which would wait in it until CI's time limit: the test fails,
// naming the screen, and the screen is closed so that the test goes on to its end.
struct ModalGuard {
    QPointer<QWidget> seen;
    QElapsedTimer idle;
    int limitMs = 10000;
};
ModalGuard& modalGuard()
{
    static ModalGuard g;
    return g;
}

void checkModal()
{
    ModalGuard& g = modalGuard();
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal != g.seen.data() || !g.idle.isValid()) {
        g.seen = modal;
        g.idle.start();
        return;
    }
    if (g.idle.elapsed() < g.limitMs)
        return;
    ADD_FAILURE() << "a modal screen was left open: " << modal->metaObject()->className() << " \""
                  << modal->objectName().toStdString() << "\" ran its loop " << g.idle.elapsed() << " ms with nothing done; closed";
    g.idle.start();
    if (auto* dialog = qobject_cast<QDialog*>(modal))
        dialog->reject();
    else
        modal->hide();
}

} // namespace

void watchWindows()
{
    static ShowWatcher* watcher = nullptr;
    if (!watcher && qApp) {
        watcher = new ShowWatcher;
        qApp->installEventFilter(watcher);
        ::testing::UnitTest::GetInstance()->listeners().Append(new DropPending);
        auto* guard = new QTimer(qApp);
        QObject::connect(guard, &QTimer::timeout, checkModal);
        guard->start(100);
    }
}

void stillWorking()
{
    modalGuard().idle.start();
}

void setModalLimit(int ms)
{
    modalGuard().limitMs = ms > 0 ? ms : 10000;
}

int keyCode(PanelKey key, int variant)
{
    // The letter and the panel code of Left, Right, Ok, Back and Mode.
    static const int codes[][2] = {
        {83, 0x01000033}, {82, 0x01000034}, {81, 0x01000035}, {79, 0x010000B7}, {77, 0x01000063}};
    const unsigned k = unsigned(key);
    return k < 5 ? codes[k][variant ? 1 : 0] : 0;
}

void setScreenResolver(std::function<QWidget*()> r)
{
    resolver() = std::move(r);
}

QWidget* currentScreen()
{
    watchWindows();
    if (resolver())
        return resolver()();
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    // The window shown last is on top of the others (the LCD has no window manager).
    auto& order = shownOrder();
    for (int i = order.size() - 1; i >= 0; --i) {
        QWidget* w = order[i].data();
        if (w && w->isVisible())
            return w;
    }
    QWidget* active = QApplication::activeWindow();
    if (active && active->isVisible())
        return active;
    // Shown before anyone watched: the last visible top-level window Qt knows of.
    QWidget* last = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !w->parentWidget())
            last = w;
    return last;
}

bool sendKey(int qtKey, QWidget* target)
{
    watchWindows();
    QWidget* to = target ? target : currentScreen();
    if (!to)
        return false;
    stillWorking();
    QPointer<QWidget> guard(to);
    QKeyEvent press(QEvent::KeyPress, qtKey, Qt::NoModifier);
    QCoreApplication::sendEvent(to, &press);
    if (guard) {
        QKeyEvent release(QEvent::KeyRelease, qtKey, Qt::NoModifier);
        QCoreApplication::sendEvent(guard.data(), &release);
    }
    QCoreApplication::processEvents();
    KelRamPara::wait_mode_files();   // what the key stores, written on the store threads
    return true;
}

bool pressKey(PanelKey key, int variant, QWidget* target)
{
    return sendKey(keyCode(key, variant), target);
}

void pressKeys(std::initializer_list<PanelKey> keys, int variant)
{
    for (PanelKey k : keys)
        pressKey(k, variant);
}

void whenModal(std::function<void(QWidget*)> fn, int turns)
{
    watchWindows();
    QPointer<QWidget> before(QApplication::activeModalWidget());
    QTimer* timer = new QTimer;
    auto left = std::make_shared<int>(turns);
    timer->setInterval(0);
    QObject::connect(timer, &QTimer::timeout, [timer, fn, before, left]() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != before.data()) {
            timer->stop();
            timer->deleteLater();
            stillWorking();
            fn(modal);
            return;
        }
        if (--*left <= 0) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal screen opened";
        }
    });
    pendingTimers().append(QPointer<QTimer>(timer));
    timer->start();
}

void settle()
{
    stillWorking();
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

} // namespace kel_test
