// The configuration file as stored files depend on it (place, layout, profile rules, atomic
// replace), and the folders derived from it.

#include "ConfigStore.h"
#include "Folders.h"
#include "TestEnv.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace config;

QByteArray ReadRaw(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(ConfigStore, MissingFileGivesDefaultsAndWritesStoreEveryKeyByItsName)
{
    TestEnv env;
    const QString path = env.ConfigFile();
    EXPECT_EQ(GetConfigFilePath(), path);
    EXPECT_EQ(ReadConfigInt(kSection, kVoiceSize, 20), 20u);
    QString out = "junk";
    EXPECT_FALSE(ReadConfigString(kSection, kOutputDir, "", out, kOutputDirCapacity));
    EXPECT_TRUE(out.isEmpty());

    QDir(env.DataHome() + "/TamsuAudioRecorder").removeRecursively(); // the folder comes back
    const char* keys[] = {kOutputDir, kVoiceSource, kAudioFormat, kVoiceBitrateIndex, kVoiceBitrate, kVoiceSize,
        kAgcCheck, kNoiseCheck, kAudioMuteCheck, kMicVolumeSize, kSysVolumeSize, kWindowClose, kUserRealIp};
    for (int i = 0; i < 13; ++i)
        ASSERT_TRUE(WriteConfigString(kSection, keys[i], QString::number(i)));
    EXPECT_EQ(ReadRaw(path), "[global]\r\noutput-dir=0\r\nvoice-source=1\r\naudio-format=2\r\nvoice-bitrate-index=3\r\n"
                             "voice-bitrate=4\r\nvoice-size=5\r\nagc-check=6\r\nnoise-check=7\r\naudio-mute-check=8\r\n"
                             "mic-volume-size=9\r\nsys-volume-size=10\r\nwindow-close=11\r\nuser-real-ip=12\r\n");
}

TEST(ConfigStore, ValuesFollowProfileRules)
{
    TestEnv env;
    const std::pair<const char*, uint32_t> integers[] = {{"7", 7u}, {"42abc", 42u}, {"yes", 0u}, {"", 0u},
        {"-1", 0xFFFFFFFFu}, {"-20", static_cast<uint32_t>(-20)}, {"  15  ", 15u}, {"\"3\"", 3u}};
    for (const auto& [stored, expected] : integers) {
        WriteConfigString(kSection, kAgcCheck, stored);
        EXPECT_EQ(ReadConfigInt(kSection, kAgcCheck, 99), expected) << "stored: " << stored;
    }
    // Text keeps what is not ASCII and is cut to capacity - 1 characters.
    const QString dir = QString::fromUtf8("/home/用户/录音 文件") + QString(300, 'a');
    WriteConfigString(kSection, kOutputDir, dir);
    QString out;
    EXPECT_TRUE(ReadConfigString(kSection, kOutputDir, "", out, kOutputDirCapacity));
    EXPECT_EQ(out, dir.left(kOutputDirCapacity - 1));
    EXPECT_FALSE(ReadConfigString(kSection, kOutputDir, "", out, 1));
    EXPECT_TRUE(out.isEmpty());
}

TEST(ConfigStore, NamesMatchInAnyCaseAndOtherLinesAreKept)
{
    TestEnv env;
    QFile file(GetConfigFilePath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("; kept comment\r\n[other]\r\nvoice-source=9\r\n\r\n[GLOBAL]\r\nVoice-Source = 1\r\n"
               "unknown-key=x y\r\n[tail]\r\nz=1\r\n");
    file.close();
    EXPECT_EQ(ReadConfigInt("Global", "VOICE-SOURCE", 0), 1u);

    WriteConfigString(kSection, kVoiceSource, "2");
    WriteConfigString(kSection, kNoiseCheck, "1");
    EXPECT_EQ(ReadRaw(file.fileName()), "; kept comment\r\n[other]\r\nvoice-source=9\r\n\r\n[GLOBAL]\r\nVoice-Source=2\r\n"
                                        "unknown-key=x y\r\nnoise-check=1\r\n[tail]\r\nz=1\r\n");
}

TEST(ConfigStore, ConcurrentWritesLoseNothingAndReadersNeverSeeHalfAFile)
{
    TestEnv env;
    WriteConfigString(kSection, kVoiceSource, "2");
    std::atomic<bool> done{false};
    std::atomic<int> badReads{0};
    std::thread reader([&] {
        while (!done)
            badReads += ReadConfigInt(kSection, kVoiceSource, 99) != 2;
    });
    std::vector<std::thread> writers; // four writers of 40 keys each
    for (int w = 0; w < 4; ++w)
        writers.emplace_back([w] {
            for (int k = w * 100; k < w * 100 + 40; ++k)
                WriteConfigString(kSection, QString("key-%1").arg(k), QString::number(k));
        });
    for (auto& writer : writers)
        writer.join();
    done = true;
    reader.join();
    EXPECT_EQ(badReads, 0);
    for (int w = 0; w < 4; ++w)
        for (int k = w * 100; k < w * 100 + 40; ++k)
            ASSERT_EQ(ReadConfigInt(kSection, QString("key-%1").arg(k), -1), uint32_t(k));
}

TEST(Folders, OutputFolderIsTheTrimmedConfiguredOneMadeWholeOrTheDefault)
{
    TestEnv env;
    const QString configured = env.Root() + "/rec/a/b"; // every level made
    WriteConfigString(kSection, kOutputDir, "  " + configured + "  ");
    EXPECT_EQ(GetOutputFolder(), configured);
    EXPECT_TRUE(QDir(configured).exists());

    WriteConfigString(kSection, kOutputDir, "   ");
    const QString def = env.Root() + QString::fromUtf8("/home/Documents/TAMSU电脑录音");
    EXPECT_EQ(GetOutputFolder(), def);
    EXPECT_TRUE(QDir(def).exists());
}

} // namespace
