#include "DeviceDiscovery.h"

#include "PulseConnection.h"

#include <glog/logging.h>

QString CutToWidth(const QString& text, int maxUnits)
{
    if (maxUnits <= 0)
        return QString();
    if (text.size() <= maxUnits)
        return text;
    int keep = maxUnits;
    if (text.at(keep - 1).isHighSurrogate())
        --keep; // the low half lies beyond the cut: drop the whole character
    return text.left(keep);
}

int EnumAudioInputDevices(std::vector<AudioInputDevice>& list)
{
    list.clear();
    PulseConnection connection;
    std::vector<PulseDevice> sources;
    if (connection.ListDevices(PulseDirection::kCapture, sources) != PulseListResult::kOk)
        return kEnumDevicesNoServer;
    for (const PulseDevice& source : sources) {
        if (source.isMonitor)
            continue;
        AudioInputDevice device;
        device.friendlyName = CutToWidth(QString::fromStdString(source.description),
            AudioInputDevice::kFriendlyNameMax);
        device.displayName = CutToWidth(QString::fromStdString(source.name), AudioInputDevice::kDisplayNameMax);
        list.push_back(std::move(device));
    }
    return list.empty() ? kEnumDevicesNone : kEnumDevicesFound;
}

bool GetDefaultMicName(QString& name)
{
    name.clear();
    PulseConnection connection;
    std::string sink, source;
    PulseDevice device;
    if (!connection.GetDefaultNames(sink, source)
        || !connection.GetDevice(PulseDirection::kCapture, source, device) || device.isMonitor)
        return false;
    name = QString::fromStdString(device.description);
    return true;
}

bool HasDefaultSpeaker()
{
    PulseConnection connection;
    std::string sink, source;
    PulseDevice device;
    if (connection.GetDefaultNames(sink, source) && connection.GetDevice(PulseDirection::kRender, sink, device))
        return true;
    LOG(ERROR) << "Get Default Audio Endpoint error";
    return false;
}

bool GetDefaultSinkMonitor(std::string& monitorSource, int& rate, int& channels)
{
    PulseConnection connection;
    std::string sink, source;
    PulseDevice device;
    if (!connection.GetDefaultNames(sink, source) || !connection.GetDevice(PulseDirection::kRender, sink, device)
        || device.monitorSource.empty())
        return false;
    monitorSource = device.monitorSource;
    rate = static_cast<int>(device.rate);
    channels = device.channels;
    return true;
}
