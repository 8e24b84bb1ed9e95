#include "core/ini_text.h"

#include "board/Files.h"

#include <QSettings>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

namespace fs = std::filesystem;

namespace {

// A group named "general" in a case other than "General" is stored as [%general]; QSettings
// would write it back as [%General], another group. Its sections are taken out of text and
// returned, to be put back as they were; their group names go to groups.
std::string takeGeneralSections(std::string& text, QStringList& groups)
{
    std::string kept, rest;
    bool aside = false;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size() - 1) + 1;
        const std::string line = text.substr(at, end - at);
        const size_t first = line.find_first_not_of(" \t");
        if (first != std::string::npos && line[first] == '[') {
            const QString name = QString::fromStdString(line.substr(first + 1, line.find(']') - first - 1)).trimmed();
            aside = name.startsWith('%') && name.mid(1).compare(QLatin1String("general"), Qt::CaseInsensitive) == 0 &&
                    name != QLatin1String("%General");
            if (aside)
                groups << name.mid(1);
        }
        (aside ? kept : rest) += line;
        at = end;
    }
    text = rest;
    if (!kept.empty() && kept.back() != '\n')
        kept += '\n';
    return kept;
}

} // namespace

bool IniText::update(const std::string& systemPath, const Entries& changes)
{
    // One update at a time: they share the scratch file of a settings file.
    static std::mutex updating;
    std::lock_guard<std::mutex> hold(updating);
    const std::string scratch = systemPath + ".edit";
    // A scratch file a cut left goes first (anything else there fails the store below).
    // QSettings keeps the content of a file it read whose size and time are unchanged; a
    // scratch file that is not there when it is opened makes it read the copy afresh.
    std::error_code ec;
    if (fs::is_regular_file(fs::symlink_status(board::Files::map(scratch), ec)) && !board::Files::remove(scratch)) {
        board::Files::reportFailedStore(systemPath, EIO);
        return false;
    }
    std::string bytes;
    if (board::Files::exists(systemPath)) {
        std::ifstream in(board::Files::map(systemPath), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            board::Files::reportFailedStore(systemPath, EIO);
            return false;
        }
    }
    QStringList generals;
    const std::string kept = takeGeneralSections(bytes, generals);
    for (const auto& change : changes)
        if (generals.contains(change.first.section('/', 0, 0))) {
            board::Files::reportFailedStore(systemPath, EINVAL);
            return false;
        }
    {
        QSettings file(board::Files::map(QString::fromStdString(scratch)), QSettings::IniFormat);
        if (!board::Files::writeAtomically(scratch, bytes.data(), bytes.size()))
            return false;
        for (const auto& change : changes)
            file.setValue(change.first, change.second);
        file.sync();
        if (file.status() != QSettings::NoError) {
            board::Files::reportFailedStore(scratch, file.status() == QSettings::AccessError ? EACCES : EINVAL);
            return false;
        }
    }
    if (!kept.empty()) {
        std::ifstream in(board::Files::map(scratch), std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!in.good() && !in.eof()) {
            board::Files::reportFailedStore(scratch, EIO);
            return false;
        }
        text += "\n" + kept;
        if (!board::Files::writeAtomically(scratch, text.data(), text.size()))
            return false;
    }
    return board::Files::move(scratch, systemPath);
}
