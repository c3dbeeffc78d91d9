// The recording's plan: damaged settings give their defaults, overrides win, the devices decide
// what can be recorded, and an unwritable folder or a taken minute of names refuses the start.

#include "ConfigStore.h"
#include "RecordingPlan.h"
#include "TestEnv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <tuple>

namespace {

PlanOverrides InFolder(const QTemporaryDir& dir)
{
    PlanOverrides o;
    o.folder = dir.path().toStdString();
    return o;
}

} // namespace

TEST(RecordingPlan, EveryKeyOutOfItsRangeGivesItsDefault)
{
    const struct {
        const char* key;
        std::vector<const char*> values;
    } cases[] = {
        {config::kNoiseCheck, {"abc", "-5", "99999999999", "4294967297", "3"}},
        {config::kAgcCheck, {"abc", "-1", "4294967297"}},
        {config::kVoiceSource, {"abc", "-5", "4294967298", "3"}},
        {config::kAudioMuteCheck, {"abc", "4294967297", "2"}},
        {config::kVoiceSize, {"abc", "-5", "101"}},
        {config::kAudioFormat, {"abc", "2", "-1"}},
        {config::kVoiceBitrateIndex, {"abc", "6", "-1", "4294967296"}},
    };
    QTemporaryDir dir;
    const RecordingPlan defaults;
    for (const auto& c : cases) {
        for (const char* value : c.values) {
            SCOPED_TRACE(std::string(c.key) + "=" + value);
            TestEnv env;
            ASSERT_TRUE(WriteConfigString(config::kSection, c.key, value));
            const PlanOutcome out = ResolveRecordingPlan(InFolder(dir), {true, true}, 0);
            ASSERT_EQ(out.refusal, PlanRefusal::kNone);
            const RecordingPlan& p = out.plan;
            EXPECT_EQ(std::make_tuple(p.noiseSuppression, p.gainControl, p.source, p.silent, p.micGainDb, p.format),
                      std::make_tuple(defaults.noiseSuppression, defaults.gainControl, defaults.source, defaults.silent,
                                      defaults.micGainDb, defaults.format));
            // Not stored: the first quality; damaged: 128 kbit/s.
            EXPECT_EQ(p.bitRate, std::string(c.key) == config::kVoiceBitrateIndex ? 128000 : kBitRates[0]);
        }
    }
}

TEST(RecordingPlan, StoredSettingsOverridesAndDevices)
{
    QTemporaryDir dir;
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, const char*>> stored;
        PlanOverrides overrides;
        AudioDevices devices;
        PlanRefusal refusal;
        int source;
        bool micMissing, echo;
    };
    PlanOverrides mic, system, silentMic, echoOn;
    echoOn.echoCancel = true;
    mic.source = silentMic.source = kMicrophone;
    system.source = kSystemSound;
    silentMic.silent = true;
    using R = PlanRefusal;
    const std::pair<const char*, const char*> echoStored{config::kEchoCheck, "1"};
    const Case cases[] = {
        {"both, all devices (echo cancellation on unless stored off)", {}, {}, {true, true}, R::kNone, kBoth, false, true},
        {"both without a microphone: system sound only", {}, {}, {true, false}, R::kNone, kSystemSound, true, false},
        {"both without a speaker", {}, {}, {false, true}, R::kNoSpeaker, kBoth, false, false},
        {"stored microphone without one", {{config::kVoiceSource, "1"}}, {}, {true, false}, R::kNoMicrophone,
         kMicrophone, false, false},
        {"microphone needs no speaker (then no echo either)", {}, mic, {false, true}, R::kNone, kMicrophone,
         false, false},
        {"microphone alone: the speaker is its echo's reference", {echoStored}, mic, {true, true}, R::kNone,
         kMicrophone, false, true},
        {"override beats the stored source", {{config::kVoiceSource, "1"}}, system, {true, false}, R::kNone,
         kSystemSound, false, false},
        {"silence needs no device", {}, silentMic, {false, false}, R::kNone, kMicrophone, false, false},
        {"stored silence needs no device", {{config::kAudioMuteCheck, "1"}}, {}, {false, false}, R::kNone, kBoth,
         false, false},
        {"headphones: no echo to cancel", {}, {}, {true, true, true}, R::kNone, kBoth, false, false},
        {"echo cancellation stored on", {echoStored}, {}, {true, true}, R::kNone, kBoth, false, true},
        {"echo cancellation stored off", {{config::kEchoCheck, "0"}}, {}, {true, true}, R::kNone, kBoth, false, false},
        {"echo override beats the stored off", {{config::kEchoCheck, "0"}}, echoOn, {true, true}, R::kNone, kBoth,
         false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestEnv env;
        for (const auto& [key, value] : c.stored)
            ASSERT_TRUE(WriteConfigString(config::kSection, key, value));
        PlanOverrides overrides = c.overrides;
        overrides.folder = dir.path().toStdString();
        const PlanOutcome out = ResolveRecordingPlan(overrides, c.devices, 0);
        EXPECT_EQ(out.refusal, c.refusal);
        EXPECT_EQ(out.plan.source, c.source);
        EXPECT_EQ(out.microphoneMissing, c.micMissing);
        EXPECT_EQ(out.plan.echoCancel, c.echo);
    }

    // Voice processing only for MP3; the stored quality index is the bit rate.
    TestEnv env;
    for (const auto& [key, value] : {std::pair{config::kNoiseCheck, "1"}, {config::kAgcCheck, "1"},
                                     {config::kVoiceBitrateIndex, "5"}, {config::kVoiceSize, "35"}})
        ASSERT_TRUE(WriteConfigString(config::kSection, key, value));
    RecordingPlan p = ResolveRecordingPlan(InFolder(dir), {true, true}, 0).plan;
    EXPECT_TRUE(p.noiseSuppression && p.gainControl);
    EXPECT_EQ(p.bitRate, 320000);
    EXPECT_EQ(p.micGainDb, 35);
    // Separate tracks are the two sources of a mix: none when the microphone is missing.
    ASSERT_TRUE(WriteConfigString(config::kSection, config::kSplitTracks, "1"));
    EXPECT_TRUE(ResolveRecordingPlan(InFolder(dir), {true, true}, 0).plan.splitTracks);
    EXPECT_FALSE(ResolveRecordingPlan(InFolder(dir), {true, false}, 0).plan.splitTracks);
    ASSERT_TRUE(WriteConfigString(config::kSection, config::kAudioFormat, "1"));
    p = ResolveRecordingPlan(InFolder(dir), {true, true}, 0).plan;
    EXPECT_EQ(p.format, "wav");
    EXPECT_FALSE(p.noiseSuppression || p.gainControl || p.echoCancel);
}

