#include "LogCleanup.h"

#include <QFile>

#include <ctime>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Characters 5 to 12 (counted from 1) of a log file's name hold its date.
constexpr int kDateOffset = 4;
constexpr int kDateLength = 8;

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

} // namespace

QString TodayLogDate()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16] = {};
    std::strftime(text, sizeof text, "%Y%m%d", &local);
    return QString::fromLatin1(text);
}

int CleanOldLogFiles(const QString& folder, const QString& today)
{
    const QByteArray path = QFile::encodeName(folder);
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(path.constData()));
    if (!dir)
        return -1;
    while (const dirent* entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        const QByteArray full = path + "/" + name;
        struct stat info {};
        // A folder (also ".", "..") stays; so does an entry that vanished meanwhile.
        if (::lstat(full.constData(), &info) != 0 || S_ISDIR(info.st_mode))
            continue;
        if (QFile::decodeName(name).mid(kDateOffset, kDateLength) != today)
            ::unlink(full.constData());
    }
    return 0;
}
