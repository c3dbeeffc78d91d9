#include "IniFile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <map>
#include <memory>
#include <mutex>

namespace {

// One lock per file path: writes of different threads to the same file never interleave, so no
// write is lost between another thread's read and rename.
std::mutex& LockFor(const QString& path)
{
    static std::mutex tableLock;
    static std::map<QString, std::unique_ptr<std::mutex>> locks;
    std::lock_guard<std::mutex> guard(tableLock);
    auto& slot = locks[path];
    if (!slot)
        slot = std::make_unique<std::mutex>();
    return *slot;
}

bool ReadLines(const QString& path, QStringList& lines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QString text = QString::fromUtf8(file.readAll());
    if (text.startsWith(QChar(0xFEFF)))
        text.remove(0, 1);
    lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return true;
}

// "[name]" with blanks allowed around; gives the name.
bool IsSectionLine(const QString& line, QString& name)
{
    const QString t = line.trimmed();
    if (!t.startsWith('[') || !t.contains(']'))
        return false;
    name = t.mid(1, t.indexOf(']') - 1).trimmed();
    return true;
}

// "key=value"; gives the trimmed key and the raw value text.
bool IsKeyLine(const QString& line, QString& key, QString& value)
{
    const int eq = line.indexOf('=');
    if (eq < 0)
        return false;
    key = line.left(eq).trimmed();
    value = line.mid(eq + 1);
    return !key.isEmpty();
}

bool SameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString CleanValue(QString value)
{
    value = value.trimmed();
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.mid(1, value.size() - 2);
    return value;
}

} // namespace

IniFile::IniFile(QString path) : path_(std::move(path)) {}

bool IniFile::Lookup(const QString& section, const QString& key, QString& value) const
{
    QStringList lines;
    if (!ReadLines(path_, lines))
        return false;
    bool inSection = false;
    for (const QString& line : lines) {
        QString name, k, v;
        if (IsSectionLine(line, name)) {
            inSection = SameName(name, section);
        } else if (inSection && IsKeyLine(line, k, v) && SameName(k, key)) {
            value = CleanValue(v);
            return true;
        }
    }
    return false;
}

uint32_t IniFile::ParseProfileInt(const QString& text)
{
    const QString t = text.trimmed();
    int i = 0;
    bool negative = false;
    if (i < t.size() && t[i] == '-') {
        negative = true;
        ++i;
    }
    uint32_t v = 0;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
        v = v * 10u + static_cast<uint32_t>(t[i].unicode() - '0');
    return negative ? static_cast<uint32_t>(0u - v) : v;
}

uint32_t IniFile::ReadInt(const QString& section, const QString& key, int32_t defaultValue) const
{
    QString value;
    if (!Lookup(section, key, value))
        return static_cast<uint32_t>(defaultValue);
    return ParseProfileInt(value);
}

bool IniFile::ReadString(const QString& section, const QString& key, const QString& defaultText,
                         QString& out, int capacity) const
{
    if (capacity <= 0) {
        out.clear();
        return false;
    }
    QString value;
    if (!Lookup(section, key, value))
        value = defaultText;
    out = value.left(capacity - 1);
    return !out.isEmpty();
}

bool IniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    std::lock_guard<std::mutex> guard(LockFor(path_));
    QStringList lines;
    ReadLines(path_, lines); // a missing file is created below

    const QString entry = key + "=" + value;
    int sectionLine = -1;
    int lastLineOfSection = -1;
    bool written = false;
    bool inSection = false;
    for (int i = 0; i < lines.size() && !written; ++i) {
        QString name, k, v;
        if (IsSectionLine(lines[i], name)) {
            if (inSection)
                break; // the section ended without the key
            inSection = SameName(name, section);
            if (inSection)
                sectionLine = lastLineOfSection = i;
        } else if (inSection) {
            if (!lines[i].trimmed().isEmpty())
                lastLineOfSection = i;
            if (IsKeyLine(lines[i], k, v) && SameName(k, key)) {
                lines[i] = k + "=" + value;
                written = true;
            }
        }
    }
    if (!written) {
        if (sectionLine < 0) {
            lines << ("[" + section + "]") << entry;
        } else {
            lines.insert(lastLineOfSection + 1, entry);
        }
    }

    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = (lines.join("\r\n") + "\r\n").toUtf8();
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
