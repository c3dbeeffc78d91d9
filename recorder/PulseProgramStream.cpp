#include "PulseProgramStream.h"

#include "PulseCaptureStream.h"
#include "PulseContext.h"
#include "SourceGroup.h"

#include <glog/logging.h>
#include <pulse/timeval.h>
#include <pulse/volume.h>

#include <algorithm>

namespace {

// Moves the timer to period from now (0: at once).
void RestartTimer(pa_mainloop_api* api, pa_time_event* timer, int64_t periodNs)
{
    timeval when{};
    pa_gettimeofday(&when);
    pa_timeval_add(&when, static_cast<pa_usec_t>(periodNs / 1000));
    api->time_restart(timer, &when);
}

} // namespace

PulseProgramStream::PulseProgramStream(const ProgramChoice& choice, SourceGroup& group)
    : choice_(choice), group_(group), pulse_(PulseContext::Instance())
{
    {
        std::lock_guard<PulseProgramLoop> lock(loop_);
        if (pa_mainloop_api* api = loop_.Api()) {
            readTimer_ = api->time_new(api, nullptr, &PulseProgramStream::OnReadTimer, this);
            RestartTimer(api, readTimer_, kReadPeriodNs);
        }
    }
    Maintain();
}

PulseProgramStream::~PulseProgramStream()
{
    {
        std::lock_guard<PulseProgramLoop> lock(loop_);
        if (readTimer_)
            loop_.Api()->time_free(readTimer_);
        readTimer_ = nullptr;
        // What came since the last read is in the recording too.
        for (PulseCaptureStream* stream : reading_)
            stream->Read(staging_);
        reading_.clear();
    }
    for (auto& [index, stream] : members_) {
        stream.reset(); // everything it read is delivered
        group_.Leave(index);
    }
}

void PulseProgramStream::Hurry()
{
    std::lock_guard<PulseProgramLoop> lock(loop_);
    hurriedReads_ = true;
    if (readTimer_)
        RestartTimer(loop_.Api(), readTimer_, 0);
}

void PulseProgramStream::OnReadTimer(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* self)
{
    // The program loop's thread, its lock held: one pass over every stream's queue; the samples
    // are placed and mixed right here.
    auto* me = static_cast<PulseProgramStream*>(self);
    for (PulseCaptureStream* stream : me->reading_)
        stream->Read(me->staging_);
    RestartTimer(api, event, me->hurriedReads_ ? kHurriedReadPeriodNs : kReadPeriodNs);
}

void PulseProgramStream::Track(PulseCaptureStream* stream, bool reading)
{
    std::lock_guard<PulseProgramLoop> lock(loop_);
    if (reading) {
        reading_.push_back(stream);
        return;
    }
    stream->Read(staging_); // the rest of its packets, before its stream closes
    reading_.erase(std::remove(reading_.begin(), reading_.end(), stream), reading_.end());
}

std::optional<float> PulseProgramStream::SinkGain(const PulseServerState& state, uint32_t sink)
{
    for (const PulseDevice& device : state.sinks)
        if (device.index == sink)
            return device.mute ? 0.0f : static_cast<float>(pa_sw_volume_to_linear(pa_cvolume_avg(&device.volume)));
    return std::nullopt;
}

void PulseProgramStream::Maintain()
{
    const PulseServerState state = pulse_.Snapshot();
    const auto listed = [&state](uint32_t index) -> const PulseSinkInput* {
        for (const PulseSinkInput& input : state.sinkInputs)
            if (input.index == index)
                return &input;
        return nullptr;
    };
    if (state.generation != generation_ || loop_.Generation() != loopGeneration_) {
        givenUp_.clear(); // a new server (or connection): its streams are new
        generation_ = state.generation;
        loopGeneration_ = loop_.Generation();
    }
    for (auto it = members_.begin(); it != members_.end();) {
        it->second->Maintain();
        if (!it->second->Ended()) {
            ++it;
            continue;
        }
        // Still listed: the server refused it or it moved; not again on the same sink.
        if (const PulseSinkInput* input = state.connected ? listed(it->first) : nullptr)
            givenUp_[it->first] = input->sink;
        Track(it->second.get(), false);
        it->second.reset();
        group_.Leave(it->first);
        LOG(INFO) << "program sound: stream " << it->first << " left";
        it = members_.erase(it);
    }
    if (!state.connected)
        return;
    loop_.Maintain();
    if (!loop_.Ready())
        return; // joins once the connection is there
    // Each lane gets the volume of the sink its stream plays on (set before its first samples are
    // mixed).
    const auto takeVolume = [&](const PulseSinkInput& input) {
        if (const std::optional<float> gain = SinkGain(state, input.sink))
            group_.SetGain(input.index, *gain);
    };
    int matching = 0;
    for (const PulseSinkInput& input : state.sinkInputs) {
        if (!choice_.Takes(input.appName, input.binary))
            continue;
        ++matching;
        if (members_.count(input.index)) {
            takeVolume(input);
            continue;
        }
        if (auto given = givenUp_.find(input.index); given != givenUp_.end()) {
            if (given->second == input.sink)
                continue;
            givenUp_.erase(given);
        }
        LOG(INFO) << "program sound: stream " << input.index << " of \"" << input.ProgramKey() << "\" ("
                  << input.appName << ") joins";
        CaptureSource& lane = group_.Join(input.index);
        takeVolume(input);
        auto stream = std::make_unique<PulseCaptureStream>(lane, input.index, loop_);
        Track(stream.get(), true);
        members_.emplace(input.index, std::move(stream));
    }
    if (!choice_.only.empty() && (matching == 0) != waitingLogged_) {
        waitingLogged_ = matching == 0;
        LOG(INFO) << "program sound: \"" << choice_.only << "\""
                  << (waitingLogged_ ? " plays nothing now; recording silence until it does" : " plays");
    }
}
