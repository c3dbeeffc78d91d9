// The remote commands of tamsu-recorder against the window: each command as the program sends it
// (parsed from its arguments, over the instance socket), the answer it prints and its exit code,
// one after another on one window; a start the window refuses; and no program at all. (Lines that
// are no request: the instance server's test.)

#include "AudioRecorder.h"
#include "ConfigStore.h"
#include "InstancePaths.h"
#include "MainWndTestSupport.h"
#include "RemoteCommand.h"
#include "SingleInstance.h"

#include <QFile>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

#include <future>

namespace {

class RemoteControlTest : public MainWndTest {
protected:
    struct Result {
        int code = -1;
        std::string out;
        std::string err;
    };
    // Runs the command of args as tamsu-recorder would, on a thread of its own (the window answers
    // on this one), with lockPath as the running program's lock.
    Result Command(const std::vector<std::string>& args, const QString& lockPath)
    {
        std::optional<RemoteRequest> request;
        std::string error;
        EXPECT_TRUE(RemoteCommand::Parse(args, request, error)) << error;
        if (!request)
            return {};
        auto done = std::async(std::launch::async, [request, lockPath] {
            Result result;
            SingleInstance instance;
            result.code = RemoteCommand::Run(*request, instance, lockPath, InstanceSocketPath(),
                                             [] { return false; }, result.out, result.err);
            return result;
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                                    RemoteCommand::kAnswerTimeoutMs + kDeliveryTimeoutMs));
        return done.get();
    }
};

TEST_F(RemoteControlTest, CommandsActOnTheWindowsRecordingAndAnswerInOneLine)
{
    ASSERT_NO_FATAL_FAILURE(OpenWindow());
    SingleInstance running; // the window's process holds the lock, as the program does
    ASSERT_TRUE(running.Acquire(InstanceLockPath()));
    const QString noProgram = env_->Root() + "/other-lock"; // a lock nobody holds

    const struct {
        std::vector<std::string> args;
        int code;
        std::string output; // the start of stdout (exit 0) or stderr
        int state;          // the recorder's afterwards; -1: none
        bool noProgram = false;
    } steps[] = {
        {{"--status"}, 0, "idle 0", -1},
        {{"--pause"}, 1, CMainWnd::kNotRecordingText, -1},
        {{"--start", "--format", "wav", "--source=system"}, 0, "recording 0 " + DefaultFolder().toStdString(), kRecording},
        {{"--start"}, 0, "recording ", kRecording}, // already recording: stays so
        {{"--pause"}, 0, "paused ", kPaused},
        {{"--toggle"}, 0, "idle ", -1}, // from paused: stops, the file is complete
        {{"--toggle"}, 0, "recording ", kRecording},
        {{"--resume"}, 0, "recording ", kRecording},
        {{"--status"}, 0, "recording ", kRecording},
        {{"--stop"}, 3, RemoteCommand::kNoProgramText, kRecording, true},
        {{"--start"}, 3, RemoteCommand::kNoProgramText, kRecording, true}, // could not start one
        {{"--stop"}, 0, "idle ", -1},
        {{"--stop"}, 0, "idle 0", -1},
    };
    int finished = 0;
    for (const auto& step : steps) {
        const std::string name = step.args[0];
        const Result result = Command(step.args, step.noProgram ? noProgram : InstanceLockPath());
        EXPECT_EQ(result.code, step.code) << name << ": " << result.out << result.err;
        EXPECT_EQ((step.code == 0 ? result.out : result.err).rfind(step.output, 0), 0u)
            << name << ": " << result.out << result.err;
        EXPECT_EQ(window_->Recorder() ? window_->Recorder()->GetState() : -1, step.state) << name;
        if (result.out.rfind("idle ", 0) == 0 && result.out.size() > 7) {
            // "idle <seconds> <file>": the finished file, complete (a WAV's header has its sizes).
            const std::string file = result.out.substr(result.out.find(' ', 5) + 1);
            EXPECT_TRUE(QFileInfo(QString::fromStdString(file)).size() > 44) << file;
            ++finished;
        }
    }
    EXPECT_EQ(finished, 2);

    // A start the window refuses: its prompt's text, and no recording.
    ASSERT_TRUE(QFile(env_->Root() + "/not-a-folder").open(QIODevice::WriteOnly));
    SetConfig(config::kOutputDir, env_->Root() + "/not-a-folder");
    const Result refused = Command({"--toggle"}, InstanceLockPath());
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, CMainWnd::kFolderNotWritableText);
    EXPECT_EQ(window_->Recorder(), nullptr);
}

} // namespace
