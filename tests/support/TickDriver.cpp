#include "tests/support/TickDriver.h"

#include "core/global.h"
#include "gui/mainwindow.h"
#include "tests/support/KeyDriver.h"

#include <QCoreApplication>

namespace kel_test {

void tick(int count)
{
    stillWorking();
    for (int i = 0; i < count; ++i) {
        if (g_mainwindow)
            g_mainwindow->slot_update_timer_ticks();
        else
            G_timeTicks = G_timeTicks + 1;
    }
    QCoreApplication::processEvents();
}

} // namespace kel_test
