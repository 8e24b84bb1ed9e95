#pragma once
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>
#include <string>

// Keyed-settings files ("/data/configs/tcpip.ini", the loader's "led_load_config.ini") are
// written by QSettings, which keeps every key, group and value type it does not know; only
// its own temporary file and rename are outside the board layer. So a store edits a scratch
// copy beside the file with QSettings and the board layer renames it over the file: a power
// cut leaves the old or the new file, and a failed store is reported to the caller.
class IniText {
public:
    using Entries = QList<QPair<QString, QVariant>>;   // "group/key" (no group: General), value

    // The file as it is now, with these keys set and every other entry as it was; false when
    // it could not be stored (the file is then unchanged). No key set is in a group "general"
    // of another case than "General" (such groups are kept as they are).
    [[nodiscard]] static bool update(const std::string& systemPath, const Entries& changes);
};
