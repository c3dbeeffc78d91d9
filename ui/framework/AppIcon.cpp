#include "AppIcon.h"

#include <QFile>

namespace {

// Sizes rendered from the scalable icon; the resource holds each of them (see CMakeLists.txt).
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

}  // namespace

QIcon BuiltInAppIcon()
{
    QIcon icon;
    for (int size : kIconSizes) {
        const QString file = QStringLiteral(":/icons/%1x%1/apps/%2.png").arg(size).arg(QLatin1String(kAppId));
        if (QFile::exists(file))
            icon.addFile(file, QSize(size, size));
    }
    return icon;
}

QIcon AppIcon()
{
    return QIcon::fromTheme(QLatin1String(kAppId), BuiltInAppIcon());
}
