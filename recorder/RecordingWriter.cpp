#include "RecordingWriter.h"

#include "TextUtil.h"

#include <glog/logging.h>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
}

#include <cstdio>

RecordingWriter::RecordingWriter() = default;

RecordingWriter::~RecordingWriter()
{
    if (opened_ && !finished_)
        Finish();
}

int RecordingWriter::Open(const std::string& path, const std::string& format, int32_t bitRate, bool mixed)
{
    path_ = path;
    wav_ = format == "wav";
    const AVCodecID codecId = wav_ ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_MP3;
    frameSize_ = wav_ ? 1024 : 1152;
    sampleFormat_ = wav_ ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_FLTP;

    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, nullptr, path.c_str()) < 0 || !out) {
        LOG(ERROR) << "Could not create output context";
        return -1;
    }
    output_.reset(out);
    const AVCodec* codec = avcodec_find_encoder(codecId);
    if (!codec) {
        LOG(ERROR) << "audio codec not found";
        return -1;
    }
    encoder_.reset(avcodec_alloc_context3(codec));
    AVCodecContext* enc = encoder_.get();
    if (!enc)
        return -1;
    enc->codec_type = AVMEDIA_TYPE_AUDIO;
    enc->sample_fmt = static_cast<AVSampleFormat>(sampleFormat_);
    enc->sample_rate = kSampleRate;
    enc->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    enc->bit_rate = bitRate;
    enc->time_base = AVRational{1, kSampleRate};
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int ret = avcodec_open2(enc, codec, nullptr);
    if (ret < 0) {
        LOG(ERROR) << "err: (" << ff::ErrorText(ret) << ")";
        LOG(ERROR) << "open audio encode err";
        return -1;
    }
    stream_ = avformat_new_stream(out, nullptr);
    if (!stream_)
        return -1;
    stream_->codecpar->codec_tag = 0;
    if (avcodec_parameters_from_context(stream_->codecpar, enc) < 0)
        return -1;
    stream_->time_base = enc->time_base;

    av_dump_format(out, 0, path.c_str(), 1);
    if (!file_.Create(path))
        return -1;
    out->pb = file_.Io();
    out->flags |= AVFMT_FLAG_CUSTOM_IO;
    out->flush_packets = 0; // the buffer collects packets; Sync() pushes them out every second
    ret = avformat_write_header(out, nullptr);
    if (ret >= 0 && wav_)
        file_.MarkWavDataStart();
    if (ret < 0 || !file_.Sync()) {
        LOG(ERROR) << "Could not write header " << path << ": " << ff::ErrorText(ret);
        file_.Close();
        std::remove(path.c_str());
        output_.reset();
        return -1;
    }
    mixed_ = ff::MakeFrame();
    packet_ = ff::MakePacket();
    const bool framesOk = mixed_ && packet_;
    if (!framesOk || (mixed && BuildMixGraph() < 0)) {
        LOG_IF(ERROR, !framesOk) << "frame alloc error";
        file_.Close();
        std::remove(path.c_str());
        output_.reset();
        return framesOk ? kGraphFailed : kFailed;
    }
    opened_ = true;
    return 0;
}

int RecordingWriter::BuildMixGraph()
{
    AVCodecContext* enc = encoder_.get();
    const AVFilter* abuffer = avfilter_get_by_name("abuffer");
    const AVFilter* abuffersink = avfilter_get_by_name("abuffersink");
    ff::FilterInOutPtr outputs(avfilter_inout_alloc());
    ff::FilterInOutPtr inputs(avfilter_inout_alloc());
    graph_.reset(avfilter_graph_alloc());
    if (!abuffer || !abuffersink || !outputs || !inputs || !graph_)
        return -1;
    AVFilterGraph* graph = graph_.get();

    // Both inputs carry the encoder's format; the graph converts nothing.
    char argsSpk[512];
    char argsMic[512];
    const uint64_t layout = enc->ch_layout.u.mask; // 3: front left + front right
    for (char* args : {argsSpk, argsMic})
        std::snprintf(args, sizeof(argsSpk), "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%d",
                      enc->time_base.num, enc->time_base.den, enc->sample_rate,
                      av_get_sample_fmt_name(enc->sample_fmt), static_cast<int>(layout));
    LOG(INFO) << "args_spk: " << argsSpk;
    LOG(INFO) << "args_mic: " << argsMic;

    if (avfilter_graph_create_filter(&in0_, abuffer, "in0", argsSpk, nullptr, graph) < 0) {
        LOG(ERROR) << "Filter: failed to call avfilter_graph_create_filter -- src spk";
        return -1;
    }
    if (avfilter_graph_create_filter(&in1_, abuffer, "in1", argsMic, nullptr, graph) < 0) {
        LOG(ERROR) << "Filter: failed to call avfilter_graph_create_filter -- src mic";
        return -1;
    }
    if (avfilter_graph_create_filter(&out_, abuffersink, "out", nullptr, nullptr, graph) < 0) {
        LOG(ERROR) << "Filter: failed to call avfilter_graph_create_filter -- sink";
        return -1;
    }
    const int sampleFmt = enc->sample_fmt;
    const int sampleRate = enc->sample_rate;
    if (av_opt_set_bin(out_, "sample_fmts", reinterpret_cast<const uint8_t*>(&sampleFmt), sizeof(sampleFmt),
                       AV_OPT_SEARCH_CHILDREN) < 0) {
        LOG(ERROR) << "Filter: failed to call av_opt_set_bin -- sample_fmts";
        return -1;
    }
    if (av_opt_set_bin(out_, "channel_layouts", reinterpret_cast<const uint8_t*>(&layout), sizeof(layout),
                       AV_OPT_SEARCH_CHILDREN) < 0) {
        LOG(ERROR) << "Filter: failed to call av_opt_set_bin -- channel_layouts";
        return -1;
    }
    if (av_opt_set_bin(out_, "sample_rates", reinterpret_cast<const uint8_t*>(&sampleRate), sizeof(sampleRate),
                       AV_OPT_SEARCH_CHILDREN) < 0) {
        LOG(ERROR) << "Filter: failed to call av_opt_set_bin -- sample_rates";
        return -1;
    }

    AVFilterInOut* out0 = outputs.get();
    out0->name = av_strdup("in0");
    out0->filter_ctx = in0_;
    out0->pad_idx = 0;
    out0->next = avfilter_inout_alloc();
    if (!out0->next)
        return -1;
    out0->next->name = av_strdup("in1");
    out0->next->filter_ctx = in1_;
    out0->next->pad_idx = 0;
    out0->next->next = nullptr;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = out_;
    inputs->pad_idx = 0;
    inputs->next = nullptr;

    AVFilterInOut* in = inputs.release();
    AVFilterInOut* outList = outputs.release();
    const int parsed = avfilter_graph_parse_ptr(graph, "[in0][in1]amix=inputs=2[out]", &in, &outList, nullptr);
    ff::FilterInOutPtr inLeft(in);
    ff::FilterInOutPtr outLeft(outList);
    if (parsed < 0) {
        LOG(ERROR) << "Filter: failed to call avfilter_graph_parse_ptr";
        return -1;
    }
    if (avfilter_graph_config(graph, nullptr) < 0) {
        LOG(ERROR) << "Filter: failed to call avfilter_graph_config";
        return -1;
    }
    return 0;
}

