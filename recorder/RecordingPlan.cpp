#include "RecordingPlan.h"

#include "ConfigStore.h"
#include "Folders.h"
#include "PulseContext.h"
#include "RecordingTracks.h"
#include "TextUtil.h"

#include <glog/logging.h>

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QString>

#include <unistd.h>

#include <algorithm>
#include <iterator>

namespace {

constexpr int32_t kDefaultBitRate = 128000;
// The microphone gain slider's range, in dB.
constexpr int kMaxMicGainDb = 100;
// Longest stored text looked at: a number of the range never needs more.
constexpr int kValueCapacity = 32;
// How many following seconds are tried for a file name that is not taken yet (two recordings
// started within the same second would otherwise share a name and the later would overwrite the
// earlier).
constexpr int kFileNameTries = 60;

// The stored value of key when it is a whole number in [lo, hi]; fallback when it is not stored;
// damaged (else fallback) when it is out of range or no number (logged). The text is read as it
// stands: a reader of profile numbers would take "abc" as 0 and wrap large numbers into the range.
int Checked(const char* key, int fallback, int lo, int hi, std::optional<int> damaged = std::nullopt)
{
    QString text;
    ReadConfigString(config::kSection, key, QString::number(fallback), text, kValueCapacity);
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (ok && value >= lo && value <= hi)
        return value;
    const int used = damaged.value_or(fallback);
    LOG(ERROR) << "configuration " << key << "=" << text.toStdString() << " out of range, using " << used;
    return used;
}

// RecordingFileName for the first second from now whose name is still free in folder (and, with
// tracks, the name of their folder: tracks kept from a deleted take are never written into);
// empty when none is.
std::string FreeFileName(const std::string& folder, const std::string& format, std::time_t now, bool tracks)
{
    for (int i = 0; i < kFileNameTries; ++i) {
        const std::string name = RecordingFileName(now + i, format);
        const std::string path = folder + "/" + name;
        if (!QFile::exists(AnsiToWide(path)) &&
            !(tracks && QFile::exists(AnsiToWide(RecordingTracks::FolderOf(path)))))
            return name;
    }
    return {};
}

} // namespace

std::string RecordingFileName(std::time_t at, const std::string& format)
{
    std::tm local{};
    localtime_r(&at, &local);
    char stamp[32] = {};
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
    return std::string("新录音-") + stamp + "." + format;
}

AudioDevices AudioDevices::Current()
{
    const PulseServerState server = PulseContext::Instance().Refresh();
    AudioDevices devices;
    if (!server.connected)
        return devices;
    const PulseDevice* sink = server.Find(PulseDirection::kRender, server.defaultSink);
    devices.speaker = sink != nullptr;
    devices.headphones = sink && sink->headphones;
    const PulseDevice* source = server.Find(PulseDirection::kCapture, server.defaultSource);
    devices.microphone = source && !source->isMonitor;
    return devices;
}

