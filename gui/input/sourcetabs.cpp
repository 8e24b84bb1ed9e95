#include "gui/input/sourcetabs.h"

#include "core/alias.h"
#include "gui/sourceinfo.h"

#include <QFontMetrics>
#include <QLabel>

void kel_source_tabs_init(QLabel* const names[4], QLabel* const icons[4])
{
    for (int k = 0; k < 4; ++k) {
        const unsigned char id = sourceinfo::get_source_id_by_listseq(uint8_t(k));
        names[k]->setText(sourceinfo::get_source_specialstyle0_by_sourceid(id).arg(
            sourceinfo::get_source_name_by_listseq(uint8_t(k))));
        sourceinfo::set_source_pixmap(icons[k], id);
        icons[k]->setScaledContents(true);
    }
}

QString kel_source_alias_name(int id, const QFont& font, int width)
{
    ALIAS_PARA alias{0, std::string(), std::string()};
    if (get_json_alias_para(&alias, "source", id))
        return QFontMetrics(font).elidedText(QString::fromStdString(alias.name), Qt::ElideRight, width, Qt::TextShowMnemonic);
    return sourceinfo::get_source_name_by_sourceid(uint8_t(id));
}

void kel_source_tabs_counts(QLabel* const names[4], const unsigned char counts[4])
{
    QFont measure;
    measure.setPixelSize(9);
    for (int k = 0; k < 4; ++k) {
        const unsigned char id = sourceinfo::get_source_id_by_listseq(uint8_t(k));
        const QString name = kel_source_alias_name(id, measure, names[k]->width() - 16);
        names[k]->setText(sourceinfo::get_source_specialstyle1_by_sourceid(id, name, counts[id]));
    }
}
