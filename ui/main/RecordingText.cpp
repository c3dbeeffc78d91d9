#include "RecordingText.h"

#include <QFileInfo>

#include <array>
#include <cstdio>
#include <utility>

namespace {

// Bit rate used for a quality text the table does not know.
constexpr int32_t kFallbackBitRate = 128000;

constexpr std::array<std::pair<const char*, int32_t>, 6> kQualityBitRates{{
    {"64kbps", 64000},
    {"96kbps", 96000},
    {"128kbps", 128000},
    {"192kbps", 192000},
    {"256kbps", 256000},
    {"320kbps", 320000},
}};

} // namespace

QString MakeRecordingFileName(std::time_t at, const QString& extension)
{
    std::tm local{};
    localtime_r(&at, &local);
    char stamp[32] = {};
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
    return QString::fromUtf8("新录音-") + QString::fromLatin1(stamp) + "." + extension;
}

QString ChooseRecordingFileName(const QString& folder, std::time_t at, const QString& extension)
{
    for (int i = 0; i < kRecordingNameTries; ++i) {
        const QString name = MakeRecordingFileName(at + i, extension);
        if (!QFileInfo::exists(folder + "/" + name))
            return name;
    }
    return QString();
}

int32_t BitRateForQuality(const QString& qualityText)
{
    for (const auto& [text, bitRate] : kQualityBitRates) {
        if (qualityText == QLatin1String(text))
            return bitRate;
    }
    return kFallbackBitRate;
}

QString FormatElapsedTime(int64_t seconds)
{
    if (seconds < 0)
        seconds = 0;
    const int64_t hours = seconds / 3600;
    const int64_t minutes = (seconds - hours * 3600) / 60;
    char text[72] = {}; // room for three 64-bit numbers
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(hours),
                  static_cast<long long>(minutes), static_cast<long long>(seconds % 60));
    return QString::fromLatin1(text);
}
