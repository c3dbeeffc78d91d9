#include "ConfigStore.h"
#include "IniFile.h"
#include "TestEnv.h"

#include <QDir>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

void WriteRaw(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray ReadRaw(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(ConfigStore, MissingFileGivesDefaultsAndFirstWriteCreatesIt)
{
    TestEnv env;
    EXPECT_FALSE(QFile::exists(env.ConfigFile()));
    EXPECT_EQ(GetConfigFilePath(), env.ConfigFile());
    EXPECT_EQ(ReadConfigInt("global", "voice-source", 0), 0u);
    EXPECT_EQ(ReadConfigInt("global", "voice-size", 20), 20u);
    QString out = "junk";
    EXPECT_FALSE(ReadConfigString("global", "output-dir", "", out, 260));
    EXPECT_TRUE(out.isEmpty());

    EXPECT_TRUE(WriteConfigString("global", "voice-source", "2"));
    EXPECT_TRUE(QFile::exists(env.ConfigFile()));
    EXPECT_EQ(ReadConfigInt("global", "voice-source", 0), 2u);
}

TEST(ConfigStore, IntegerReadingFollowsProfileRules)
{
    TestEnv env;
    struct Case {
        const char* stored;
        uint32_t expected;
    } cases[] = {
        {"7", 7u},          {"0", 0u},           {"42abc", 42u},
        {"yes", 0u},        {"", 0u},            {"-1", 0xFFFFFFFFu},
        {"-20", static_cast<uint32_t>(-20)}, {"  15  ", 15u}, {"\"3\"", 3u /* quotes are removed */},
    };
    for (const Case& c : cases) {
        WriteConfigString("global", "agc-check", QString::fromUtf8(c.stored));
        EXPECT_EQ(ReadConfigInt("global", "agc-check", 99), c.expected) << "stored: " << c.stored;
    }
}

TEST(ConfigStore, StringIsCutToCapacityMinusOne)
{
    TestEnv env;
    const QString longPath = "/" + QString(299, QChar('a'));
    WriteConfigString("global", "output-dir", longPath);
    QString out;
    EXPECT_TRUE(ReadConfigString("global", "output-dir", "", out, 260));
    EXPECT_EQ(out.size(), 259);
    EXPECT_EQ(out, longPath.left(259));

    WriteConfigString("global", "user-real-ip", "203.0.113.9");
    EXPECT_TRUE(ReadConfigString("global", "user-real-ip", "", out, 56));
    EXPECT_EQ(out, "203.0.113.9");
    EXPECT_FALSE(ReadConfigString("global", "user-real-ip", "", out, 1));
    EXPECT_TRUE(out.isEmpty());
}

TEST(ConfigStore, NamesMatchCaseInsensitivelyAndOtherLinesAreKept)
{
    TestEnv env;
    GetConfigFilePath(); // creates the folder
    WriteRaw(env.ConfigFile(), "; kept comment\r\n[other]\r\nvoice-source=9\r\n\r\n[GLOBAL]\r\n"
                               "Voice-Source = 1\r\nunknown-key=x y\r\n[tail]\r\nz=1\r\n");
    EXPECT_EQ(ReadConfigInt("global", "voice-source", 0), 1u);
    EXPECT_EQ(ReadConfigInt("GLOBAL", "VOICE-SOURCE", 0), 1u);

    WriteConfigString("global", "voice-source", "2");
    WriteConfigString("global", "noise-check", "1");
    EXPECT_EQ(ReadConfigInt("global", "voice-source", 0), 2u);
    EXPECT_EQ(ReadConfigInt("global", "noise-check", 0), 1u);
    EXPECT_EQ(ReadConfigInt("other", "voice-source", 0), 9u);
    EXPECT_EQ(ReadConfigInt("tail", "z", 0), 1u);

    const QByteArray text = ReadRaw(env.ConfigFile());
    EXPECT_TRUE(text.contains("; kept comment"));
    EXPECT_TRUE(text.contains("unknown-key=x y"));
    // The new key went into its own section, not after [tail].
    EXPECT_LT(text.indexOf("noise-check=1"), text.indexOf("[tail]"));
    EXPECT_EQ(text.count("[GLOBAL]") + text.count("[global]"), 1);
}

TEST(ConfigStore, NonAsciiValuesSurvive)
{
    TestEnv env;
    const QString dir = QString::fromUtf8("/home/用户/录音 文件");
    WriteConfigString("global", "output-dir", dir);
    QString out;
    ReadConfigString("global", "output-dir", "", out, 260);
    EXPECT_EQ(out, dir);
}

TEST(ConfigStore, ConcurrentWritersLoseNothing)
{
    TestEnv env;
    constexpr int kThreads = 4;
    constexpr int kKeysEach = 40;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int k = 0; k < kKeysEach; ++k)
                WriteConfigString("global", QString("key-%1-%2").arg(t).arg(k), QString::number(t * 1000 + k));
        });
    }
    for (auto& th : threads)
        th.join();
    for (int t = 0; t < kThreads; ++t)
        for (int k = 0; k < kKeysEach; ++k)
            ASSERT_EQ(ReadConfigInt("global", QString("key-%1-%2").arg(t).arg(k), -1),
                      static_cast<uint32_t>(t * 1000 + k));
}

TEST(ConfigStore, PathIsComputedOnceAndItsFolderRecreated)
{
    TestEnv env;
    const QString first = GetConfigFilePath();
    QDir(env.DataHome() + "/TamsuAudioRecorder").removeRecursively();
    EXPECT_EQ(GetConfigFilePath(), first);
    EXPECT_TRUE(QDir(env.DataHome() + "/TamsuAudioRecorder/Config").exists());
}
