#include "MediaProbe.h"

#include "TextUtil.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <memory>

#include <glog/logging.h>

namespace {

// An opened input; closing also frees the context.
struct InputDeleter {
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
using InputPtr = std::unique_ptr<AVFormatContext, InputDeleter>;

} // namespace

double ProbeMediaDuration(const QString& path)
{
    AVFormatContext* opened = nullptr;
    const QByteArray local = path.toLocal8Bit();
    if (avformat_open_input(&opened, local.constData(), nullptr, nullptr) < 0)
        return -1;
    const InputPtr input(opened);

    if (avformat_find_stream_info(input.get(), nullptr) < 0) {
        LOG(ERROR) << "mainwnd: no stream information in \"" << local.constData() << "\"";
        return -1;
    }

    const AVStream* stream = nullptr;
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        const AVMediaType type = input->streams[i]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO) {
            stream = input->streams[i];
            break;
        }
    }
    if (!stream) {
        DebugPrint("not found a video stream.\n");
        return -1;
    }

    if (stream->duration != AV_NOPTS_VALUE && stream->duration >= 0 && stream->time_base.den != 0)
        return av_q2d(stream->time_base) * static_cast<double>(stream->duration);
    if (input->duration != AV_NOPTS_VALUE && input->duration >= 0)
        return static_cast<double>(input->duration / AV_TIME_BASE);
    return -1;
}
