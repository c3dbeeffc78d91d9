#include "EndpointVolume.h"

#include "PulseContext.h"
#include "TextUtil.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

// Below this a playback device counts as silent and its volume is not reported.
constexpr double kSilentScalar = 0.00001;

// The server's current devices for a volume call; false when no server answers, printing why
// when printFailures is set: no ready connection ("CoCreateInstance"), or a connected server whose
// device list did not arrive in time ("GetCount").
bool AskServer(bool printFailures, PulseServerState& server)
{
    PulseContext& pulse = PulseContext::Instance();
    server = pulse.Refresh();
    if (server.connected)
        return true;
    if (printFailures) {
        bool ready = false;
        {
            PulseContext::Lock lock(pulse);
            ready = pulse.Context() != nullptr;
        }
        DebugPrint(ready ? "GetCount Failed!/n" : "CoCreateInstance Failed!/n");
    }
    return false;
}

// The devices of the direction whose description equals the default device's, in the server's
// order (the server's answer is empty when there is none).
std::vector<PulseDevice> FindEndpoints(const PulseServerState& server, PulseDirection direction)
{
    std::vector<PulseDevice> matches;
    const PulseDevice* defaultDevice = server.Find(direction,
        direction == PulseDirection::kCapture ? server.defaultSource : server.defaultSink);
    // Without a default device no description is known and nothing matches.
    if (!defaultDevice || defaultDevice->isMonitor || defaultDevice->description.empty())
        return matches;
    for (const PulseDevice& device : direction == PulseDirection::kCapture ? server.sources : server.sinks) {
        if (!device.isMonitor && device.description == defaultDevice->description)
            matches.push_back(device);
    }
    return matches;
}

// The device's volume as a 0..1 scalar: its loudest channel over the normal volume, capped at 1.
double Scalar(const PulseDevice& device)
{
    return std::min(1.0, static_cast<double>(pa_cvolume_max(&device.volume)) / PA_VOLUME_NORM);
}

pa_volume_t VolumeFromScalar(double scalar)
{
    return static_cast<pa_volume_t>(std::lround(scalar * PA_VOLUME_NORM));
}

} // namespace

int GetMicVolume(unsigned& out)
{
    PulseServerState server;
    if (!AskServer(false, server))
        return -1;
    std::vector<PulseDevice> mics = FindEndpoints(server, PulseDirection::kCapture);
    for (const PulseDevice& mic : mics)
        out = static_cast<unsigned>(Scalar(mic) * 100 + 0.5);
    return mics.empty() ? -1 : 0;
}

bool GetSpeakerVolume(float& out)
{
    PulseServerState server;
    if (!AskServer(true, server))
        return false;
    bool written = false;
    for (const PulseDevice& speaker : FindEndpoints(server, PulseDirection::kRender)) {
        double scalar = Scalar(speaker);
        if (speaker.channels > 0 && std::fabs(scalar) > kSilentScalar) {
            out = static_cast<float>(scalar * 100 + 0.5);
            written = true;
        }
    }
    return written;
}

bool SetMicVolume(bool mute, float volume)
{
    PulseServerState server;
    if (!AskServer(false, server))
        return false;
    std::vector<PulseDevice> mics = FindEndpoints(server, PulseDirection::kCapture);
    // Not clamped: a volume outside the scale is refused, as a device refuses such a scalar.
    double scalar = volume / 100.0;
    bool inRange = scalar >= 0.0 && scalar <= 1.0; // also false for NaN
    bool ok = !mics.empty();
    PulseContext& pulse = PulseContext::Instance();
    for (const PulseDevice& mic : mics) {
        ok = pulse.SetMute(PulseDirection::kCapture, mic.index, mute) && ok;
        if (inRange)
            ok = pulse.SetVolume(PulseDirection::kCapture, mic.index, mic.channels, VolumeFromScalar(scalar)) && ok;
    }
    return ok && inRange;
}

bool SetSpeakerVolume(float volume)
{
    if (std::isnan(volume))
        return false;
    PulseServerState server;
    if (!AskServer(true, server))
        return false;
    std::vector<PulseDevice> speakers = FindEndpoints(server, PulseDirection::kRender);
    // Clamped on the float itself, so a fraction just outside the scale (-0.5, 100.5) is clamped too.
    double scalar = std::clamp(static_cast<double>(volume), 0.0, 100.0) / 100.0;
    bool ok = !speakers.empty();
    PulseContext& pulse = PulseContext::Instance();
    for (const PulseDevice& speaker : speakers)
        ok = pulse.SetVolume(PulseDirection::kRender, speaker.index, speaker.channels, VolumeFromScalar(scalar)) && ok;
    return ok;
}
