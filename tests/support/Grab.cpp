#include "tests/support/Grab.h"

#include "tests/support/KeyDriver.h"
#include "tests/support/TestRoot.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QWidget>

namespace kel_test {

namespace {
void save(const QImage& image, const std::string& name)
{
    image.save(QString::fromStdString(artefactDir() + "/" + name + ".png"), "PNG");
}
} // namespace

QImage grab(QWidget* widget, const std::string& name)
{
    if (!widget)
        return QImage();
    const QImage image = widget->grab().toImage();
    save(image, name);
    return image;
}

QImage grabScreen(const std::string& name)
{
    QImage screen(320, 240, QImage::Format_RGB32);
    screen.fill(Qt::black);
    QPainter painter(&screen);
    QWidget* top = currentScreen();
    QWidget* modal = QApplication::activeModalWidget();
    const auto windows = QApplication::topLevelWidgets();
    auto paint = [&](QWidget* w) { painter.drawPixmap(w->geometry().topLeft(), w->grab()); };
    for (bool modalPass : {false, true})
        for (QWidget* w : windows)
            if (w->isVisible() && w != top && w != modal && w->isModal() == modalPass)
                paint(w);
    if (top && top->isVisible() && top != modal)
        paint(top);
    if (modal && modal->isVisible())
        paint(modal);
    painter.end();
    save(screen, name);
    return screen;
}

} // namespace kel_test