bool RecordingWriter::Write(AVFrame* system, AVFrame* mic, int count)
{
    if (failed_ || !opened_)
        return false;
    system->nb_samples = count;
    system->pts = framesSent_;
    if (!graph_) {
        framesSent_ += count;
        return EncodeFrame(system);
    }
    mic->nb_samples = count;
    mic->pts = framesSent_;
    framesSent_ += count;
    int ret = av_buffersrc_add_frame_flags(in1_, mic, AV_BUFFERSRC_FLAG_KEEP_REF);
    if (ret < 0) {
        LOG(ERROR) << "audio mic frame add  filtergraph error, ret=" << ret;
        return failed_ = true, false;
    }
    ret = av_buffersrc_add_frame_flags(in0_, system, AV_BUFFERSRC_FLAG_KEEP_REF);
    if (ret < 0) {
        LOG(ERROR) << "audio spk frame add  filtergraph error, ret=" << ret;
        return failed_ = true, false;
    }
    for (;;) {
        ret = av_buffersink_get_frame(out_, mixed_.get());
        if (ret == AVERROR(EAGAIN))
            return true; // the mixer waits for more input
        if (ret < 0) {
            LOG(ERROR) << "get audio frame from filtergraph error, ret=" << ret;
            return failed_ = true, false;
        }
        const bool ok = EncodeFrame(mixed_.get());
        av_frame_unref(mixed_.get());
        if (!ok)
            return false;
    }
}

bool RecordingWriter::EncodeFrame(AVFrame* frame)
{
    // Each frame goes to the encoder once; every packet it has ready is written.
    const int ret = avcodec_send_frame(encoder_.get(), frame);
    if (ret < 0 && ret != AVERROR_EOF) {
        LOG(ERROR) << "audio encode err,times=1, ret=" << ret << ", got_picture=0";
        return true; // the frame is dropped; the recording goes on
    }
    return Drain();
}

bool RecordingWriter::Drain()
{
    for (;;) {
        const int ret = avcodec_receive_packet(encoder_.get(), packet_.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF)
            return true;
        if (ret < 0) {
            LOG(ERROR) << "audio encode err,times=1, ret=" << ret << ", got_picture=0";
            return true;
        }
        AVPacket* packet = packet_.get();
        packet->stream_index = 0;
        packet->pts = packet->dts = runningPts_;
        const int64_t samples = packet->duration > 0 ? packet->duration : frameSize_;
        packet->duration = av_rescale_q(samples, AVRational{1, kSampleRate}, stream_->time_base);
        runningPts_ += packet->duration;
        const int w = av_interleaved_write_frame(output_.get(), packet);
        av_packet_unref(packet);
        if (w < 0) {
            LOG(ERROR) << "write audio frame err,ret=" << w;
            if (file_.GetError() != OutputFile::Error::kNone) {
                failed_ = true;
                return false;
            }
        }
        // Whole seconds, truncated: second n is reported once n seconds of audio are written (by
        // the end of this packet, so the last report matches the file's length).
        const int64_t seconds =
            av_rescale_rnd(runningPts_, stream_->time_base.num, stream_->time_base.den, AV_ROUND_DOWN);
        if (seconds != lastSecond_) {
            lastSecond_ = seconds;
            if (onSeconds)
                onSeconds(seconds);
        }
    }
}

bool RecordingWriter::Sync()
{
    if (!opened_ || failed_)
        return false;
    if (!file_.Sync()) {
        failed_ = true;
        return false;
    }
    return true;
}

bool RecordingWriter::Finish()
{
    if (!opened_ || finished_)
        return opened_ && !failed_;
    finished_ = true;
    if (!failed_ && avcodec_send_frame(encoder_.get(), nullptr) >= 0)
        Drain();
    if (!failed_ && av_write_trailer(output_.get()) < 0)
        LOG(ERROR) << "av_write_trailer error";
    const bool closed = file_.Close();
    output_.reset();
    graph_.reset();
    encoder_.reset();
    return closed && !failed_;
}
