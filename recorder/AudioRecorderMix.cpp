// AudioRecorder, mixing graph for recordings of both sources:
// "in0" (system sound) and "in1" (microphone) -> amix -> "out", all in the encoder's format.

#include "AudioRecorder.h"

#include "RecorderPipeline.h"
#include "TextUtil.h"

#include <glog/logging.h>

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavutil/opt.h>
}

#include <cstdio>

int AudioRecorder::BuildMixGraph()
{
    AVCodecContext* enc = pipe_->encoder.get();
    const AVFilter* abuffer = avfilter_get_by_name("abuffer");
    const AVFilter* abuffersink = avfilter_get_by_name("abuffersink");
    ff::FilterInOutPtr outputs(avfilter_inout_alloc());
    ff::FilterInOutPtr inputs(avfilter_inout_alloc());
    pipe_->graph.reset(avfilter_graph_alloc());
    if (!abuffer || !abuffersink || !outputs || !inputs || !pipe_->graph)
        return -1;
    AVFilterGraph* graph = pipe_->graph.get();

    char argsSpk[512];
    char argsMic[512];
    const uint64_t layout = enc->ch_layout.u.mask; // 3: front left + front right
    std::snprintf(argsSpk, sizeof(argsSpk), "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%d",
                  enc->time_base.num, enc->time_base.den, enc->sample_rate,
                  av_get_sample_fmt_name(enc->sample_fmt), static_cast<int>(layout));
    std::snprintf(argsMic, sizeof(argsMic), "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%d",
                  enc->time_base.num, enc->time_base.den, enc->sample_rate,
                  av_get_sample_fmt_name(enc->sample_fmt), static_cast<int>(layout));
    DebugPrint("args_spk: %s\n", argsSpk);
    DebugPrint("args_mic: %s\n", argsMic);

    if (avfilter_graph_create_filter(&pipe_->in0, abuffer, "in0", argsSpk, nullptr, graph) < 0) {
        LOG(ERROR) << "Filter: failed to call avfilter_graph_create_filter -- src spk";
        return -1;
    }
    if (avfilter_graph_create_filter(&pipe_->in1, abuffer, "in1", argsMic, nullptr, graph) < 0) {
        LOG(ERROR) << "Filter: failed to call avfilter_graph_create_filter -- src mic";
        return -1;
    }
    if (avfilter_graph_create_filter(&pipe_->out, abuffersink, "out", nullptr, nullptr, graph) < 0) {
        LOG(ERROR) << "Filter: failed to call avfilter_graph_create_filter -- sink";
        return -1;
    }
    const int sampleFmt = enc->sample_fmt;
    const int sampleRate = enc->sample_rate;
    if (av_opt_set_bin(pipe_->out, "sample_fmts", reinterpret_cast<const uint8_t*>(&sampleFmt),
                       sizeof(sampleFmt), AV_OPT_SEARCH_CHILDREN) < 0) {
        LOG(ERROR) << "Filter: failed to call av_opt_set_bin -- sample_fmts";
        return -1;
    }
    if (av_opt_set_bin(pipe_->out, "channel_layouts", reinterpret_cast<const uint8_t*>(&layout),
                       sizeof(layout), AV_OPT_SEARCH_CHILDREN) < 0) {
        LOG(ERROR) << "Filter: failed to call av_opt_set_bin -- channel_layouts";
        return -1;
    }
    if (av_opt_set_bin(pipe_->out, "sample_rates", reinterpret_cast<const uint8_t*>(&sampleRate),
                       sizeof(sampleRate), AV_OPT_SEARCH_CHILDREN) < 0) {
        LOG(ERROR) << "Filter: failed to call av_opt_set_bin -- sample_rates";
        return -1;
    }

    AVFilterInOut* out0 = outputs.get();
    out0->name = av_strdup("in0");
    out0->filter_ctx = pipe_->in0;
    out0->pad_idx = 0;
    out0->next = avfilter_inout_alloc();
    if (!out0->next)
        return -1;
    out0->next->name = av_strdup("in1");
    out0->next->filter_ctx = pipe_->in1;
    out0->next->pad_idx = 0;
    out0->next->next = nullptr;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = pipe_->out;
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
