#include "gui/textfit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QSize>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QToolButton>
#include <QVariant>
#include <algorithm>
#include <cmath>

namespace {
constexpr double kLcdDpi = 100.0;
// Below this the panel's glyphs are no longer legible.
constexpr int kSmallestPx = 8;
// A style sheet's 1 or 2 px border and the padding around a button's text.
constexpr int kBorder = 2;
constexpr int kButtonPadding = 4;

int widest_line(const QFontMetrics& m, const QStringList& lines)
{
    int width = 0;
    for (const QString& line : lines)
        width = std::max(width, m.horizontalAdvance(line));
    return width;
}

// The width a text may use inside w: buttons keep a few pixels of padding and border on
// each side; labels lose at most their one-pixel frame.
// A push button's text room is what its style sheet's border and padding leave (a menu
// entry's focus style and its plain style draw the same box, so the focus frame cuts no
// letter); without a style sheet a few pixels on each side.
int button_room(const QPushButton* b)
{
    if (b->styleSheet().isEmpty())
        return b->width() - 2 * kBorder - kButtonPadding;
    const_cast<QPushButton*>(b)->ensurePolished();
    QStyleOptionButton option;
    option.initFrom(b);
    return b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b).width();
}

int ink_room(const QWidget* w)
{
    if (auto* button = qobject_cast<const QPushButton*>(w))
        return button_room(button);
    if (auto* combo = qobject_cast<const QComboBox*>(w)) {
        // The current item is drawn in the edit field, left of the drop-down arrow's place.
        QStyleOptionComboBox option;
        option.initFrom(combo);
        return combo->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo).width() - 2;
    }
    return w->width() - 2;
}

// Whether the ink of text lies inside w drawn in font: the line box (the font's height)
// placed by the widget's alignment, the glyphs on its baseline. A line's leading may fall
// outside a low label; an accent or an underscore may not.
bool ink_fits(const QWidget* w, const QFont& font, const QString& text)
{
    const QFontMetrics m(font);
    const QStringList lines = text.split(QLatin1Char('\n'));
    if (widest_line(m, lines) > ink_room(w))
        return false;
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

// The room a LineBox text has inside w.
QSize line_box_room(const QWidget* w)
{
    // A label draws no frame; buttons and fields draw their style sheet's border.
    const bool framed = !qobject_cast<const QLabel*>(w);
    auto* push = qobject_cast<const QPushButton*>(w);
    int roomW = push ? button_room(push) : w->width() - (framed ? 2 * kBorder + kButtonPadding : 0);
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
    return QSize(roomW, roomH);
}

bool line_box_fits(const QWidget* w, const QFont& font, const QString& text)
{
    const QFontMetrics m(font);
    const QStringList lines = text.split(QLatin1Char('\n'));
    const QSize room = line_box_room(w);
    return widest_line(m, lines) <= room.width() && m.height() * lines.size() <= room.height();
}

bool fits(const QWidget* w, const QFont& font, const QString& text, KelFit how)
{
    return how == KelFit::Ink ? ink_fits(w, font, text) : line_box_fits(w, font, text);
}

// Sets w's font to the largest size from px down to the floor at which text fits; false
// when it does not fit even at the floor (the font is then left at the floor).
bool fit_font(QWidget* w, const QString& text, int px, KelFit how)
{
    QFont font = w->font();
    bool fitted = false;
    for (px = std::max(px, kSmallestPx); px >= kSmallestPx; --px) {
        font.setPixelSize(px);
        if (fits(w, font, text, how)) {
            fitted = true;
            break;
        }
    }
    font.setPixelSize(std::max(px, kSmallestPx));
    w->setFont(font);
    return fitted;
}

bool is_ideograph(QChar c)
{
    return c.script() == QChar::Script_Han;
}

// The one-line text broken into two lines where the longer line is shortest: at a space,
// or between two ideographs (Chinese has no spaces). Empty when it has no such place.
QString two_lines(const QString& text, const QFontMetrics& m)
{
    QString best;
    int bestWidth = 0;
    for (int i = 1; i < text.size(); ++i) {
        QString candidate;
        if (text.at(i) == QLatin1Char(' '))
            candidate = text.left(i) + QLatin1Char('\n') + text.mid(i + 1);
        else if (is_ideograph(text.at(i - 1)) && is_ideograph(text.at(i)))
            candidate = text.left(i) + QLatin1Char('\n') + text.mid(i);
        else
            continue;
        const int width = widest_line(m, candidate.split(QLatin1Char('\n')));
        if (best.isEmpty() || width < bestWidth) {
            best = candidate;
            bestWidth = width;
        }
    }
    return best;
}

// One line cut at the right, with an ellipsis, to room. A number that ends the line names
// the item (a route, a port) and so stays whole: the words before it are cut instead, and
// dropped where not even one letter of them has room.
QString elided_line(const QFontMetrics& m, const QString& line, int room)
{
    if (m.horizontalAdvance(line) <= room)
        return line;
    int digits = line.size();
    while (digits > 0 && line.at(digits - 1).isDigit())
        --digits;
    if (digits == line.size() || digits == 0)
        return m.elidedText(line, Qt::ElideRight, room);
    int words = digits;
    while (words > 0 && line.at(words - 1).isSpace())
        --words;
    const QString number = line.mid(digits);
    const QString tail = line.mid(words);
    const QString word = m.elidedText(line.left(words), Qt::ElideRight, room - m.horizontalAdvance(tail));
    if (word.isEmpty() || word == QString(QChar(0x2026)))
        return number;
    return word + tail;
}

// Each line cut short to the widget's width at its font.
QString elided(const QWidget* w, const QString& text, KelFit how)
{
    const QFontMetrics m(w->font());
    const int room = how == KelFit::Ink ? ink_room(w) : line_box_room(w).width();
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line = elided_line(m, line, room);
    return lines.join(QLatin1Char('\n'));
}
} // namespace

