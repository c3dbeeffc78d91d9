// tamsu-record: the command-line recorder on the engine of the window program. See RecordUsage()
// for what it does; exit status 0 file written, 1 recording failed, 2 invalid arguments.

#include "AudioRecorder.h"
#include "ConfigStore.h"
#include "ConsoleRecorderOwner.h"
#include "DeviceDiscovery.h"
#include "Folders.h"
#include "LogSetup.h"
#include "RecordOptions.h"
#include "RecorderSettings.h"
#include "RecordingJournal.h"
#include "SignalWatcher.h"
#include "TextUtil.h"

#include <QDir>
#include <QFileInfo>

#include <glog/logging.h>

#include <chrono>
#include <iterator>
#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// How many following seconds are tried for a file name that is not taken yet (two recordings
// started within the same second would otherwise share a name and the later would overwrite the
// earlier).
constexpr int kFileNameTries = 60;

int Fail(const std::string& message)
{
    std::fprintf(stderr, "tamsu-record: %s\n", message.c_str());
    LOG(ERROR) << "tamsu-record: " << message;
    return kExitFailed;
}

void PrintLine(const std::string& line)
{
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

// "新录音-" + local time "%Y%m%d%H%M%S" + "." + format, for the first second from now whose name
// is still free in folder; empty when none is.
QString NewFileName(const QString& folder, const std::string& format)
{
    const std::time_t now = std::time(nullptr);
    for (int i = 0; i < kFileNameTries; ++i) {
        const std::time_t at = now + i;
        std::tm local{};
        localtime_r(&at, &local);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
        const QString name = QString::fromUtf8("新录音-") + QString::fromLatin1(stamp) + "." +
                             QString::fromStdString(format);
        if (!QFileInfo::exists(folder + "/" + name))
            return name;
    }
    return {};
}

int32_t StoredBitRate()
{
    const auto index = static_cast<int32_t>(ReadConfigInt(config::kSection, config::kVoiceBitrateIndex, 0));
    const int count = static_cast<int>(std::size(kBitRates));
    return index >= 0 && index < count ? kBitRates[index] : kFallbackBitRate;
}

} // namespace

