#include "AudioAnalysis.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

struct FormatCloser { void operator()(AVFormatContext* c) const { avformat_close_input(&c); } };
struct CodecFreer { void operator()(AVCodecContext* c) const { avcodec_free_context(&c); } };
struct FrameFreer { void operator()(AVFrame* f) const { av_frame_free(&f); } };
struct PacketFreer { void operator()(AVPacket* p) const { av_packet_free(&p); } };
struct SwrFreer { void operator()(SwrContext* s) const { swr_free(&s); } };

// Floor of RmsDb for digital silence.
constexpr double kSilenceDb = -200.0;
constexpr double kPi = 3.14159265358979323846;

bool Fail(std::string* error, const std::string& text, int code = 0)
{
    if (error) {
        *error = text;
        if (code < 0) {
            char buf[AV_ERROR_MAX_STRING_SIZE] = {};
            av_strerror(code, buf, sizeof buf);
            *error += std::string(": ") + buf;
        }
    }
    return false;
}

// Decoding state of one file: converts every decoded frame to planar float and appends it.
class Decoder {
public:
    // channels: how many the converter delivers (1 or 2).
    Decoder(AVCodecContext* codec, SwrContext* swr, int channels, DecodedAudio& out)
        : codec_(codec), swr_(swr), channels_(channels), out_(out) {}

    // Sends one packet (nullptr flushes) and drains every frame it gives.
    int Feed(const AVPacket* packet)
    {
        int ret = avcodec_send_packet(codec_, packet);
        if (ret < 0 && ret != AVERROR_EOF)
            return ret;
        while ((ret = avcodec_receive_frame(codec_, frame_.get())) >= 0) {
            ret = Append(frame_.get());
            av_frame_unref(frame_.get());
            if (ret < 0)
                return ret;
        }
        return ret == AVERROR(EAGAIN) || ret == AVERROR_EOF ? 0 : ret;
    }

    // Takes what the converter still holds.
    int Flush() { return Append(nullptr); }

private:
    int Append(const AVFrame* frame)
    {
        int inSamples = frame ? frame->nb_samples : 0;
        int capacity = swr_get_out_samples(swr_, inSamples);
        if (capacity <= 0)
            return 0;
        buffers_.assign(static_cast<size_t>(channels_), std::vector<float>(static_cast<size_t>(capacity)));
        std::vector<uint8_t*> planes;
        for (auto& b : buffers_)
            planes.push_back(reinterpret_cast<uint8_t*>(b.data()));
        int got = swr_convert(swr_, planes.data(), capacity,
            frame ? const_cast<const uint8_t**>(frame->extended_data) : nullptr, inSamples);
        if (got < 0)
            return got;
        out_.left.insert(out_.left.end(), buffers_[0].begin(), buffers_[0].begin() + got);
        const auto& right = buffers_[channels_ > 1 ? 1 : 0];
        out_.right.insert(out_.right.end(), right.begin(), right.begin() + got);
        return 0;
    }

    AVCodecContext* codec_;
    SwrContext* swr_;
    int channels_;
    DecodedAudio& out_;
    std::unique_ptr<AVFrame, FrameFreer> frame_{av_frame_alloc()};
    std::vector<std::vector<float>> buffers_;
};

size_t ClampEnd(const std::vector<float>& s, size_t end) { return std::min(end, s.size()); }

// Mean power of the component at freq in s[begin, end) (Goertzel filter over a Hann window,
// normalised for the window): a sine of amplitude A at freq gives A^2 / 2, so a full-scale sine
// gives 0.5 and the value compares directly with Rms()^2.
double GoertzelPower(const std::vector<float>& s, int rate, double freq, size_t begin, size_t end)
{
    end = ClampEnd(s, end);
    if (begin >= end || rate <= 0)
        return 0.0;
    size_t n = end - begin;
    double w = 2.0 * kPi * freq / rate;
    double coeff = 2.0 * std::cos(w);
    double s1 = 0.0, s2 = 0.0, windowSum = 0.0;
    for (size_t i = 0; i < n; ++i) {
        double hann = n > 1 ? 0.5 - 0.5 * std::cos(2.0 * kPi * static_cast<double>(i) / static_cast<double>(n - 1)) : 1.0;
        windowSum += hann;
        double s0 = hann * s[begin + i] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    // |X(freq)|^2 of the windowed block.
    double re = s1 - s2 * std::cos(w);
    double im = s2 * std::sin(w);
    double magnitude = std::sqrt(re * re + im * im);
    // A sine of amplitude A gives |X| = A * windowSum / 2: amplitude = 2|X| / windowSum, power = A^2 / 2.
    double amplitude = 2.0 * magnitude / windowSum;
    return amplitude * amplitude / 2.0;
}

} // namespace