void kel_text_rendering_init()
{
    // With the light hinting a desktop's font set-up asks for, the font engine's auto-hinter
    // studies a CJK face at its first use by loading some 80 reference ideographs spread
    // through the font file, and those pages of the file stay mapped: about 2 MB for
    // characters the screens may never show. Light hinting moves outlines only vertically,
    // so text widths and line heights are the same without it.
    QFont font = QApplication::font();
    font.setHintingPreference(QFont::PreferNoHinting);
    QApplication::setFont(font);
}

int kel_lcd_px(double points)
{
    return int(std::lround(points * kLcdDpi / 72.0));
}

bool kel_text_fits(const QWidget* w, const QString& text, KelFit how)
{
    return fits(w, w->font(), text, how);
}

int kel_fit_font_px(QWidget* w, const QString& text, int px, KelFit how)
{
    fit_font(w, text, px, how);
    return w->font().pixelSize();
}

static QString kel_fit_layout_px(QWidget* w, const QString& text, int px, KelFit how)
{
    if (fit_font(w, text, px, how))
        return text;
    // Too wide even at the floor: a second line where the widget has the height for it,
    // else the text cut short. A text with its own line breaks keeps them.
    if (!text.contains(QLatin1Char('\n'))) {
        const QString wrapped = two_lines(text, QFontMetrics(w->font()));
        if (!wrapped.isEmpty() && fit_font(w, wrapped, px, how))
            return wrapped;
    }
    return elided(w, text, how);
}

QString kel_fit_text_px(QWidget* w, const QString& text, int px, KelFit how)
{
    const QString shown = kel_fit_layout_px(w, text, px, how);
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(shown);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(shown);
    return shown;
}

int kel_fit_font(QWidget* w, const QString& text, double points, KelFit how)
{
    return kel_fit_font_px(w, text, kel_lcd_px(points), how);
}

void kel_fit_text(QWidget* w, const QString& text, double points, KelFit how)
{
    kel_fit_text_px(w, text, kel_lcd_px(points), how);
}

void kel_fit_text_designed(QWidget* w, const QString& text)
{
    const char* kDesigned = "kelDesignedPoints";
    double points = w->property(kDesigned).toDouble();
    if (points <= 0) {
        const QFont& f = w->font();
        points = f.pointSizeF() > 0 ? f.pointSizeF() : f.pixelSize() * 72.0 / kLcdDpi;
        w->setProperty(kDesigned, points);
    }
    kel_fit_text(w, text, points, KelFit::LineBox);
}
