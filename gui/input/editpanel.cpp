#include "gui/input/editpanel.h"

#include "gui/kel_keys.h"
#include "gui/sourceinfo.h"
#include "gui/textfit.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QVariant>

SourceCard kel_source_card(QWidget* parent, const SourceCardLayout& at, int source_id, bool selected)
{
    QFont font;
    font.setPixelSize(10);
    const QString textStyle = QStringLiteral("background-color:#212435;color:#FFFFFF");
    SourceCard card{};
    card.box = new QFrame(parent);
    card.box->setObjectName(QStringLiteral("card_box"));
    card.box->setGeometry(at.box);
    card.box->setStyleSheet(selected ? QStringLiteral("background-color: #212435;border:1px solid #FFA854;")
                                     : QStringLiteral("background-color: #212435;border:1px solid #CCCCCC;"));
    card.state = new QLabel(parent);
    card.state->setGeometry(at.icons.x(), at.icons.y(), 7, 7);
    card.state->setPixmap(QPixmap(kel_icon_plain(QStringLiteral("state_on"))));
    card.state->setScaledContents(true);
    card.type = new QLabel(parent);
    card.type->setGeometry(at.icons.x() + 10, at.icons.y(), 25, 8);
    card.type->setStyleSheet(QStringLiteral("background-color: #212435;"));
    // The card shows the input's own type.
    sourceinfo::set_source_pixmap(card.type, uint8_t(source_id));
    card.type->setScaledContents(true);
    card.type->setProperty("iconPath", sourceinfo::source_icon(uint8_t(source_id)));
    card.name = new QLabel(parent);
    card.name->setObjectName(QStringLiteral("card_name"));
    card.name->setGeometry(at.text.x(), at.text.y(), at.name_width, 12);
    card.name->setStyleSheet(textStyle);
    card.name->setFont(font);
    card.format = new QLabel(parent);
    card.format->setObjectName(QStringLiteral("card_format"));
    card.format->setGeometry(at.text.x(), at.text.y() + 15, 88, 12);
    card.format->setStyleSheet(textStyle);
    card.format->setFont(font);
    return card;
}

void kel_source_card_texts(const SourceCard& card, const QString& name, const QString& format)
{
    kel_fit_text_px(card.name, name, 10);
    kel_fit_text_px(card.format, format, 10);
}

QLabel* kel_refusal_label(QWidget* parent, const QRect& at)
{
    QLabel* label = new QLabel(parent);
    label->setGeometry(at);
    label->setStyleSheet(QStringLiteral("color: rgb(255, 80, 80);"));
    label->setAlignment(Qt::AlignCenter);
    label->hide();
    return label;
}
