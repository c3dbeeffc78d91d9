// OutputFile under FFmpeg's muxer: what a kill leaves plays up to the last Sync, and write failures
// (full disk, a short write, a removed file) are reported and leave a finished file.

#include "AudioAnalysis.h"
#include "FFmpegPtr.h"
#include "FileBytes.h"
#include "OutputFile.h"
#include "TestEnv.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>

namespace {

constexpr int kRate = 44100;

// A WAV (s16) or MP3 (64 kbit/s) of silence, muxed into an OutputFile.
struct SineMuxer {
    OutputFile file;
    ff::OutputPtr out;
    ff::CodecContextPtr enc;
    int64_t pts = 0;
    bool header = false;

    bool Open(const std::string& path, const std::string& format)
    {
        const bool wav = format == "wav";
        AVFormatContext* ctx = nullptr;
        avformat_alloc_output_context2(&ctx, nullptr, format.c_str(), nullptr);
        out.reset(ctx);
        const AVCodec* codec = avcodec_find_encoder(wav ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_MP3);
        enc.reset(avcodec_alloc_context3(codec));
        enc->sample_fmt = wav ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;
        enc->sample_rate = kRate;
        enc->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
        enc->bit_rate = 64000;
        enc->time_base = {1, kRate};
        AVStream* stream = avformat_new_stream(ctx, nullptr);
        if (avcodec_open2(enc.get(), codec, nullptr) < 0 ||
            avcodec_parameters_from_context(stream->codecpar, enc.get()) < 0 || !file.Create(path))
            return false;
        stream->time_base = enc->time_base;
        ctx->pb = file.Io();
        ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
        ctx->flush_packets = 0; // by default the muxer flushes every packet; the buffer alone must do
        header = avformat_write_header(ctx, nullptr) >= 0;
        if (wav)
            file.MarkWavDataStart();
        return header;
    }

    int Send(const AVFrame* frame) // encodes and writes; the first failure's code, else 0
    {
        int ret = avcodec_send_frame(enc.get(), frame);
        ff::PacketPtr packet = ff::MakePacket();
        while (ret >= 0 && (ret = avcodec_receive_packet(enc.get(), packet.get())) >= 0) {
            av_packet_rescale_ts(packet.get(), enc->time_base, out->streams[0]->time_base);
            ret = av_interleaved_write_frame(out.get(), packet.get());
        }
        return ret == AVERROR(EAGAIN) || ret == AVERROR_EOF ? 0 : ret;
    }

    int Write(double seconds)
    {
        const int size = enc->frame_size > 0 ? enc->frame_size : 1024;
        for (int i = 0; i < int(seconds * kRate) / size; ++i) {
            ff::FramePtr frame = ff::MakeFrame();
            frame->nb_samples = size;
            frame->format = enc->sample_fmt;
            av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout);
            av_frame_get_buffer(frame.get(), 0);
            av_samples_set_silence(frame->data, 0, size, 2, enc->sample_fmt);
            frame->pts = pts;
            pts += size;
            if (const int ret = Send(frame.get()); ret < 0)
                return ret;
        }
        return 0;
    }

    void Finish()
    {
        Send(nullptr);
        if (header)
            av_write_trailer(out.get());
    }
};

class OutputFileKillTest : public ::testing::TestWithParam<const char*> {};

TEST_P(OutputFileKillTest, CopyAfterSyncPlaysToItsLength)
{
    const std::string format = GetParam();
    // Seconds the decoded copy may fall short: what the MP3 encoder still holds.
    const double shortBy = format == "mp3" ? 0.15 : 0;
    TestEnv env;
    const std::string path = env.Root().toStdString() + "/rec." + format;
    const std::string copy = env.Root().toStdString() + "/killed." + format;
    SineMuxer m;
    ASSERT_TRUE(m.Open(path, format));
    ASSERT_EQ(m.Write(1.5), 0);
    EXPECT_GT(std::filesystem::file_size(path), 4000u); // reached the kernel even without Sync
    ASSERT_TRUE(m.file.Sync());
    std::filesystem::copy_file(path, copy); // what a kill -9 right now leaves
    const double atCopy = double(m.pts) / kRate;
    ASSERT_EQ(m.Write(1.5), 0);
    m.Finish();
    ASSERT_TRUE(m.file.Close());

    for (const auto& [file, seconds] : {std::pair{copy, atCopy}, std::pair{path, double(m.pts) / kRate}}) {
        DecodedAudio audio;
        ASSERT_TRUE(DecodeAudioFile(file, audio)) << file;
        EXPECT_NEAR(audio.Seconds(), seconds - shortBy / 2, shortBy / 2 + 1e-9) << file;
        if (format == "wav") {
            EXPECT_EQ(ExpectWavSizesMatchFile(file), audio.left.size()) << file;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, OutputFileKillTest, ::testing::Values("wav", "mp3"));

enum class Fault { kDeviceFull, kShortWrite, kRemoved };
struct FaultCase {
    const char* name;
    const char* format;
    Fault fault;
    OutputFile::Error expected;
};

class OutputFileFaultTest : public ::testing::TestWithParam<FaultCase> {};

// A file-size limit makes the write that crosses it fall short (then EFBIG) in the middle of a
// sample frame: the closed file must count whole frames only.
constexpr rlim_t kShortWriteLimit = 20003;

TEST_P(OutputFileFaultTest, ReportedAndFileFinished)
{
    const FaultCase c = GetParam();
    TestEnv env;
    // /dev/full fails every write with ENOSPC.
    const std::string path = c.fault == Fault::kDeviceFull ? "/dev/full" : env.Root().toStdString() + "/rec.wav";
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    if (c.fault == Fault::kShortWrite) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved;
        limited.rlim_cur = kShortWriteLimit;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    SineMuxer m;
    if (m.Open(path, c.format)) {
        if (c.fault == Fault::kRemoved)
            std::filesystem::remove(path);
        m.Write(1.0);
    }
    EXPECT_FALSE(m.file.Sync());
    EXPECT_EQ(m.file.GetError(), c.expected);
    m.Finish();
    EXPECT_FALSE(m.file.Close());
    EXPECT_EQ(m.file.GetError(), c.expected);
    setrlimit(RLIMIT_FSIZE, &saved);

    if (c.fault == Fault::kShortWrite) {
        DecodedAudio audio;
        ASSERT_TRUE(DecodeAudioFile(path, audio));
        EXPECT_EQ(ExpectWavSizesMatchFile(path), audio.left.size());
        EXPECT_GT(audio.left.size(), (kShortWriteLimit - 200) / 4); // all that fit, but for the header
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, OutputFileFaultTest,
    ::testing::Values(FaultCase{"FullDiskWav", "wav", Fault::kDeviceFull, OutputFile::Error::kDiskFull},
                      FaultCase{"FullDiskMp3", "mp3", Fault::kDeviceFull, OutputFile::Error::kDiskFull},
                      FaultCase{"ShortWriteWav", "wav", Fault::kShortWrite, OutputFile::Error::kWriteFailed},
                      FaultCase{"RemovedWav", "wav", Fault::kRemoved, OutputFile::Error::kWriteFailed}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
