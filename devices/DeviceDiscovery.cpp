#include "DeviceDiscovery.h"

#include "PulseContext.h"

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
    PulseServerState server = PulseContext::Instance().Refresh();
    if (!server.connected)
        return kEnumDevicesNoServer;
    for (const PulseDevice& source : server.sources) {
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
    PulseServerState server = PulseContext::Instance().Refresh();
    const PulseDevice* source = server.Find(PulseDirection::kCapture, server.defaultSource);
    if (!server.connected || !source || source->isMonitor)
        return false;
    name = QString::fromStdString(source->description);
    return true;
}

bool HasDefaultSpeaker()
{
    PulseServerState server = PulseContext::Instance().Refresh();
    if (server.connected && server.Find(PulseDirection::kRender, server.defaultSink))
        return true;
    LOG(ERROR) << "Get Default Audio Endpoint error";
    return false;
}

bool GetDefaultSinkMonitor(std::string& monitorSource, int& rate, int& channels)
{
    PulseServerState server = PulseContext::Instance().Refresh();
    const PulseDevice* sink = server.Find(PulseDirection::kRender, server.defaultSink);
    if (!server.connected || !sink || sink->monitorSource.empty())
        return false;
    monitorSource = sink->monitorSource;
    rate = static_cast<int>(sink->rate);
    channels = sink->channels;
    return true;
}
