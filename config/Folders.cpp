#include "Folders.h"

#include "ConfigStore.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <unistd.h>

QString GetSpecialFolder(int csidl)
{
    switch (csidl) {
    case kCsidlDesktop:
        return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    case kCsidlPersonal:
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    case kCsidlLocalAppData: {
        const QByteArray xdg = qgetenv("XDG_DATA_HOME");
        return (!xdg.isEmpty() && xdg.startsWith('/')) ? QString::fromLocal8Bit(xdg)
                                                       : QDir::homePath() + "/.local/share";
    }
    default:
        return {};
    }
}

QString GetOutputFolder()
{
    QString configured;
    ReadConfigString(config::kSection, config::kOutputDir, QString(), configured,
                     config::kOutputDirCapacity);
    configured = configured.trimmed();
    if (!configured.isEmpty())
        return MakeDirectories(configured);

    QString base = GetSpecialFolder(kCsidlPersonal);
    if (base.isEmpty() || ::access(QFile::encodeName(base).constData(), F_OK) != 0)
        base = GetSpecialFolder(kCsidlDesktop);
    return MakeDirectories(base + QString::fromUtf8("/TAMSU电脑录音"));
}
