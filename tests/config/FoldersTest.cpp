#include "ConfigStore.h"
#include "Folders.h"
#include "TestEnv.h"

#include <QDir>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Captures what a call prints on standard output.
template <typename F>
std::string CaptureStdout(F&& f)
{
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

} // namespace

TEST(Folders, MakeDirectoriesCreatesEveryLevelAndIsQuietOnExistingPaths)
{
    TestEnv env;
    const QString path = env.Root() + "/a/b/c";
    const std::string printed = CaptureStdout([&] { EXPECT_EQ(MakeDirectories(path), path); });
    EXPECT_TRUE(printed.empty()) << printed;
    EXPECT_TRUE(QDir(path).exists());
    EXPECT_TRUE(CaptureStdout([&] { MakeDirectories(path + "/"); }).empty());
}

TEST(Folders, MakeDirectoriesReportsEachLevelItCannotCreate)
{
    TestEnv env;
    // A file where a folder should be: every level below it fails.
    QFile blocker(env.Root() + "/file");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString path = env.Root() + "/file/x/y";
    const std::string printed = CaptureStdout([&] { EXPECT_EQ(MakeDirectories(path), path); });
    const std::string root = env.Root().toStdString();
    EXPECT_NE(printed.find("create dir error fullPath: " + root + "/file/x\n"), std::string::npos) << printed;
    EXPECT_NE(printed.find("create dir error curPath: " + root + "/file/x/y\n"), std::string::npos) << printed;
}

TEST(Folders, AppDataSubfolderLivesUnderXdgDataHome)
{
    TestEnv env;
    const QString log = GetAppDataSubfolder("TamsuAudioRecorder/Log");
    EXPECT_EQ(log, env.DataHome() + "/TamsuAudioRecorder/Log");
    EXPECT_TRUE(QDir(log).exists());
}

TEST(Folders, OutputFolderIsTrimmedConfiguredFolderOrDefault)
{
    TestEnv env;
    const QString configured = env.Root() + "/rec";
    WriteConfigString("global", "output-dir", "  " + configured + "  ");
    EXPECT_EQ(GetOutputFolder(), configured);
    EXPECT_TRUE(QDir(configured).exists());

    WriteConfigString("global", "output-dir", "   ");
    // Documents exists in the test home: the default goes there.
    const QString def = GetOutputFolder();
    EXPECT_EQ(def, env.Root() + QString::fromUtf8("/home/Documents/TAMSU电脑录音"));
    EXPECT_TRUE(QDir(def).exists());
}
