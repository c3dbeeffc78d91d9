// The recorder against the private sound server (PulseAudio and PipeWire): known tones played into
// the virtual speaker and microphone are found in the recordings at the right length, level and
// frequency, the two sources of a mixed recording line up by the server's capture times, and its
// separate tracks hold one source each, as long as the mix, also after a crash.

#include "RecorderSoundFixture.h"

#include "ConfigStore.h"
#include "FileBytes.h"
#include "Process.h"
#include "RecordingTracks.h"
#include "SoundServer.h"
#include "SyntheticDevice.h" // FindClicks

#include <signal.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>
#include <utility>

namespace {

class RecorderSound : public RecorderSoundFixture {};

TEST_F(RecorderSound, ToneOfEachSourceAtItsLengthLevelAndFrequency)
{
    // (Mixing both sources: RecorderFaultTest, whose takes hold a tone of each.)
    for (const auto& [source, deviceRate, format, freq] :
         {std::tuple{kSystemSound, 44100, "mp3", 440.0}, {kMicrophone, 48000, "wav", 1000.0}}) {
        SCOPED_TRACE(format);
        ASSERT_TRUE(SoundServer::Reset(deviceRate));
        ASSERT_TRUE((source == kMicrophone ? mic_ : speaker_).PlayTone(freq, 0.5));
        const DecodedAudio a = Record(source, format, {}, 3000, source == kMicrophone, format).audio;
        EXPECT_NEAR(a.Seconds(), 3.0, 0.15);
        EXPECT_GT(Share(a, freq, 0.5, 2.5), 0.9);
        // A sine of peak 0.5 has an RMS of -9 dBFS.
        EXPECT_NEAR(RmsDb(a.left, kRate / 2, a.left.size() - kRate / 2), -9.0, 1.0);
        speaker_.Close(); // their sinks go with the next Reset
        mic_.Close();
    }
}

TEST_F(RecorderSound, MixedSourcesStayAlignedAcrossAPause)
{
    // The microphone hears what the speaker plays, with the channels swapped; clicks go into the
    // speaker's left channel only. In the file, left = system sound path, right = microphone path.
    ASSERT_EQ(SoundServer::Pactl({"unload-module", "module-remap-source"}), 0);
    ASSERT_GE(SoundServer::LoadModule("module-remap-source", {"master=speaker.monitor", "source_name=mic",
              "channel_map=front-right,front-left", "master_channel_map=front-left,front-right", "remix=no"}), 0);
    ASSERT_GE(SoundServer::LoadModule("module-remap-sink", {"sink_name=speaker-left", "master=speaker", "channels=1",
              "channel_map=mono", "master_channel_map=front-left", "remix=no"}), 0);
    SoundPlayer clicks("speaker-left", kRate, 1);
    ASSERT_TRUE(clicks.PlayClicks(0.5, 0.8));
    // The whole system sound, and the clicking program alone (its own stream, placed by its own
    // timing: on PipeWire through PipeWire's interface).
    for (const char* program : {"", "pacat"}) {
        SCOPED_TRACE(program);
        programs_.only = program;
        const DecodedAudio a = Record(kBoth, "wav", {PauseStep(2000, 700)}, 2500).audio;
        std::vector<int64_t> left, right;
        FindClicks(a.left.data(), a.left.size(), 0, 0.1f, kRate / 10, left);
        FindClicks(a.right.data(), a.right.size(), 0, 0.1f, kRate / 10, right);
        // Each left click with the nearest right one; a click cut in two by the pause may be heard
        // on one side only and stays unpaired.
        std::vector<std::pair<double, double>> offsets; // (right - left, time in the file) in seconds
        for (const int64_t l : left) {
            int64_t best = kRate;
            for (const int64_t r : right)
                if (std::abs(r - l) < std::abs(best))
                    best = r - l;
            if (std::abs(best) <= kRate / 4)
                offsets.emplace_back(double(best) / kRate, double(l) / kRate);
        }
        ASSERT_GE(offsets.size(), 7u);
        std::sort(offsets.begin(), offsets.end());
        const double median = offsets[offsets.size() / 2].first;
        // Neither the start nor the pause moves a source: every click, the first included, keeps the
        // offset of the others.
        for (const auto& [o, at] : offsets)
            EXPECT_LT(std::abs(o - median), 0.003)
                << "the click at " << at << " s " << o * 1000 << " ms off, the others " << median * 1000;
        EXPECT_LT(std::abs(median), 0.003) << "microphone " << median * 1000 << " ms off";
    }
}

TEST_F(RecorderSound, SeparateTracksHoldOneSourceEachAsLongAsTheMixAlsoAfterACrash)
{
    constexpr double kSystemTone = 440, kMicTone = 1000;
    ASSERT_TRUE(speaker_.PlayTone(kSystemTone, 0.5));
    ASSERT_TRUE(mic_.PlayTone(kMicTone, 0.5));
    WriteConfigString(config::kSection, config::kSplitTracks, "1");
    // Each track holds its own source, the other's tone at least 40 dB down, and is as long as the
    // mix give or take within samples.
    double mixSeconds = 0;
    const auto expectTracks = [&](const std::string& mixPath, const std::string& format, size_t within) {
        DecodedAudio mix, track;
        ASSERT_TRUE(DecodeAudioFile(mixPath, mix));
        mixSeconds = mix.Seconds();
        for (const auto& [name, own, other] : {std::tuple{RecordingTracks::kSystemSoundName, kSystemTone, kMicTone},
                                               {RecordingTracks::kMicrophoneName, kMicTone, kSystemTone}}) {
            ASSERT_TRUE(DecodeAudioFile(RecordingTracks::FolderOf(mixPath) + "/" + name + "." + format, track)) << name;
            EXPECT_NEAR(track.left.size(), mix.left.size(), within) << name;
            const double to = track.Seconds() - 0.2;
            EXPECT_GT(ToneDb(track, own, 0.3, to) - ToneDb(track, other, 0.3, to), 40) << name;
        }
    };
    // A pause applies to the mix and both tracks alike: three files of one length (within a frame).
    for (const std::string format : {"wav", "mp3"}) {
        SCOPED_TRACE(format);
        EXPECT_NEAR(Record(kBoth, format, {PauseStep(1000, 500)}, 1500, true, "tracks-" + format).audio.Seconds(), 2.5, 0.2);
        expectTracks(folder_ + "/tracks-" + format + "." + format, format, format == "wav" ? 1024 : 1152);
    }

    // Killed while recording: the next start repairs the tracks like the mix and names each (the
    // files reach the disk once a second: the mix holds at least the seconds printed but one).
    Process tool({TAMSU_RECORD_TOOL, "--source", "both", "--split-tracks", "--format", "wav", "--seconds", "600",
                  "--output", env_.MakeFolder("killed").toStdString()});
    ASSERT_TRUE(tool.WaitForOutput("00:00:03\n", std::chrono::seconds(20)));
    tool.Signal(SIGKILL);
    tool.Finish(std::chrono::seconds(20));
    const Process::Result next =
        RunProcess({TAMSU_RECORD_TOOL, "--silent", "--seconds", "1", "--output", env_.MakeFolder("next").toStdString()});
    EXPECT_EQ(next.code, 0) << next.err;
    std::vector<std::string> recovered;
    const std::string said = "tamsu-record: 已恢复上次未完成的录音: ";
    for (size_t at = 0; (at = next.err.find(said, at)) != std::string::npos; at += said.size())
        recovered.push_back(next.err.substr(at + said.size(), next.err.find('\n', at) - at - said.size()));
    std::sort(recovered.begin(), recovered.end()); // the folder's files, then the mix
    ASSERT_EQ(recovered.size(), 3u) << next.err;
    const std::string tracks = RecordingTracks::FolderOf(recovered[2]) + "/";
    EXPECT_EQ(recovered, (std::vector<std::string>{tracks + "系统声音.wav", tracks + "麦克风.wav", recovered[2]}));
    expectTracks(recovered[2], "wav", kRate);
    EXPECT_GE(mixSeconds, 2.0);

    // A full disk stops the take: the mix and both tracks are whole files of one length (within samples).
    const std::string disk = env_.MakeFolder("disk").toStdString(), kept = env_.MakeFolder("kept").toStdString();
    const Process::Result full = RunOnTmpfs(1536 * 1024, disk, kept, {TAMSU_RECORD_TOOL, "--source", "both",
        "--split-tracks", "--format", "wav", "--seconds", "60", "--output", disk});
    if (full.code == 125)
        GTEST_SKIP() << "no tmpfs for the full disk: " << full.err;
    EXPECT_EQ(full.code, 1) << full.err;
    EXPECT_NE(full.err.find("磁盘空间不足，录音已停止"), std::string::npos) << full.err;
    std::string mix;
    for (const auto& entry : std::filesystem::directory_iterator(kept))
        if (entry.path().extension() == ".wav")
            mix = entry.path().string();
    ASSERT_FALSE(mix.empty()) << "no recording kept from the full disk";
    for (const std::string name : {RecordingTracks::kSystemSoundName, RecordingTracks::kMicrophoneName})
        ExpectWavSizesMatchFile(RecordingTracks::FolderOf(mix) + "/" + name + ".wav");
    ExpectWavSizesMatchFile(mix);
    expectTracks(mix, "wav", 1024);
    EXPECT_GE(mixSeconds, 2.0);
}

} // namespace
