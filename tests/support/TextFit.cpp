#include "tests/support/TextFit.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTextDocument>

namespace kel_test {
namespace {

constexpr int kSmallestLegiblePx = 8;

// The room Qt draws a push button's text in: inside the border and padding of the style
// the button wears now (a focused entry's frame included), or a few pixels inside its
// edges without a style sheet.
int buttonRoom(QPushButton* b)
{
    if (b->styleSheet().isEmpty())
        return b->width() - 6;
    QStyleOptionButton option;
    option.initFrom(b);
    return b->style()->subElementRect(QStyle::SE_PushButtonContents, &option, b).width();
}

int widest(const QFontMetrics& m, const QString& text)
{
    int w = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        w = std::max(w, m.horizontalAdvance(line));
    return w;
}

// Where the ink of a one-line text lies inside w, drawn as Qt draws it: the line box
// (font height) placed by the alignment, the glyphs on its baseline.
bool inkInside(QWidget* w, const QFontMetrics& m, const QString& text)
{
    Qt::Alignment align = Qt::AlignVCenter;
    if (auto* l = qobject_cast<QLabel*>(w))
        align = l->alignment();
    const QRect r = w->contentsRect();
    int top = r.top() + (r.height() - m.height()) / 2;
    if (align & Qt::AlignTop)
        top = r.top();
    else if (align & Qt::AlignBottom)
        top = r.bottom() + 1 - m.height();
    const QRect ink = m.tightBoundingRect(text).translated(0, top + m.ascent());
    return ink.top() >= 0 && ink.bottom() < w->height();
}

void check(QWidget* w, QString text, int room, QStringList* out)
{
    if (text.isEmpty())
        return;
    w->ensurePolished();
    if (Qt::mightBeRichText(text))
        return;
    const QFontMetrics m(w->font());
    const int lines = text.count(QLatin1Char('\n')) + 1;
    const int height = lines == 1 ? m.tightBoundingRect(text).height() : lines * m.lineSpacing();
    const bool inside = lines == 1 ? inkInside(w, m, text) : height <= w->height();
    if (widest(m, text) > room || !inside)
        out->append(QStringLiteral("%1 \"%2\": %3x%4 px in %5x%6")
                        .arg(w->objectName(), text)
                        .arg(widest(m, text))
                        .arg(height)
                        .arg(room)
                        .arg(w->height()));
}

} // namespace

QStringList textsBelowLegibleSize(QWidget* screen)
{
    QStringList out;
    auto legible = [&](QWidget* w, const QString& text) {
        if (text.isEmpty() || !w->isVisibleTo(screen))
            return;
        w->ensurePolished();
        const int px = QFontInfo(w->font()).pixelSize();
        if (px < kSmallestLegiblePx)
            out.append(QStringLiteral("%1 \"%2\": %3 px font").arg(w->objectName(), text).arg(px));
    };
    for (QLabel* l : screen->findChildren<QLabel*>())
        legible(l, l->text());
    for (QAbstractButton* b : screen->findChildren<QAbstractButton*>())
        legible(b, b->text());
    for (QComboBox* c : screen->findChildren<QComboBox*>())
        legible(c, c->currentText());
    return out;
}

QStringList textsThatDoNotFit(QWidget* screen)
{
    QStringList out = textsBelowLegibleSize(screen);
    for (QLabel* l : screen->findChildren<QLabel*>()) {
        if (l->isVisibleTo(screen) && l->pixmap(Qt::ReturnByValue).isNull() && !l->wordWrap())
            check(l, l->text(), l->width(), &out);
    }
    for (QPushButton* b : screen->findChildren<QPushButton*>()) {
        if (b->isVisibleTo(screen))
            check(b, b->text(), buttonRoom(b), &out);
    }
    for (QComboBox* c : screen->findChildren<QComboBox*>()) {
        if (!c->isVisibleTo(screen))
            continue;
        QStyleOptionComboBox option;
        option.initFrom(c);
        const QRect field = c->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, c);
        for (int i = 0; i < c->count(); ++i)
            check(c, c->itemText(i), field.width(), &out);
    }
    return out;
}

namespace {
::testing::AssertionResult none(const QStringList& bad)
{
    if (bad.isEmpty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << bad.join("; ").toStdString();
}
} // namespace

::testing::AssertionResult allTextsFit(QWidget* screen)
{
    return none(textsThatDoNotFit(screen));
}

::testing::AssertionResult labelTextFits(QLabel* label)
{
    QStringList out;
    label->ensurePolished();
    if (QFontInfo(label->font()).pixelSize() < kSmallestLegiblePx)
        out.append(QStringLiteral("%1 \"%2\": %3 px font").arg(label->objectName(), label->text()).arg(QFontInfo(label->font()).pixelSize()));
    check(label, label->text(), label->width(), &out);
    return none(out);
}

::testing::AssertionResult allTextsLegible(QWidget* screen)
{
    return none(textsBelowLegibleSize(screen));
}

} // namespace kel_test