TEST(RecordingPlan, FileNameIsTheLocalTimeOfTheStartAndFolderMustBeWritable)
{
    TestEnv env;
    std::tm local{};
    ASSERT_NE(strptime("2021-01-02 03:04:05", "%Y-%m-%d %H:%M:%S", &local), nullptr);
    local.tm_isdst = -1;
    const std::time_t at = std::mktime(&local);
    EXPECT_EQ(RecordingFileName(at, "mp3"), "新录音-20210102030405.mp3");

    // Taken names: the next free second; when the whole minute is taken, no start.
    QTemporaryDir dir;
    const PlanOverrides here = InFolder(dir);
    auto take = [&](std::time_t t) {
        return QFile(dir.path() + "/" + QString::fromStdString(RecordingFileName(t, "mp3"))).open(QIODevice::WriteOnly);
    };
    EXPECT_EQ(ResolveRecordingPlan(here, {true, true}, at).plan.fileName, RecordingFileName(at, "mp3"));
    ASSERT_TRUE(take(at));
    EXPECT_EQ(ResolveRecordingPlan(here, {true, true}, at).plan.fileName, RecordingFileName(at + 1, "mp3"));
    // With separate tracks, the tracks kept from a deleted take hold on to their name.
    ASSERT_TRUE(WriteConfigString(config::kSection, config::kSplitTracks, "1"));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QString::fromStdString(RecordingFileName(at + 1, "mp3")).replace(".mp3", "-分轨")));
    EXPECT_EQ(ResolveRecordingPlan(here, {true, true}, at).plan.fileName, RecordingFileName(at + 2, "mp3"));
    for (int i = 1; i < 60; ++i)
        ASSERT_TRUE(take(at + i));
    EXPECT_EQ(ResolveRecordingPlan(here, {true, true}, at).refusal, PlanRefusal::kNoFileName);

    // A missing folder is made; one that cannot be written refuses the start (as root, a folder's
    // mode does not stop writes: only a read-only mount or a missing parent does).
    PlanOverrides nested = here;
    nested.folder = dir.path().toStdString() + "/a/b";
    EXPECT_EQ(ResolveRecordingPlan(nested, {true, true}, at).refusal, PlanRefusal::kNone);
    EXPECT_TRUE(QDir(dir.path() + "/a/b").exists());
    PlanOverrides unwritable = here;
    unwritable.folder = "/proc/tamsu-no-such-folder";
    EXPECT_EQ(ResolveRecordingPlan(unwritable, {true, true}, at).refusal, PlanRefusal::kFolderNotWritable);
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(dir.path().toLocal8Bit().constData(), 0500), 0);
        EXPECT_EQ(ResolveRecordingPlan(here, {true, true}, at).refusal, PlanRefusal::kFolderNotWritable);
        chmod(dir.path().toLocal8Bit().constData(), 0700);
    }
}

// The stored program keys as the window writes them, and which playback streams they take: by
// binary or application.name; a program without any name is never the one chosen, and is
// recorded with the others when some are left out.
TEST(RecordingPlan, StoredProgramsTakeTheirStreams)
{
    QTemporaryDir dir;
    const struct {
        const char* key;
        const char* stored;
        bool firefox, mpv, nameless; // streams ("Firefox", "firefox"), ("mpv", ""), ("", "")
    } rows[] = {
        {config::kAppSource, " firefox ", true, false, false},
        {config::kAppSource, "Firefox", true, false, false},
        {config::kAppExclude, "firefox||mpv|", false, false, true},
        {config::kAppExclude, "", true, true, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.key) + "=" + row.stored);
        TestEnv env;
        ASSERT_TRUE(WriteConfigString(config::kSection, row.key, row.stored));
        const ProgramChoice choice = ResolveRecordingPlan(InFolder(dir), {true, true}, 0).plan.programs;
        EXPECT_EQ(choice.Takes("Firefox", "firefox"), row.firefox);
        EXPECT_EQ(choice.Takes("mpv", ""), row.mpv);
        EXPECT_EQ(choice.Takes("", ""), row.nameless);
    }
}