bool DecodeAudioFile(const std::string& path, DecodedAudio& out, std::string* error)
{
    out = DecodedAudio();
    AVFormatContext* rawFormat = nullptr;
    int ret = avformat_open_input(&rawFormat, path.c_str(), nullptr, nullptr);
    if (ret < 0)
        return Fail(error, "cannot open " + path, ret);
    std::unique_ptr<AVFormatContext, FormatCloser> format(rawFormat);
    if ((ret = avformat_find_stream_info(format.get(), nullptr)) < 0)
        return Fail(error, "no stream information in " + path, ret);
    const AVCodec* codec = nullptr;
    int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream < 0 || !codec)
        return Fail(error, "no audio stream in " + path, stream);

    std::unique_ptr<AVCodecContext, CodecFreer> context(avcodec_alloc_context3(codec));
    if (!context)
        return Fail(error, "out of memory");
    if ((ret = avcodec_parameters_to_context(context.get(), format->streams[stream]->codecpar)) < 0
        || (ret = avcodec_open2(context.get(), codec, nullptr)) < 0)
        return Fail(error, "cannot open the decoder", ret);
    if (context->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&context->ch_layout, context->ch_layout.nb_channels);

    // Planar float with the file's own rate and the first two channels at most.
    out.sampleRate = context->sample_rate;
    out.channels = context->ch_layout.nb_channels;
    AVChannelLayout outLayout;
    av_channel_layout_default(&outLayout, std::min(out.channels, 2));
    SwrContext* rawSwr = nullptr;
    ret = swr_alloc_set_opts2(&rawSwr, &outLayout, AV_SAMPLE_FMT_FLTP, context->sample_rate,
        &context->ch_layout, context->sample_fmt, context->sample_rate, 0, nullptr);
    std::unique_ptr<SwrContext, SwrFreer> swr(rawSwr);
    if (ret < 0 || !swr)
        return Fail(error, "cannot set up the converter", ret);
    if (out.channels > 2) {
        // Keep the first two channels as they are instead of down-mixing the rest into them.
        std::vector<double> matrix(static_cast<size_t>(2 * out.channels), 0.0);
        matrix[0] = 1.0;
        matrix[static_cast<size_t>(out.channels) + 1] = 1.0;
        swr_set_matrix(swr.get(), matrix.data(), out.channels);
    }
    if ((ret = swr_init(swr.get())) < 0)
        return Fail(error, "cannot start the converter", ret);
    Decoder decoder(context.get(), swr.get(), outLayout.nb_channels, out);
    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    while ((ret = av_read_frame(format.get(), packet.get())) >= 0) {
        if (packet->stream_index == stream) {
            int fed = decoder.Feed(packet.get());
            if (fed < 0 && fed != AVERROR_INVALIDDATA) {
                av_packet_unref(packet.get());
                return Fail(error, "decoding failed", fed);
            }
        }
        av_packet_unref(packet.get());
    }
    if (ret != AVERROR_EOF)
        return Fail(error, "reading failed", ret);
    if ((ret = decoder.Feed(nullptr)) < 0 || (ret = decoder.Flush()) < 0)
        return Fail(error, "decoding failed at the end", ret);
    return true;
}

double Rms(const std::vector<float>& s, size_t begin, size_t end)
{
    end = ClampEnd(s, end);
    if (begin >= end)
        return 0.0;
    double sum = 0.0;
    for (size_t i = begin; i < end; ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return std::sqrt(sum / static_cast<double>(end - begin));
}

double RmsDb(const std::vector<float>& s, size_t begin, size_t end)
{
    double rms = Rms(s, begin, end);
    return rms > 0.0 ? std::max(kSilenceDb, 20.0 * std::log10(rms)) : kSilenceDb;
}

double TonePower(const std::vector<float>& s, int rate, double freq, size_t begin, size_t end)
{
    end = std::min(end, s.size());
    if (begin >= end)
        return 0.0;
    // The pieces of TonePower; a remainder shorter than half a piece joins the piece before it.
    const size_t piece = std::max<size_t>(1, static_cast<size_t>(rate / 10));
    double sum = 0;
    for (size_t b = begin; b < end;) {
        size_t e = end - b < piece + piece / 2 ? end : b + piece;
        sum += GoertzelPower(s, rate, freq, b, e) * static_cast<double>(e - b);
        b = e;
    }
    return sum / static_cast<double>(end - begin);
}

double PowerShare(const std::vector<float>& s, int rate, double freq, size_t begin, size_t end)
{
    const double rms = Rms(s, begin, end);
    return rms > 0 ? TonePower(s, rate, freq, begin, end) / (rms * rms) : 0.0;
}

double DominantFrequency(const std::vector<float>& s, int rate, double lo, double hi, double step,
    size_t begin, size_t end)
{
    double best = lo, bestPower = -1.0;
    if (step <= 0.0)
        return best;
    for (double f = lo; f <= hi + step * 1e-6; f += step) {
        double p = GoertzelPower(s, rate, f, begin, end);
        if (p > bestPower) {
            bestPower = p;
            best = f;
        }
    }
    return best;
}

std::vector<std::pair<double, double>> FindLoudSpans(const std::vector<float>& s, int rate, double thresholdDb,
    double windowSeconds, double minGapSeconds)
{
    std::vector<std::pair<double, double>> spans;
    if (rate <= 0 || windowSeconds <= 0.0)
        return spans;
    size_t window = std::max<size_t>(1, static_cast<size_t>(windowSeconds * rate));
    for (size_t start = 0; start < s.size(); start += window) {
        size_t stop = std::min(s.size(), start + window);
        if (RmsDb(s, start, stop) <= thresholdDb)
            continue;
        double t0 = static_cast<double>(start) / rate;
        double t1 = static_cast<double>(stop) / rate;
        if (!spans.empty() && t0 - spans.back().second < minGapSeconds)
            spans.back().second = t1;
        else
            spans.emplace_back(t0, t1);
    }
    return spans;
}
