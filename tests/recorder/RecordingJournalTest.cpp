// RepairWavFile on what a kill leaves, and RecoverUnfinishedRecordings over the entries of dead,
// live, reused-pid and corrupt owners.

#include "AudioAnalysis.h"
#include "FileBytes.h"
#include "RecordingJournal.h"
#include "TestEnv.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <QDir>

namespace {

// A 44.1 kHz 16-bit stereo WAV as the muxer lays it out (a LIST/INFO chunk before "data"), both
// sizes still unknown, holding frames frames plus extra bytes.
std::string UnfinishedWav(int frames, int extra)
{
    std::string b;
    const auto le = [&b](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b += char(v >> (8 * i));
    };
    b += "RIFF", le(0xFFFFFFFF, 4), b += "WAVEfmt ";
    // chunk size, PCM, channels, rate, bytes per second, block align, bits
    for (auto [v, bytes] : {std::pair{16u, 4}, {1u, 2}, {2u, 2}, {44100u, 4}, {176400u, 4}, {4u, 2}, {16u, 2}})
        le(v, bytes);
    b += "LIST", le(26, 4), b += "INFOISFT", le(14, 4), b += std::string("Lavf59.27.100\0", 14);
    b += "data", le(0xFFFFFFFF, 4);
    return b + std::string(size_t(frames) * 4 + extra, '\x11');
}

TEST(RecordingJournalTest, RepairSetsTheSizesFromTheLength)
{
    const struct {
        const char* name;
        std::string bytes;
        bool repaired;
        int frames; // whole frames counted afterwards
    } cases[] = {
        {"killed with half a frame", UnfinishedWav(44100, 2), true, 44100},
        {"header only", UnfinishedWav(0, 0), true, 0},
        {"header cut short", UnfinishedWav(0, 0).substr(0, 40), false, 0},
        {"not a WAV", "ID3\x04" + std::string(400, '\x55'), false, 0},
    };
    TestEnv env;
    const std::string path = env.Root().toStdString() + "/f.wav";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBytes(path, c.bytes);
        EXPECT_EQ(RepairWavFile(path), c.repaired);
        if (!c.repaired) {
            EXPECT_EQ(ReadBytes(path), c.bytes); // untouched
            continue;
        }
        EXPECT_EQ(ExpectWavSizesMatchFile(path), size_t(c.frames)); // the partial frame is cut off
        DecodedAudio audio;
        EXPECT_TRUE(c.frames == 0 || (DecodeAudioFile(path, audio) && audio.left.size() == size_t(c.frames)));
    }
}

TEST(RecordingJournalTest, RecoversOnlyWhatNoLiveProcessOwns)
{
    TestEnv env;
    const std::string root = env.Root().toStdString();
    const std::string deadWav = root + "/新录音\n一.wav"; // any bytes round-trip
    const std::string deadMp3 = root + "/dead.mp3", liveWav = root + "/live.wav", reusedWav = root + "/reused.wav";
    const std::string unfinished = UnfinishedWav(1000, 2);
    for (const auto& path : {deadWav, liveWav, reusedWav})
        WriteBytes(path, unfinished);
    WriteBytes(deadMp3, "ID3 frames");

    // A process that journals two recordings and dies without ending them.
    const pid_t child = fork();
    if (child == 0) {
        RecordingJournal wav, mp3;
        _exit(wav.Begin(deadWav, "wav") && mp3.Begin(deadMp3, "mp3") ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    // The entry of an earlier process that had this process's pid: ours but for the start time.
    const QString folder = env.DataHome() + "/TamsuAudioRecorder/Journal";
    RecordingJournal reused;
    ASSERT_TRUE(reused.Begin(reusedWav, "wav"));
    const QStringList own = QDir(folder).entryList({QString::number(getpid()) + "-*.entry"});
    ASSERT_EQ(own.size(), 1);
    const std::string entry = (folder + "/" + own[0]).toStdString();
    std::string text = ReadBytes(entry);
    const size_t start = text.find(' ', text.find('\n')) + 1; // second line: pid, start time, format
    WriteBytes(entry, text.replace(start, text.find(' ', start) - start, "1"));
    RecordingJournal live; // this process, recording right now
    ASSERT_TRUE(live.Begin(liveWav, "wav"));
    WriteBytes((folder + "/1-2-3.entry").toStdString(), "garbage\npid=x\n");

    EXPECT_THAT(RecoverUnfinishedRecordings(), ::testing::UnorderedElementsAre(deadWav, deadMp3, reusedWav));
    EXPECT_EQ(ExpectWavSizesMatchFile(deadWav), 1000u);
    EXPECT_EQ(ReadBytes(deadMp3), "ID3 frames");
    EXPECT_EQ(ReadBytes(liveWav), unfinished);
    EXPECT_EQ(QDir(folder).entryList({"*.entry"}).size(), 1); // the live one

    EXPECT_TRUE(RecoverUnfinishedRecordings().empty());
    live.End();
    EXPECT_TRUE(QDir(folder).entryList({"*.entry"}).isEmpty());
}

} // namespace
