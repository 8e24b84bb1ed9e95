#pragma once
#include "core/config_item.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QString>
#include <QVariant>
#include <mutex>

// The device's eighteen keyed settings in "/data/configs/tcpip.ini". Created first thing
// at start-up by pInstance(), which also derives the device id g_pid, copies the settings
// into the shared globals, brings the network up and reads the loader's configuration.
class ConfigEngine : public QObject {
    Q_OBJECT
public:
    static ConfigEngine* pInstance();
    static ConfigEngine* p_config;

    // A copy of the setting's value (memory only).
    QVariant read_config_variant(ConfigItem::ConfigName name);
    // Sets the value and writes it to the settings file at once. The shared globals are
    // not refreshed here: callers set them or call Utils::getIPAddress. false when the file
    // could not be stored: then the value in memory stays as the file holds it.
    [[nodiscard]] bool write_config_variant(ConfigItem::ConfigName name, QVariant value);
    // Several settings in one replacement of the file: all stored, or none (false). A value
    // of empty text stores and holds the default, as the next start would load it.
    [[nodiscard]] bool write_config_variants(const QList<QPair<ConfigItem::ConfigName, QVariant>>& values);

    bool containsItemStr(QString text);
    // Index of a key ("config/" is put in front when missing); ConfigNameCount when the
    // text names none of the eighteen keys.
    ConfigItem::ConfigName strToItem(QString text);
    ConfigItem* getConfigItem(QString text);

    static QMap<QString, ConfigItem::ConfigName> _itemMap;

    explicit ConfigEngine(QObject* parent = nullptr);
    ~ConfigEngine() override;

    // The device id from the three unique-id words of the system-on-chip: 32 values, each
    // one lower-case hexadecimal character.
    static void derivePid(uint16_t u, uint16_t v, uint16_t w, char out[32]);

private:
    // These values set in the file, every other entry of it kept; under values_mutex_.
    [[nodiscard]] bool store(const QList<QPair<ConfigItem::ConfigName, QVariant>>& values);

    QList<ConfigItem*> items_;
    // Readers and writers come from several threads; each call copies one value under it.
    std::mutex values_mutex_;
};
