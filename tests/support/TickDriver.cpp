#include "tests/support/TickDriver.h"

#include "core/global.h"
#include "core/kelrampara.h"
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
    KelRamPara::wait_mode_files();   // what the notifications store, written on the store threads
}

} // namespace kel_test