int main(int argc, char** argv)
{
    RecordOptions options;
    std::string error;
    if (!ParseRecordOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "tamsu-record: %s\n\n%s", error.c_str(), RecordUsage().c_str());
        return kExitUsage;
    }
    if (options.help) {
        std::fputs(RecordUsage().c_str(), stdout);
        return 0;
    }

    // Before any other thread exists, so that every later thread inherits the blocked signals.
    ConsoleRecorderOwner owner;
    SignalWatcher watcher([&owner] { owner.RequestStop(); });

    InitLogging(GetAppDataSubfolder("TamsuAudioRecorder/Log"));
    for (const std::string& recovered : RecoverUnfinishedRecordings())
        std::fprintf(stderr, "tamsu-record: 已恢复上次未完成的录音: %s\n", recovered.c_str());

    // Settings of this run: the options, else the stored settings (which are only read).
    const std::string format =
        options.format.value_or(ReadConfigInt(config::kSection, config::kAudioFormat, 0) == 1 ? "wav" : "mp3");
    const int32_t bitRate = options.bitRate.value_or(StoredBitRate());
    const int source = options.source.value_or(RecorderSettings::StoredSource());
    const bool silent = options.silent || RecorderSettings::StoredSilentMode() != 0;

    // The window's device checks; silence needs no device.
    bool micPresent = false;
    QString micName;
    if (!silent) {
        if ((source == kBoth || source == kSystemSound) && !HasDefaultSpeaker())
            return Fail("未启用音频输出设备! (there is no default playback device to record from)");
        micPresent = GetDefaultMicName(micName);
        if (!micPresent && source == kMicrophone)
            return Fail("请先插入麦克风设备! (there is no microphone)");
        if (!micPresent && source == kBoth)
            std::fprintf(stderr, "tamsu-record: %s\n",
                         "没有插入麦克风设备,仅录系统声音 (no microphone: recording system sound only)");
    }

    QString folder;
    if (options.output) {
        folder = MakeDirectories(QDir::cleanPath(QDir(AnsiToWide(*options.output)).absolutePath()));
    } else {
        folder = QDir::cleanPath(GetOutputFolder());
    }
    const QFileInfo folderInfo(folder);
    if (!folderInfo.isDir() || !folderInfo.isWritable())
        return Fail("cannot write into the output folder " + WideToAnsi(folder));
    const QString fileName = NewFileName(folder, format);
    if (fileName.isEmpty())
        return Fail("no free file name in " + WideToAnsi(folder));

    RecordParams params;
    params.fileName = WideToAnsi(fileName);
    params.folder = WideToAnsi(folder);
    params.bitRate = bitRate;
    params.format = format;
    params.micPresent = micPresent;
    params.micName = micName;
    params.sourceOverride = options.source;
    if (options.silent)
        params.silentOverride = 1;

    LOG(INFO) << "tamsu-record: " << params.folder << "/" << params.fileName << ", source " << source
              << ", bit rate " << bitRate << (silent ? ", silent" : "") << ", " << options.seconds << " s";
    auto recorder = std::make_unique<AudioRecorder>(&owner);
    if (recorder->Open(params) < 0) {
        recorder.reset();
        return Fail("音频设备出错! (the recording could not be started; the log in " +
                    WideToAnsi(GetAppDataSubfolder("TamsuAudioRecorder/Log")) + " says why)");
    }
    const std::string path = recorder->OutputPath();
    recorder->Run();

    // The run's own timetable, by the wall clock from the start (the options keep the steps in
    // this order: pause < resume < stop).
    using Clock = ConsoleRecorderOwner::Clock;
    enum class Action { kPause, kResume, kStop };
    struct Step {
        Clock::time_point when;
        Action action;
    };
    const Clock::time_point start = Clock::now();
    std::vector<Step> steps;
    if (options.pauseAt)
        steps.push_back({start + std::chrono::seconds(*options.pauseAt), Action::kPause});
    if (options.resumeAt)
        steps.push_back({start + std::chrono::seconds(*options.resumeAt), Action::kResume});
    steps.push_back({start + std::chrono::seconds(options.seconds), Action::kStop});

    std::vector<int64_t> seconds;
    bool interrupted = false;
    bool finished = false;
    size_t next = 0;
    while (!finished) {
        interrupted = owner.WaitUntil(steps[next].when, seconds);
        for (int64_t s : seconds)
            PrintLine(ConsoleRecorderOwner::FormatSeconds(s));
        seconds.clear();
        if (interrupted)
            break;
        for (; next < steps.size() && Clock::now() >= steps[next].when; ++next) {
            if (steps[next].action == Action::kPause)
                recorder->Pause();
            else if (steps[next].action == Action::kResume)
                recorder->Run();
            else
                finished = true;
        }
    }

    // Destroying the recorder after Stop waits until the file is complete.
    recorder->Stop();
    recorder.reset();
    owner.WaitUntil(Clock::now(), seconds); // reports of the last frames
    for (int64_t s : seconds)
        PrintLine(ConsoleRecorderOwner::FormatSeconds(s));
    const char* how = owner.Error() ? "stopped by a write failure" : interrupted ? "stopped by a signal" : "finished";
    LOG(INFO) << "tamsu-record: " << how << ", " << path;

    if (const std::optional<RecorderError> error = owner.Error()) {
        // The recording stopped itself; the file holds what could be written.
        return Fail(*error == RecorderError::kDiskFull
                        ? "磁盘空间不足，录音已停止 (the disk is full; the file holds what fit: " + path + ")"
                        : "录音文件写入失败，录音已停止 (writing the file failed; the file holds what was written: " +
                              path + ")");
    }
    const QFileInfo written(AnsiToWide(path));
    if (!written.isFile() || written.size() == 0)
        return Fail("the recording left no file at " + path);
    PrintLine(path);
    return 0;
}
