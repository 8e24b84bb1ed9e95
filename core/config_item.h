#pragma once
#include <QString>
#include <QVariant>
#include <cstdint>

class QSettings;

// One keyed setting of the settings file: its key (with its group), its index, its
// default and its current value. The value lives in memory; the engine writes the file when
// a missing key takes its default and in ConfigEngine::write_config_variant.
class ConfigItem {
public:
    // Index of a keyed setting; the order is the order of the settings file's table.
    enum ConfigName {
        TcpPort = 0,
        UdpPort = 1,
        IPAddress = 2,
        SubNetMask = 3,
        GateWay = 4,
        MAC = 5,
        Barcode = 6,
        WifiIPAddress = 7,
        EDIDCheck = 8,
        SourceCheck = 9,
        ImageLayoutPassword = 10,
        uTorcloudserverip = 11,
        uTorcloudserverport = 12,
        uTorclouduserip = 13,
        uTorcloudcontrollername = 14,
        KelMaxPixel_UINT = 15,
        usbupgradedir = 16,
        KelLCDLang = 17,
        ConfigNameCount = 18
    };

    // Takes the stored value for key from settings when it holds non-empty text; otherwise
    // the default becomes the value (ConfigEngine stores it).
    ConfigItem(const QString& key, ConfigName name, const QVariant& defaultValue, bool memoryOnly,
               uint8_t numeric, const QString& file, QSettings* settings);

    QString key;
    ConfigName name;
    QVariant defaultValue;
    bool memoryOnly;
    uint8_t numeric;
    QString file;
    QVariant value;
};
