#pragma once
// Every FFmpeg object of one recording. Owned by AudioRecorder; built by Open on the owner's
// thread before any recording thread starts, used by the recording threads as AudioRecorder.cpp
// documents, and freed when the finishing thread releases it (or by the destructor after a
// failed Open).

#include "AudioRecorder.h"
#include "FFmpegPtr.h"
#include "PulseRecordStream.h"

struct AudioRecorder::Pipeline {
    // Output side: encode thread, then finishing thread.
    ff::OutputPtr output;
    ff::CodecContextPtr encoder;
    AVStream* stream = nullptr;

    // Microphone input (a record stream on the first input device, s16): microphone thread.
    std::unique_ptr<PulseRecordStream> micInput;
    ff::CodecContextPtr micDecoder;
    ff::SwrPtr micToOutput; // decoder format (or the processing format) -> output format

    // FIFOs in the output format: micFifo under micFifoLock_, systemFifo under systemFifoLock_.
    ff::FifoPtr micFifo;
    ff::FifoPtr systemFifo;

    // Mixing graph: encode thread.
    ff::FilterGraphPtr graph;
    AVFilterContext* in0 = nullptr; // system sound
    AVFilterContext* in1 = nullptr; // microphone
    AVFilterContext* out = nullptr;
};
