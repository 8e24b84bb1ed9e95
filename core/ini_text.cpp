#include "core/ini_text.h"

#include "board/Files.h"

#include <QSettings>
#include <QStringList>
#include <algorithm>

namespace {

bool isHex(ushort ch) { return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F'); }

// A key or group name: letters, digits, '_', '-' and '.' as they are; '/' is the group
// separator inside a group ('\'), everything else a %XX (or %UXXXX) escape.
void escapeKey(const QString& key, QByteArray& out)
{
    static const char hex[] = "0123456789ABCDEF";
    for (const QChar c : key) {
        const ushort ch = c.unicode();
        if (ch == '/') {
            out += '\\';
        } else if ((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_' ||
                   ch == '-' || ch == '.') {
            out += char(ch);
        } else if (ch <= 0xFF) {
            out += '%';
            out += hex[ch >> 4];
            out += hex[ch & 15];
        } else {
            out += "%U";
            for (int shift = 12; shift >= 0; shift -= 4)
                out += hex[(ch >> shift) & 15];
        }
    }
}

// One text value: control and non-ASCII characters as \x escapes (a following hex digit is
// escaped too, or the reader would take it into the number), quotes round a text that holds
// ';', ',' or '=' or starts or ends with a blank. A text starting with '@' gets a second one.
void escapeText(const QString& text, QByteArray& out)
{
    const QString s = text.startsWith(QLatin1Char('@')) ? QLatin1Char('@') + text : text;
    const int start = out.size();
    bool quotes = false, escapeHexDigit = false;
    for (const QChar c : s) {
        const ushort ch = c.unicode();
        if (ch == ';' || ch == ',' || ch == '=')
            quotes = true;
        if (escapeHexDigit && isHex(ch)) {
            out += "\\x" + QByteArray::number(ch, 16);
            continue;
        }
        escapeHexDigit = false;
        switch (ch) {
        case '\0': out += "\\0", escapeHexDigit = true; break;
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        case '"':
        case '\\': out += '\\', out += char(ch); break;
        default:
            if (ch <= 0x1F || ch >= 0x7F) {
                out += "\\x" + QByteArray::number(ch, 16);
                escapeHexDigit = true;
            } else {
                out += char(ch);
            }
        }
    }
    if (quotes || (start < out.size() && (out.at(start) == ' ' || out.at(out.size() - 1) == ' '))) {
        out.insert(start, '"');
        out += '"';
    }
}

void escapeValue(const QVariant& value, QByteArray& out)
{
    if (value.type() == QVariant::StringList && value.toStringList().size() != 1) {
        const QStringList list = value.toStringList();
        if (list.isEmpty())
            out += "@Invalid()";
        for (int i = 0; i < list.size(); ++i) {
            if (i)
                out += ", ";
            escapeText(list[i], out);
        }
        return;
    }
    if (!value.isValid()) {
        out += "@Invalid()";
        return;
    }
    escapeText(value.type() == QVariant::StringList ? value.toStringList().value(0) : value.toString(), out);
}

} // namespace

QByteArray IniText::compose(const Entries& entries)
{
    // Keys without a group ("") go under [General]; a group really named General is %General.
    const auto groupOf = [](const QString& key) { return key.indexOf('/') < 0 ? QString() : key.left(key.indexOf('/')); };
    QStringList groups;
    for (const auto& e : entries)
        if (!groups.contains(groupOf(e.first)))
            groups.append(groupOf(e.first));
    QByteArray out;
    for (const QString& group : groups) {
        if (!out.isEmpty())
            out += '\n';
        out += '[';
        if (group.isEmpty())
            out += "General";
        else if (group == QLatin1String("General"))
            out += "%General";
        else
            escapeKey(group, out);
        out += "]\n";
        for (const auto& e : entries) {
            if (groupOf(e.first) != group)
                continue;
            escapeKey(group.isEmpty() ? e.first : e.first.mid(group.size() + 1), out);
            out += '=';
            escapeValue(e.second, out);
            out += '\n';
        }
    }
    return out;
}

bool IniText::store(const std::string& systemPath, const Entries& entries)
{
    const QByteArray text = compose(entries);
    return board::Files::writeAtomically(systemPath, text.constData(), size_t(text.size()));
}

bool IniText::update(const std::string& systemPath, const Entries& changes)
{
    Entries entries;
    {
        const QSettings file(board::Files::map(QString::fromStdString(systemPath)), QSettings::IniFormat);
        for (const QString& key : file.allKeys())
            entries.append({key, file.value(key)});
    }
    for (const auto& change : changes) {
        auto it = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == change.first; });
        if (it != entries.end())
            it->second = change.second;
        else
            entries.append(change);
    }
    return store(systemPath, entries);
}
