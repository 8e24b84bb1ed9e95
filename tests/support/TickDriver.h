#pragma once
// The 10 ms tick for tests: each tick runs the main window's tick slot (which advances
// G_timeTicks and does the timed GUI work: toasts, reboot request, ...) when a main window
// exists (g_mainwindow), otherwise it only advances G_timeTicks. No real time passes.
// A toast runs modally, so its ticks are given from inside its loop:
//     kel_test::whenModal([](QWidget*) { kel_test::tick(300); });
//     g_tip->tip_create(1);
namespace kel_test {

void tick(int count = 1);

} // namespace kel_test
