#include "gui/sourceinfo.h"

#include "gui/kel_keys.h"

#include <QLabel>
#include <QPixmap>

namespace {
const unsigned char kListToId[4] = {1, 2, 3, 0};
const unsigned char kIdToList[4] = {3, 0, 1, 2};
const char* const kNames[4] = {"DVI", "HDMI1", "HDMI2", "HDMI3"};
const char* const kIcon[4] = {":/png/DVI.png", ":/png/HDMI13.png", ":/png/HDMI13.png", ":/png/HDMI20.png"};
const char* const kIconOff[4] = {":/png/DVI.png", ":/png/HDMI13_1.png", ":/png/HDMI13_1.png", ":/png/HDMI20.png"};
const char* const kIconOn[4] = {":/png/dvilv.png", ":/png/HDMI13_lv.png", ":/png/HDMI13_lv.png", ":/png/HDMI20_lv.png"};
const char kWhite[] = "<font style = 'font-size:9px' color = #ffffff >%1</font>";
const char kGreenPlain[] = "<font style = 'font-size:9px' color = #51BB28 >%1</font>";
const char kGreenCounted[] = "<font style = 'font-size:9px' color = #12BB32 >%1</font>";
const char kBlue[] = "<font style = 'font-size:9px' color = #4777ff >%1</font>";
} // namespace

QString sourceinfo::get_source_name_by_sourceid(unsigned char id)
{
    return id < 4 ? QString::fromLatin1(kNames[id]) : QString();
}

QString sourceinfo::get_source_name_by_listseq(unsigned char seq)
{
    return seq < 4 ? QString::fromLatin1(kNames[kListToId[seq]]) : QString();
}

unsigned char sourceinfo::get_source_id_by_listseq(unsigned char seq)
{
    // Position 3 and anything past the list is the DVI input.
    return seq < 3 ? kListToId[seq] : 0;
}

unsigned char sourceinfo::get_listseq_by_source_id(unsigned char id)
{
    return id < 4 ? kIdToList[id] : 0;
}

QString sourceinfo::get_source_specialstyle0_by_sourceid(unsigned char id)
{
    return QString::fromLatin1(id == 3 ? kGreenPlain : kWhite);
}

QString sourceinfo::get_source_specialstyle1_by_sourceid(unsigned char id, QString name, unsigned char count)
{
    if (id > 3)
        return QString();
    const QString blue = QString::fromLatin1(kBlue);
    return QString::fromLatin1(id == 3 ? kGreenCounted : kWhite).arg(name) + blue.arg(QStringLiteral("(")) +
           blue.arg(QString::number(count)) + blue.arg(QStringLiteral(")"));
}

QString sourceinfo::source_icon(unsigned char id)
{
    return id < 4 ? QString::fromLatin1(kIcon[id]) : QString();
}

QString sourceinfo::source_icon_online(unsigned char id, unsigned char online)
{
    if (id > 3)
        return QString();
    return QString::fromLatin1(online ? kIconOn[id] : kIconOff[id]);
}

void sourceinfo::set_source_pixmap(QLabel* label, unsigned char id)
{
    kel_icons_init();
    if (label && id < 4)
        label->setPixmap(QPixmap(source_icon(id)));
}

void sourceinfo::set_sourceonline_pixmap(QLabel* label, unsigned char id, unsigned char online)
{
    kel_icons_init();
    if (label && id < 4)
        label->setPixmap(QPixmap(source_icon_online(id, online)));
}
