#include "ConfigStore.h"

#include "IniFile.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::mutex g_pathLock;
QString g_configFilePath; // guarded by g_pathLock until set; never changed afterwards
std::atomic<bool> g_pathSet{false};

QString DataHome()
{
    const QByteArray xdg = qgetenv("XDG_DATA_HOME");
    if (!xdg.isEmpty() && xdg.startsWith('/'))
        return QString::fromLocal8Bit(xdg);
    return QDir::homePath() + "/.local/share";
}

bool Exists(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), F_OK) == 0;
}

bool MakeOne(const QString& path)
{
    return ::mkdir(QFile::encodeName(path).constData(), 0755) == 0;
}

} // namespace

const QString& GetConfigFilePath()
{
    const QString full = GetAppDataSubfolder("TamsuAudioRecorder/Config") + "/configure.ini";
    if (g_pathSet.load(std::memory_order_acquire))
        return g_configFilePath;
    std::lock_guard<std::mutex> guard(g_pathLock);
    if (!g_pathSet.load(std::memory_order_relaxed)) {
        g_configFilePath = full;
        g_pathSet.store(true, std::memory_order_release);
    }
    return g_configFilePath;
}

void ResetConfigFilePathForTesting()
{
    std::lock_guard<std::mutex> guard(g_pathLock);
    g_pathSet.store(false, std::memory_order_release);
}

uint32_t ReadConfigInt(const QString& section, const QString& key, int32_t defaultValue)
{
    return IniFile(GetConfigFilePath()).ReadInt(section, key, defaultValue);
}

bool ReadConfigString(const QString& section, const QString& key, const QString& defaultText,
                      QString& out, int capacity)
{
    return IniFile(GetConfigFilePath()).ReadString(section, key, defaultText, out, capacity);
}

bool WriteConfigString(const QString& section, const QString& key, const QString& value)
{
    return IniFile(GetConfigFilePath()).WriteString(section, key, value);
}

QString GetAppDataSubfolder(const QString& subPath)
{
    return MakeDirectories(DataHome() + "/" + subPath);
}

QString MakeDirectories(const QString& path)
{
    // The head is everything up to and including the first separator ("/" for an absolute path).
    const int first = path.indexOf('/');
    if (first < 0) {
        if (!path.isEmpty() && !Exists(path) && !MakeOne(path))
            std::printf("create dir error curPath: %s\n", path.toLocal8Bit().constData());
        return path;
    }
    const QString head = path.left(first + 1);
    const QStringList segments = path.mid(first + 1).split('/', Qt::SkipEmptyParts);
    QString current = head;
    for (int i = 0; i < segments.size(); ++i) {
        if (!current.endsWith('/'))
            current += '/';
        current += segments[i];
        const bool last = (i == segments.size() - 1);
        if (!Exists(current) && !MakeOne(current)) {
            std::printf("%s%s\n", last ? "create dir error curPath: " : "create dir error fullPath: ",
                        current.toLocal8Bit().constData());
        }
    }
    std::fflush(stdout);
    return path;
}
