#include "gui/input/textfit.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QLabel>
#include <QPushButton>
#include <cmath>

namespace {
constexpr double kLcdDpi = 100.0;
constexpr int kSmallestPx = 6;

// Whether the ink of text lies inside w drawn in font: the line box (the font's height)
// placed by the widget's alignment, the glyphs on its baseline. A line's leading may fall
// outside a low label; an accent or an underscore may not.
bool ink_inside(const QWidget* w, const QFont& font, const QString& text)
{
    const QFontMetrics m(font);
    const QStringList lines = text.split(QLatin1Char('\n'));
    if (lines.size() > 1)
        return lines.size() * m.lineSpacing() <= w->height();
    Qt::Alignment align = Qt::AlignVCenter;
    if (auto* label = qobject_cast<const QLabel*>(w))
        align = label->alignment();
    const QRect r = w->contentsRect();
    int top = r.top() + (r.height() - m.height()) / 2;
    if (align & Qt::AlignTop)
        top = r.top();
    else if (align & Qt::AlignBottom)
        top = r.bottom() + 1 - m.height();
    const QRect ink = m.tightBoundingRect(text).translated(0, top + m.ascent());
    return ink.top() >= 0 && ink.bottom() < w->height();
}
} // namespace

int kel_lcd_px(double points)
{
    return int(std::lround(points * kLcdDpi / 72.0));
}

int kel_text_room(const QWidget* w)
{
    // Buttons keep a few pixels of padding and border on each side; labels lose at most
    // their one-pixel frame.
    if (qobject_cast<const QPushButton*>(w))
        return w->width() - 8;
    if (auto* combo = qobject_cast<const QComboBox*>(w)) {
        // The current item is drawn in the edit field, left of the drop-down arrow's place.
        QStyleOptionComboBox option;
        option.initFrom(combo);
        return combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo).width() - 2;
    }
    return w->width() - 2;
}

int kel_fit_font_px(QWidget* w, const QString& text, int px)
{
    QFont font = w->font();
    const int room = kel_text_room(w);
    for (; px > kSmallestPx; --px) {
        font.setPixelSize(px);
        const QFontMetrics m(font);
        int width = 0;
        for (const QString& line : text.split(QLatin1Char('\n')))
            width = std::max(width, m.horizontalAdvance(line));
        if (width <= room && ink_inside(w, font, text))
            break;
    }
    font.setPixelSize(px);
    w->setFont(font);
    return px;
}

int kel_fit_font(QWidget* w, const QString& text, double points)
{
    return kel_fit_font_px(w, text, kel_lcd_px(points));
}

void kel_fit_text(QLabel* label, const QString& text, double points)
{
    kel_fit_font(label, text, points);
    label->setText(text);
}

void kel_fit_text(QPushButton* button, const QString& text, double points)
{
    kel_fit_font(button, text, points);
    button->setText(text);
}
