#include "ByteSizeText.h"

#include <array>
#include <cmath>

QString FormatByteSize(int64_t bytes)
{
    constexpr int64_t kUnit = 1024;
    if (bytes < kUnit)
        return QString::number(bytes) + QStringLiteral(" B");
    static constexpr std::array<const char*, 4> kUnits{" KB", " MB", " GB", " TB"};
    double figure = static_cast<double>(bytes) / kUnit;
    std::size_t unit = 0;
    while (figure >= kUnit && unit + 1 < kUnits.size()) {
        figure /= kUnit;
        ++unit;
    }
    return QString::number(std::floor(figure * 10) / 10, 'f', 1) + QLatin1String(kUnits[unit]);
}
