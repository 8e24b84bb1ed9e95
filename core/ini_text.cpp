#include "core/ini_text.h"

#include "board/Files.h"

#include <QLockFile>
#include <QSettings>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <filesystem>
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

// The whole file into bytes: 0, or the reason it could not be read.
int readAll(const std::string& systemPath, std::string& bytes) { return board::Files::readAll(systemPath, bytes); }

// How long a store waits for the library's lock file beside its scratch copy: the library
// itself would wait for ever.
constexpr int kLockWaitMs = 200;

} // namespace

bool IniText::update(const std::string& systemPath, const Entries& changes)
{
    // One update at a time: they share the scratch file of a settings file.
    static std::mutex updating;
    std::lock_guard<std::mutex> hold(updating);
    const std::string scratch = systemPath + ".edit";
    // Whatever a cut or anything else left at the scratch path goes first (a folder or a link
    // there would fail every store). QSettings keeps the content of a file it read whose size
    // and time are unchanged; a scratch file that is not there when it is opened makes it
    // read the copy afresh.
    std::error_code ec;
    if (fs::symlink_status(board::Files::map(scratch), ec).type() != fs::file_type::not_found && !board::Files::remove(scratch)) {
        board::Files::reportFailedStore(systemPath, EIO);
        return false;
    }
    // The library writes the scratch copy only once it holds its lock file beside it, and
    // waits for that without end. One program runs per data root and its updates are one at
    // a time here, so whatever stands at that path (a cut's leftover, a folder, a link) is
    // left over and goes; what cannot be cleared, or a lock not had within a short wait,
    // refuses the store instead of holding every later one behind it.
    const std::string lock = scratch + ".lock";
    if (fs::symlink_status(board::Files::map(lock), ec).type() != fs::file_type::not_found && !board::Files::remove(lock)) {
        board::Files::reportFailedStore(systemPath, EIO);
        return false;
    }
    {
        QLockFile probe(board::Files::map(QString::fromStdString(lock)));
        if (!probe.tryLock(kLockWaitMs)) {
            board::Files::reportFailedStore(systemPath, EBUSY);
            return false;
        }
    }
    // Only a file (or a link to one) is edited. A folder at the path is left as it is and the
    // store refused; anything else (a dangling link, a named pipe, a socket, a device node)
    // holds no settings and is replaced, as nothing there would be.
    std::string bytes;
    const fs::file_type type = fs::status(board::Files::map(systemPath), ec).type();
    if (type == fs::file_type::directory) {
        board::Files::reportFailedStore(systemPath, EISDIR);
        return false;
    }
    if (type == fs::file_type::regular) {
        if (const int error = readAll(systemPath, bytes)) {
            board::Files::reportFailedStore(systemPath, error);
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
        board::Files::libraryWrite([&] { file.sync(); });
        // A line QSettings cannot read (a "#" comment, a stray line) is no reason to refuse:
        // the entries it read are written back and that line is left out. Its status then
        // says FormatError even when the write failed, so a rewrite is told by the bytes: a
        // written file never holds a line that could not be read.
        std::string now;
        const bool rewritten = file.status() == QSettings::FormatError && readAll(scratch, now) == 0 && now != bytes;
        if (file.status() != QSettings::NoError && !rewritten) {
            board::Files::reportFailedStore(scratch, file.status() == QSettings::AccessError ? EACCES : EIO);
            return false;
        }
    }
    // The library does not flush what it wrote: the rename below would store it unflushed.
    if (const int error = board::Files::flushWritten(scratch)) {
        board::Files::reportFailedStore(scratch, error);
        return false;
    }
    if (!kept.empty()) {
        std::string text;
        if (const int error = readAll(scratch, text)) {
            board::Files::reportFailedStore(scratch, error);
            return false;
        }
        text += "\n" + kept;
        if (!board::Files::writeAtomically(scratch, text.data(), text.size()))
            return false;
    }
    return board::Files::move(scratch, systemPath);
}
