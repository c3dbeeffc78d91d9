#include "TestEnv.h"

#include "ConfigStore.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdlib>

TestEnv::TestEnv()
{
    QTemporaryDir dir(QDir::tempPath() + "/tamsu-test-XXXXXX");
    dir.setAutoRemove(false);
    root_ = dir.path();
    const char* old = std::getenv("XDG_DATA_HOME");
    hadDataHome_ = old != nullptr;
    if (old)
        oldDataHome_ = old;
    QDir().mkpath(DataHome());
    ::setenv("XDG_DATA_HOME", DataHome().toLocal8Bit().constData(), 1);
    ResetConfigFilePathForTesting();
}

TestEnv::~TestEnv()
{
    if (hadDataHome_)
        ::setenv("XDG_DATA_HOME", oldDataHome_.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
    ResetConfigFilePathForTesting();
    QDir(root_).removeRecursively();
}

QString TestEnv::ConfigFile() const
{
    return DataHome() + "/TamsuAudioRecorder/Config/configure.ini";
}

QString TestEnv::MakeFolder(const QString& name) const
{
    const QString path = root_ + "/" + name;
    QDir().mkpath(path);
    return path;
}
