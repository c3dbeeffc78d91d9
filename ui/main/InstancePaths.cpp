#include "InstancePaths.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The fall-back runtime folder must be ours alone: a folder that someone else created in the
// shared temp folder could be used to watch or block our instance.
bool IsPrivateFolder(const QByteArray& path)
{
    struct stat info {};
    if (::lstat(path.constData(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 0077) == 0;
}

QString Child(const QString& name)
{
    const QString folder = GetRuntimeFolder();
    return folder.isEmpty() ? QString() : folder + "/" + name;
}

} // namespace

QString GetRuntimeFolder()
{
    const QString fromEnv = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!fromEnv.isEmpty())
        return QDir::cleanPath(fromEnv);
    const QString folder = QDir::tempPath() + "/tamsu-" + QString::number(::getuid());
    const QByteArray path = QFile::encodeName(folder);
    ::mkdir(path.constData(), 0700); // fails harmlessly when it exists; checked below
    return IsPrivateFolder(path) ? folder : QString();
}

QString InstanceLockPath()
{
    return Child(kInstanceMutexName);
}

QString InstanceSocketPath()
{
    return Child(kInstanceMarkerName);
}