PlanOutcome ResolveRecordingPlan(const PlanOverrides& overrides, const AudioDevices& devices, std::time_t now)
{
    PlanOutcome out;
    RecordingPlan& plan = out.plan;
    plan.format = overrides.format.value_or(Checked(config::kAudioFormat, 0, 0, 1) == 1 ? "wav" : "mp3");
    if (plan.format != "mp3" && plan.format != "wav") {
        LOG(ERROR) << "unknown format " << plan.format << ", using mp3";
        plan.format = "mp3";
    }
    // The stored quality: not stored is the first entry; a damaged index the fallback rate.
    constexpr int kNoIndex = -1;
    const int quality = Checked(config::kVoiceBitrateIndex, 0, 0, static_cast<int>(std::size(kBitRates)) - 1, kNoIndex);
    plan.bitRate = overrides.bitRate.value_or(quality == kNoIndex ? kDefaultBitRate : kBitRates[quality]);
    if (std::find(std::begin(kBitRates), std::end(kBitRates), plan.bitRate) == std::end(kBitRates)) {
        LOG(ERROR) << "bit rate " << plan.bitRate << " out of range, using " << kDefaultBitRate;
        plan.bitRate = kDefaultBitRate;
    }
    plan.source = std::clamp(overrides.source.value_or(Checked(config::kVoiceSource, kBoth, kBoth, kSystemSound)),
                             static_cast<int>(kBoth), static_cast<int>(kSystemSound));
    // The programs: the caller's with a source of its own, else the stored choice ("app-source" one
    // program, else "app-exclude" a list separated by '|').
    if (overrides.source) {
        plan.programs = overrides.programs;
    } else {
        QString text;
        ReadConfigString(config::kSection, config::kAppSource, "", text, config::kAppNameCapacity);
        plan.programs.only = text.trimmed().toStdString();
        ReadConfigString(config::kSection, config::kAppExclude, "", text, config::kAppNameCapacity * 8);
        for (const QString& name : text.split('|', Qt::SkipEmptyParts))
            if (!name.trimmed().isEmpty())
                plan.programs.excluded.push_back(name.trimmed().toStdString());
    }
    if (plan.source == kMicrophone)
        plan.programs = {};
    plan.silent = overrides.silent || Checked(config::kAudioMuteCheck, 0, 0, 1) != 0;
    // Voice processing is for the compressed format only (a WAV keeps what the microphone heard).
    const bool mp3 = plan.format == "mp3";
    plan.noiseSuppression = mp3 && Checked(config::kNoiseCheck, 0, 0, 1) != 0;
    plan.gainControl = mp3 && Checked(config::kAgcCheck, 0, 0, 1) != 0;
    plan.micGainDb = Checked(config::kVoiceSize, 20, 0, kMaxMicGainDb);
    plan.voiceActivated = overrides.voiceActivated.value_or(Checked(config::kVoiceActivation, 0, 0, 1) != 0);
    plan.voiceThresholdDb = std::clamp(
        overrides.voiceThresholdDb.value_or(Checked(config::kVoiceActivationThreshold, -40, static_cast<int>(kMinThresholdDb), 0)),
        kMinThresholdDb, 0.0);
    plan.voiceSilenceSeconds = std::clamp(
        overrides.voiceSilenceSeconds.value_or(Checked(config::kVoiceActivationSilence, 3, 1, static_cast<int>(kMaxSilenceSeconds))),
        kMinSilenceSeconds, kMaxSilenceSeconds);
    const bool echoWanted = overrides.echoCancel.value_or(Checked(config::kEchoCheck, 1, 0, 1) != 0);
    const bool tracksWanted = overrides.splitTracks.value_or(Checked(config::kSplitTracks, 0, 0, 1) != 0);

    // The devices: silence needs none.
    if (!plan.silent) {
        if (plan.source != kMicrophone && !devices.speaker) {
            out.refusal = PlanRefusal::kNoSpeaker;
            return out;
        }
        if (!devices.microphone) {
            if (plan.source == kMicrophone) {
                out.refusal = PlanRefusal::kNoMicrophone;
                return out;
            }
            out.microphoneMissing = plan.source == kBoth;
            plan.source = kSystemSound;
        }
    }

    // An echo needs a microphone that hears speakers: what headphones play never reaches it.
    plan.echoCancel = mp3 && echoWanted && !plan.silent && plan.source != kSystemSound && devices.speaker &&
                      !devices.headphones;

    // Tracks are the two sources of a mix.
    plan.splitTracks = tracksWanted && !plan.silent && plan.source == kBoth;

    // The folder, created when missing, and a free name in it.
    const QString folder =
        overrides.folder ? MakeDirectories(QDir::cleanPath(QDir(AnsiToWide(*overrides.folder)).absolutePath()))
                         : GetOutputFolder(); // as the window lists it
    plan.folder = WideToAnsi(folder);
    // access() also answers for a folder on a file system mounted read-only.
    if (!QFileInfo(folder).isDir() || ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0) {
        LOG(ERROR) << "recording folder not writable: " << plan.folder;
        out.refusal = PlanRefusal::kFolderNotWritable;
        return out;
    }
    plan.fileName = FreeFileName(plan.folder, plan.format, now, plan.splitTracks);
    if (plan.fileName.empty()) {
        LOG(ERROR) << "no free file name in " << plan.folder;
        out.refusal = PlanRefusal::kNoFileName;
    }
    return out;
}
