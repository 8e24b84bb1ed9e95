#include "gui/led/led_text.h"

#include <QAbstractButton>
#include <QFontMetrics>
#include <QLabel>
#include <QStringList>
#include <QToolButton>
#include <QVariant>
#include <QWidget>
#include <cmath>

namespace {
constexpr double kLcdDpi = 100.0;
constexpr int kMinPx = 6;
// A style sheet's 1 or 2 px border and the padding around a button's text.
constexpr int kBorder = 2;
constexpr int kButtonPadding = 4;

bool fits(const QWidget* w, const QFont& font, const QString& text)
{
    const QFontMetrics m(font);
    const QStringList lines = text.split(QLatin1Char('\n'));
    // A label draws no frame; buttons and fields draw their style sheet's border.
    const bool framed = !qobject_cast<const QLabel*>(w);
    int roomW = w->width() - (framed ? 2 * kBorder + kButtonPadding : 0);
    int roomH = w->height() - (framed ? 2 * kBorder : 0);
    // A button's picture takes its room beside the text, or above it on a tool button
    // that shows the text under the picture.
    if (const auto* button = qobject_cast<const QAbstractButton*>(w)) {
        if (!button->icon().isNull()) {
            const auto* tool = qobject_cast<const QToolButton*>(w);
            if (tool && tool->toolButtonStyle() == Qt::ToolButtonTextUnderIcon)
                roomH -= button->iconSize().height();
            else
                roomW -= button->iconSize().width() + kButtonPadding;
        }
    }
    int width = 0;
    for (const QString& line : lines)
        width = std::max(width, m.horizontalAdvance(line));
    return width <= roomW && m.height() * lines.size() <= roomH;
}
} // namespace

int led_px(double points)
{
    return int(std::lround(points * kLcdDpi / 72.0));
}

int led_fit_font(QWidget* w, const QString& text, double points)
{
    QFont font = w->font();
    int px = led_px(points);
    for (; px > kMinPx; --px) {
        font.setPixelSize(px);
        if (fits(w, font, text))
            break;
    }
    font.setPixelSize(px);
    w->setFont(font);
    return px;
}

bool led_text_fits(const QWidget* w, const QString& text)
{
    return fits(w, w->font(), text);
}

void led_set_text(QWidget* w, const QString& text, double points)
{
    led_fit_font(w, text, points);
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(text);
}

void led_set_text_designed(QWidget* w, const QString& text)
{
    const char* kDesigned = "kelDesignedPoints";
    double points = w->property(kDesigned).toDouble();
    if (points <= 0) {
        const QFont& f = w->font();
        points = f.pointSizeF() > 0 ? f.pointSizeF() : f.pixelSize() * 72.0 / kLcdDpi;
        w->setProperty(kDesigned, points);
    }
    led_set_text(w, text, points);
}
