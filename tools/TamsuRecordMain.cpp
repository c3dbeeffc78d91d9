// tamsu-record: the command-line recorder on the engine of the window program. See RecordUsage()
// for what it does; exit status 0 file written, 1 recording failed, 2 invalid arguments.

#include "AudioRecorder.h"
#include "ConfigStore.h"
#include "ConsoleRecorderOwner.h"
#include "LogSetup.h"
#include "PulseContext.h"
#include "RecordOptions.h"
#include "RecordingPlan.h"
#include "RecordingJournal.h"
#include "RecordingSchedule.h"
#include "SignalWatcher.h"
#include "TextUtil.h"

#include <QFileInfo>

#include <glog/logging.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <utility>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// A start at a time of day opens the devices this long before it: a sound server's stream takes
// a few hundred milliseconds at most to deliver.
constexpr auto kOpenAhead = std::chrono::milliseconds(1500);
// --stop-at-size counts megabytes as the disk makers do.
constexpr int64_t kBytesPerMb = 1000000;

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

// The programs playing now, one a line: application name, binary, number of streams (tab-separated;
// "-" for a name the program did not give), in the order their first stream appeared.
int ListApps()
{
    const PulseServerState server = PulseContext::Instance().Refresh();
    if (!server.connected)
        return Fail("the sound server does not answer");
    std::vector<std::pair<std::string, std::string>> order;
    std::map<std::pair<std::string, std::string>, int> streams;
    for (const PulseSinkInput& input : server.sinkInputs) {
        const auto key = std::make_pair(input.appName, input.binary);
        if (streams[key]++ == 0)
            order.push_back(key);
    }
    const auto shown = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
    for (const auto& key : order)
        PrintLine(shown(key.first) + "\t" + shown(key.second) + "\t" + std::to_string(streams[key]));
    return 0;
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
    if (options.listApps)
        return ListApps();
    for (const std::string& recovered : RecoverUnfinishedRecordings())
        std::fprintf(stderr, "tamsu-record: 已恢复上次未完成的录音: %s\n", recovered.c_str());

    // A start at a time of day: the devices open a moment before it, the recording runs from it.
    using Clock = ConsoleRecorderOwner::Clock;
    std::time_t startTime = std::time(nullptr);
    Clock::time_point runAt = Clock::now();
    if (options.startAt) {
        startTime = NextTimeOfDay(*options.startAt, std::time(nullptr));
        const auto wall = std::chrono::system_clock::from_time_t(startTime) - std::chrono::system_clock::now();
        runAt = Clock::now() + std::chrono::duration_cast<Clock::duration>(wall);
        std::fprintf(stderr, "tamsu-record: waiting until %s\n", FormatTimeOfDay(*options.startAt).c_str());
        std::vector<int64_t> none;
        while (Clock::now() < runAt - kOpenAhead)
            if (owner.WaitUntil(runAt - kOpenAhead, none))
                return 0; // Ctrl+C before the start: nothing recorded
    }

    // The plan of this run: the options, else the stored settings (which are only read), and the
    // devices as they are now.
    PlanOverrides overrides;
    overrides.format = options.format;
    overrides.bitRate = options.bitRate;
    overrides.source = options.source;
    overrides.programs = options.programs;
    overrides.silent = options.silent;
    overrides.folder = options.output;
    overrides.voiceActivated = options.voiceActivated;
    overrides.voiceThresholdDb = options.thresholdDb;
    overrides.voiceSilenceSeconds = options.silenceSeconds;
    overrides.echoCancel = options.echoCancel;
    overrides.splitTracks = options.splitTracks;
    const PlanOutcome outcome = ResolveRecordingPlan(overrides, AudioDevices::Current(), startTime);
    const RecordingPlan& plan = outcome.plan;
    switch (outcome.refusal) {
    case PlanRefusal::kNone:
        break;
    case PlanRefusal::kNoSpeaker:
        return Fail("未启用音频输出设备! (there is no default playback device to record from)");
    case PlanRefusal::kNoMicrophone:
        return Fail("请先插入麦克风设备! (there is no microphone)");
    case PlanRefusal::kFolderNotWritable:
        return Fail("该目录没有写入权限! (cannot write into the output folder " + plan.folder + ")");
    case PlanRefusal::kNoFileName:
        return Fail("no free file name in " + plan.folder);
    }
    if (outcome.microphoneMissing)
        std::fprintf(stderr, "tamsu-record: %s\n", "没有插入麦克风设备,仅录系统声音 (no microphone: recording system sound only)");

    if (!plan.programs.only.empty() && !plan.silent && plan.source != kMicrophone) {
        const PulseServerState server = PulseContext::Instance().Snapshot();
        bool playing = false;
        for (const PulseSinkInput& input : server.sinkInputs)
            playing = playing || plan.programs.Takes(input.appName, input.binary);
        if (!playing)
            std::fprintf(stderr, "tamsu-record: \"%s\" plays nothing now; recording silence until it does\n",
                         plan.programs.only.c_str());
    }
    LOG(INFO) << "tamsu-record: " << plan.OutputPath() << ", source " << plan.source << ", bit rate "
              << plan.bitRate << (plan.silent ? ", silent" : "") << (plan.echoCancel ? ", echo cancellation" : "")
              << (plan.splitTracks ? ", separate tracks" : "")
              << (plan.voiceActivated ? ", voice-activated at " + std::to_string(plan.voiceThresholdDb) + " dBFS" : "")
              << ", " << options.seconds << " s";
    auto recorder = std::make_unique<AudioRecorder>(&owner);
    if (recorder->Open(plan) < 0) {
        recorder.reset();
        return Fail("音频设备出错! (the recording could not be started; the log in " +
                    WideToAnsi(GetAppDataSubfolder("TamsuAudioRecorder/Log")) + " says why)");
    }
    const std::string path = recorder->OutputPath();
    bool interrupted = false;
    std::vector<int64_t> seconds;
    while (!interrupted && Clock::now() < runAt)
        interrupted = owner.WaitUntil(runAt, seconds);
    recorder->Run();
    LOG(INFO) << "tamsu-record: running";

    // The run's own timetable, by the wall clock from the start (the options keep the steps in
    // this order: pause < resume < stop).
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
    steps.push_back({start + std::chrono::milliseconds(*options.stopAfterMs), Action::kStop});

    bool finished = interrupted;
    size_t next = 0;
    while (!finished) {
        interrupted = owner.WaitUntil(steps[next].when, seconds);
        for (int64_t s : seconds)
            PrintLine(ConsoleRecorderOwner::FormatSeconds(s));
        seconds.clear();
        if (interrupted)
            break;
        // The size to stop at, looked at with each recorded second.
        if (options.stopAtSizeMb && QFileInfo(AnsiToWide(path)).size() >= *options.stopAtSizeMb * kBytesPerMb)
            finished = true;
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
