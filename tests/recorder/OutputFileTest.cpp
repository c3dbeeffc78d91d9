// The recording's file (RecordingWriter over OutputFile): what a kill leaves plays up to the last
// Sync, and write failures (full disk, a short write, a removed file) are reported and leave a
// finished file.

#include "AudioAnalysis.h"
#include "FileBytes.h"
#include "RecordingWriter.h"
#include "TestEnv.h"

extern "C" {
#include <libavformat/avio.h>
}

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>

namespace {

// Writes seconds of silence in whole frames; false at the first failed frame.
bool WriteSilence(RecordingWriter& w, double seconds)
{
    ff::FramePtr frame = ff::MakeFrame();
    frame->nb_samples = w.FrameSize();
    frame->format = w.SampleFormat();
    frame->sample_rate = w.SampleRate();
    frame->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    av_frame_get_buffer(frame.get(), 0);
    av_samples_set_silence(frame->data, 0, w.FrameSize(), 2, static_cast<AVSampleFormat>(w.SampleFormat()));
    for (int i = 0; i < static_cast<int>(seconds * w.SampleRate()) / w.FrameSize(); ++i)
        if (!w.Write(frame.get(), nullptr, w.FrameSize()))
            return false;
    return true;
}

} // namespace

TEST(OutputFile, CopyAfterSyncPlaysToItsLength)
{
    for (const std::string format : {"wav", "mp3"}) {
        SCOPED_TRACE(format);
        // Seconds the decoded copy may fall short: what the MP3 encoder still holds.
        const double shortBy = format == "mp3" ? 0.15 : 0;
        TestEnv env;
        const std::string path = env.Root().toStdString() + "/rec." + format;
        const std::string copy = env.Root().toStdString() + "/killed." + format;
        RecordingWriter w;
        ASSERT_EQ(w.Open(path, format, 64000, false), 0);
        const auto framesIn = [&](double s) { return static_cast<int>(s * w.SampleRate()) / w.FrameSize(); };
        ASSERT_TRUE(WriteSilence(w, 1.5));
        EXPECT_GT(std::filesystem::file_size(path), 4000u); // reached the kernel even without Sync
        ASSERT_TRUE(w.Sync());
        std::filesystem::copy_file(path, copy); // what a kill -9 right now leaves
        ASSERT_TRUE(WriteSilence(w, 1.5));
        ASSERT_TRUE(w.Finish());

        for (const auto& [file, frames] : {std::pair{copy, framesIn(1.5)}, std::pair{path, 2 * framesIn(1.5)}}) {
            const double seconds = double(frames * w.FrameSize()) / w.SampleRate();
            DecodedAudio audio;
            ASSERT_TRUE(DecodeAudioFile(file, audio)) << file;
            EXPECT_NEAR(audio.Seconds(), seconds - shortBy / 2, shortBy / 2 + 1e-9) << file;
            if (format == "wav") {
                EXPECT_EQ(ExpectWavSizesMatchFile(file), audio.left.size()) << file;
            }
        }
    }
}

TEST(OutputFile, FullDiskIsReportedAsSuch)
{
    // /dev/full fails every write with ENOSPC.
    OutputFile file;
    ASSERT_TRUE(file.Create("/dev/full"));
    const std::string bytes(8192, 'x');
    avio_write(file.Io(), reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    EXPECT_FALSE(file.Sync());
    EXPECT_EQ(file.GetError(), OutputFile::Error::kDiskFull);
    EXPECT_FALSE(file.Close());
    EXPECT_EQ(file.GetError(), OutputFile::Error::kDiskFull);
}

// A file-size limit makes the write that crosses it fall short (then EFBIG) in the middle of a
// sample frame: the closed file must count whole frames only. A file removed while it is written
// is noticed at the next Sync.
TEST(OutputFile, WriteFailureIsReportedAndTheFileFinished)
{
    constexpr rlim_t kShortWriteLimit = 20003;
    for (const bool removed : {false, true}) {
        SCOPED_TRACE(removed ? "removed" : "short write");
        TestEnv env;
        const std::string path = env.Root().toStdString() + "/rec.wav";
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        if (!removed) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limited = saved;
            limited.rlim_cur = kShortWriteLimit;
            setrlimit(RLIMIT_FSIZE, &limited);
        }
        RecordingWriter w;
        ASSERT_EQ(w.Open(path, "wav", 0, false), 0);
        if (removed)
            std::filesystem::remove(path);
        WriteSilence(w, 1.0);
        EXPECT_FALSE(w.Sync());
        EXPECT_EQ(w.GetError(), OutputFile::Error::kWriteFailed);
        EXPECT_FALSE(w.Finish());
        EXPECT_EQ(w.GetError(), OutputFile::Error::kWriteFailed);
        setrlimit(RLIMIT_FSIZE, &saved);
        if (!removed) {
            DecodedAudio audio;
            ASSERT_TRUE(DecodeAudioFile(path, audio));
            EXPECT_EQ(ExpectWavSizesMatchFile(path), audio.left.size());
            EXPECT_GT(audio.left.size(), (kShortWriteLimit - 200) / 4); // all that fit, but for the header
        }
    }
}
