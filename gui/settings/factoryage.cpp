#include "gui/settings/factoryage.h"

#include "core/global.h"
#include "gui/kel_keys.h"
#include "gui/textfit.h"

#include <QLabel>

factoryage* g_factoryage = nullptr;

factoryage::factoryage(QWidget* parent) : SettingsScreen("factoryage", 12, parent)
{
    label_counts = new QLabel(this);
    label_counts->setObjectName(QStringLiteral("label_counts"));
    label_counts->setGeometry(10, 40, 300, 36);
    label_counts->setStyleSheet(QStringLiteral("color: rgb(255,171,84);"));
    for (int i = 0; i < kLines; ++i) {
        label_log[i] = new QLabel(this);
        label_log[i]->setObjectName(QStringLiteral("label_log%1").arg(i));
        label_log[i]->setGeometry(10, 84 + 24 * i, 300, 20);
        label_log[i]->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);background-color: rgb(33, 36, 53);"));
    }
    menulist_init();
    language_changed();
}

factoryage::~factoryage()
{
    clear_pointer();
}

void factoryage::clear_pointer()
{
    if (g_factoryage == this)
        g_factoryage = nullptr;
}

void factoryage::language_changed()
{
    set_title(kel_text("老化测试", "Ageing test", "Тест старения", "Kiểm tra lão hóa", "老化測試"));
    update_agelog();
}

void factoryage::syncUpdate() {}

void factoryage::update_agelog()
{
    const QString counts = QStringLiteral("<3: %1   <5: %2   <10: %3\n<20: %4   >=20: %5   (%6)")
                               .arg(factoryage_log_diff3)
                               .arg(factoryage_log_diff5)
                               .arg(factoryage_log_diff10)
                               .arg(factoryage_log_diff20)
                               .arg(factoryage_log_diffmore)
                               .arg(factoryage_log.size());
    kel_fit_text(label_counts, counts, 9, KelFit::LineBox);
    const int n = factoryage_log.size();
    for (int i = 0; i < kLines; ++i)
        kel_fit_text(label_log[i], i < n ? factoryage_log.at(n - 1 - i) : QString(), 9, KelFit::LineBox);
}
