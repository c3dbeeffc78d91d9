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
    QDir().mkpath(DataHome());
    QDir().mkpath(root_ + "/home/Documents");
    QDir().mkpath(root_ + "/config");
    const std::pair<const char*, QString> vars[] = {
        {"XDG_DATA_HOME", DataHome()}, {"HOME", root_ + "/home"}, {"XDG_CONFIG_HOME", root_ + "/config"}};
    for (const auto& [name, value] : vars)
        Set(name, value.toLocal8Bit().toStdString());
    ResetConfigFilePathForTesting();
}

void TestEnv::Set(const char* name, const std::string& value)
{
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    ::setenv(name, value.c_str(), 1);
}

TestEnv::~TestEnv()
{
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        const auto& [name, value] = *it;
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
    ResetConfigFilePathForTesting();
    QDir(root_).removeRecursively();
}

QString TestEnv::MakeFolder(const QString& name) const
{
    const QString path = root_ + "/" + name;
    QDir().mkpath(path);
    return path;
}
