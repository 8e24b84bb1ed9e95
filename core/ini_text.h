#pragma once
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QVariant>

// Keyed-settings files ("/data/configs/tcpip.ini", the loader's "led_load_config.ini") are
// read with QSettings, which writes its own temporary file outside the board layer. Their
// stores go through here instead: the whole file is composed in the INI form QSettings reads
// and replaced through board::Files::writeAtomically, so a power cut leaves the old or the
// new file and a failed store is reported to the caller.
class IniText {
public:
    using Entries = QList<QPair<QString, QVariant>>;   // "group/key" (no group: General), value

    // The file's text: one [group] block per group in order of first appearance.
    static QByteArray compose(const Entries& entries);
    // Writes exactly these entries as the file; false when it could not be stored.
    static bool store(const std::string& systemPath, const Entries& entries);
    // The file's own entries (as QSettings reads them) with these set; false when not stored.
    static bool update(const std::string& systemPath, const Entries& changes);
};
