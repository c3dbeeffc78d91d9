#pragma once
// A private temporary folder for one test, with HOME, XDG_DATA_HOME and XDG_CONFIG_HOME pointed
// into it, so configuration, logs and recordings never touch the user's own files. The documents
// folder of that home ("home/Documents") exists.

#include <QString>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class TestEnv {
public:
    TestEnv();
    ~TestEnv();
    TestEnv(const TestEnv&) = delete;
    TestEnv& operator=(const TestEnv&) = delete;

    const QString& Root() const { return root_; }
    QString DataHome() const { return root_ + "/data"; }
    // Path of the configuration file as the program computes it for this environment.
    QString ConfigFile() const { return DataHome() + "/TamsuAudioRecorder/Config/configure.ini"; }
    // A sub-folder of the root, created.
    QString MakeFolder(const QString& name) const;
    // Sets an environment variable until this environment ends.
    void Set(const char* name, const std::string& value);

private:
    QString root_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};
