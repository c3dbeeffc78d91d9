#include "RecordingFiles.h"

#include "ByteSizeText.h"
#include "RecordingText.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// Longest duration shown (about 68 years): a damaged file's huge figure stays inside the range
// the conversion to whole seconds is defined for.
constexpr double kMaxShownSeconds = 2147483647.0;

} // namespace

bool IsRecordingName(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return false;
    const QStringView extension = QStringView(name).mid(dot + 1);
    return extension == QLatin1String("mp3") || extension == QLatin1String("MP3") ||
           extension == QLatin1String("wav") || extension == QLatin1String("WAV");
}

int64_t RecordingFileSize(const QString& path)
{
    struct stat info {};
    const QByteArray local = path.toLocal8Bit();
    if (::stat(local.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return 0;
    return static_cast<int64_t>(info.st_size);
}

QString FormatFileSize(int64_t size)
{
    return FormatByteSize(size);
}

QString FormatDuration(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    return FormatElapsedTime(static_cast<int64_t>(std::min(seconds, kMaxShownSeconds)));
}
