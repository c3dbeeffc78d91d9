#include "RecorderSettings.h"

#include "ConfigStore.h"

#include <glog/logging.h>

#include <QString>

#include <algorithm>
#include <iterator>

namespace {

// The qualities the window offers, in bits per second.
constexpr int32_t kBitRates[] = {64000, 96000, 128000, 192000, 256000, 320000};
constexpr int32_t kDefaultBitRate = 128000;
// The microphone gain slider's range, in dB.
constexpr int kMaxMicGainDb = 100;

// Longest stored text looked at: a number of the range never needs more.
constexpr int kValueCapacity = 32;

// The stored value of key when it is a whole number in [lo, hi]; otherwise fallback (logged). The
// text is read as it stands: a reader of profile numbers would take "abc" as 0 and wrap large
// numbers into the range.
int Checked(const char* key, int fallback, int lo, int hi)
{
    QString text;
    ReadConfigString(config::kSection, key, QString::number(fallback), text, kValueCapacity);
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (ok && value >= lo && value <= hi)
        return value;
    LOG(ERROR) << "configuration " << key << "=" << text.toStdString() << " out of range, using " << fallback;
    return fallback;
}

} // namespace

int RecorderSettings::StoredSource()
{
    return Checked(config::kVoiceSource, kBoth, kBoth, kSystemSound);
}

int RecorderSettings::StoredSilentMode()
{
    return Checked(config::kAudioMuteCheck, 0, 0, 1);
}

bool RecorderSettings::Read(const RecordParams& params, RecorderSettings& out)
{
    if (params.format != "mp3" && params.format != "wav") {
        LOG(ERROR) << "unknown format " << params.format;
        return false;
    }
    out.format = params.format;
    out.bitRate = params.bitRate;
    if (std::find(std::begin(kBitRates), std::end(kBitRates), params.bitRate) == std::end(kBitRates)) {
        LOG(ERROR) << "bit rate " << params.bitRate << " out of range, using " << kDefaultBitRate;
        out.bitRate = kDefaultBitRate;
    }
    out.noiseSuppression = Checked(config::kNoiseCheck, 0, 0, 1);
    out.gainControl = Checked(config::kAgcCheck, 0, 0, 1);
    if (out.format == "wav") {
        out.noiseSuppression = 0;
        out.gainControl = 0;
    }
    out.source = StoredSource();
    out.silentMode = StoredSilentMode();
    out.micGainDb = Checked(config::kVoiceSize, 20, 0, kMaxMicGainDb);
    if (params.sourceOverride)
        out.source = std::clamp(*params.sourceOverride, static_cast<int>(kBoth), static_cast<int>(kSystemSound));
    if (params.silentOverride)
        out.silentMode = *params.silentOverride != 0 ? 1 : 0;
    if (!params.micPresent)
        out.source = kSystemSound;
    return true;
}
