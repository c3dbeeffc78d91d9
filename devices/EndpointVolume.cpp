#include "EndpointVolume.h"

#include "PulseConnection.h"
#include "TextUtil.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace {

// Below this a playback device counts as silent and its volume is not reported.
constexpr double kSilentScalar = 0.00001;

// The devices of the direction whose description equals the default device's, in the server's
// order. When printFailures is set, a missing connection and a failed device list are printed.
void FindEndpoints(PulseConnection& connection, PulseDirection direction, bool printFailures,
    std::vector<PulseDevice>& matches)
{
    matches.clear();
    if (!connection.Connected()) {
        if (printFailures)
            DebugPrint("CoCreateInstance Failed!/n");
        return;
    }
    // Without a default device no description is known and nothing matches.
    std::string defaultDescription;
    std::string sink, source;
    PulseDevice defaultDevice;
    if (connection.GetDefaultNames(sink, source)
        && connection.GetDevice(direction, direction == PulseDirection::kCapture ? source : sink, defaultDevice)
        && !defaultDevice.isMonitor)
        defaultDescription = defaultDevice.description;

    std::vector<PulseDevice> devices;
    switch (connection.ListDevices(direction, devices)) {
    case PulseListResult::kOk:
        break;
    case PulseListResult::kNotStarted:
        if (printFailures)
            DebugPrint("EnumAudioEndpoints Failed!/n");
        return;
    case PulseListResult::kIncomplete:
        if (printFailures)
            DebugPrint("GetCount Failed!/n");
        return;
    }
    if (defaultDescription.empty())
        return;
    for (PulseDevice& device : devices) {
        if (!device.isMonitor && device.description == defaultDescription)
            matches.push_back(std::move(device));
    }
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
    PulseConnection connection;
    std::vector<PulseDevice> mics;
    FindEndpoints(connection, PulseDirection::kCapture, false, mics);
    for (const PulseDevice& mic : mics)
        out = static_cast<unsigned>(Scalar(mic) * 100 + 0.5);
    return mics.empty() ? -1 : 0;
}

bool GetSpeakerVolume(float& out)
{
    PulseConnection connection;
    std::vector<PulseDevice> speakers;
    FindEndpoints(connection, PulseDirection::kRender, true, speakers);
    bool written = false;
    for (const PulseDevice& speaker : speakers) {
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
    PulseConnection connection;
    std::vector<PulseDevice> mics;
    FindEndpoints(connection, PulseDirection::kCapture, false, mics);
    // Not clamped: a volume outside the scale is refused, as a device refuses such a scalar.
    double scalar = volume / 100.0;
    bool inRange = scalar >= 0.0 && scalar <= 1.0; // also false for NaN
    bool ok = !mics.empty();
    for (const PulseDevice& mic : mics) {
        ok = connection.SetMute(PulseDirection::kCapture, mic.index, mute) && ok;
        if (inRange)
            ok = connection.SetVolume(PulseDirection::kCapture, mic.index, mic.channels, VolumeFromScalar(scalar)) && ok;
    }
    return ok && inRange;
}

bool SetSpeakerVolume(float volume)
{
    if (std::isnan(volume))
        return false;
    PulseConnection connection;
    std::vector<PulseDevice> speakers;
    FindEndpoints(connection, PulseDirection::kRender, true, speakers);
    // Clamped on the float itself, so a fraction just outside the scale (-0.5, 100.5) is clamped too.
    double scalar = std::clamp(static_cast<double>(volume), 0.0, 100.0) / 100.0;
    bool ok = !speakers.empty();
    for (const PulseDevice& speaker : speakers)
        ok = connection.SetVolume(PulseDirection::kRender, speaker.index, speaker.channels, VolumeFromScalar(scalar)) && ok;
    return ok;
}
