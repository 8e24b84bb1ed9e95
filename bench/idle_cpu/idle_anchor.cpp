// The idle anchor: a Qt widget application with nothing but a 10 ms timer, the floor the
// controller's own tick sets. Prints "start-up done" once its event loop runs.

#include <QApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTimer tick;
    long ticks = 0;
    QObject::connect(&tick, &QTimer::timeout, [&ticks] { ++ticks; });
    tick.start(10);
    QTimer::singleShot(0, [] {
        std::printf("start-up done\n");
        std::fflush(stdout);
    });
    return app.exec();
}
