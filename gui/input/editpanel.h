#pragma once
// What the EDID and crop screens share around their edit panels: the card that shows an
// input (or one of its crops) under the source tabs, and the red line that says why the
// panel refused its values.
#include <QPoint>
#include <QRect>
#include <QString>

class QFrame;
class QLabel;
class QWidget;

struct SourceCard {
    QFrame* box;
    QLabel* state;
    QLabel* type;
    QLabel* name;
    QLabel* format;
};

// Where a card's parts go: its box, the state lamp (the input's type icon 10 px right of
// it), the name line (its width; the format line 15 px below it, 88 px wide).
struct SourceCardLayout {
    QRect box;
    QPoint icons;
    QPoint text;
    int name_width;
};

// A card in parent for input source_id; the orange border marks the selected one.
SourceCard kel_source_card(QWidget* parent, const SourceCardLayout& at, int source_id, bool selected);
// The name and format lines, each fitted from 10 px.
void kel_source_card_texts(const SourceCard& card, const QString& name, const QString& format);
// The refusal line, hidden until a refusal is shown in it.
QLabel* kel_refusal_label(QWidget* parent, const QRect& at);
