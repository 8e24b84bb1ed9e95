#include "core/config_item.h"

#include "core/config_engine.h"

#include <QSettings>

ConfigItem::ConfigItem(const QString& key_, ConfigName name_, const QVariant& defaultValue_, bool memoryOnly_,
                       uint8_t numeric_, const QString& file_, QSettings* settings)
    : key(key_), name(name_), defaultValue(defaultValue_), memoryOnly(memoryOnly_), numeric(numeric_), file(file_)
{
    ConfigEngine::_itemMap.insert(key, name);
    // A key present with empty text counts as missing.
    if (settings) {
        const QVariant stored = settings->value(key);
        if (stored.isValid() && !stored.toString().isEmpty()) {
            value = stored;
            return;
        }
    }
    // The engine stores the defaults that were taken, with the rest of the file.
    if (!defaultValue.toString().isEmpty())
        value = defaultValue;
}
