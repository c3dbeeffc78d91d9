#include "RemoteCommand.h"

#include "RecordingPlan.h"
#include "SingleInstance.h"

#include <algorithm>
#include <chrono>
#include <charconv>
#include <iterator>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

extern char** environ;

namespace {

// A started program is looked for this often until its window listens (another process: no
// signal of ours to wait on).
constexpr auto kListenPoll = std::chrono::milliseconds(20);

constexpr std::pair<const char*, RemoteRequest::Command> kCommandOptions[] = {
    {"--start", RemoteRequest::Command::kStart},   {"--stop", RemoteRequest::Command::kStop},
    {"--pause", RemoteRequest::Command::kPause},   {"--resume", RemoteRequest::Command::kResume},
    {"--toggle", RemoteRequest::Command::kToggle}, {"--status", RemoteRequest::Command::kStatus},
};

} // namespace

bool RemoteCommand::Parse(const std::vector<std::string>& args, std::optional<RemoteRequest>& request, std::string& error)
{
    request.reset();
    RemoteRequest parsed;
    bool commandGiven = false;
    bool choiceGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        const auto* command = std::find_if(std::begin(kCommandOptions), std::end(kCommandOptions),
                                           [&](const auto& entry) { return name == entry.first; });
        if (command != std::end(kCommandOptions)) {
            if (commandGiven || value) {
                error = commandGiven ? "only one of --start, --stop, --pause, --resume, --toggle, --status"
                                     : name + " takes no value";
                return false;
            }
            commandGiven = true;
            parsed.command = command->second;
            continue;
        }
        if (name != "--source" && name != "--format" && name != "--bitrate")
            continue; // an option of the window program
        if (!value) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        choiceGiven = true;
        if (name == "--source") {
            const char* names[] = {"both", "mic", "system"}; // in RecordSource order
            const auto* found = std::find(std::begin(names), std::end(names), *value);
            if (found == std::end(names)) {
                error = "--source must be both, mic or system, not \"" + *value + "\"";
                return false;
            }
            parsed.source = static_cast<int>(found - std::begin(names));
        } else if (name == "--format") {
            if (*value != "mp3" && *value != "wav") {
                error = "--format must be mp3 or wav, not \"" + *value + "\"";
                return false;
            }
            parsed.format = *value;
        } else {
            int32_t rate = 0;
            const auto [ptr, ec] = std::from_chars(value->data(), value->data() + value->size(), rate);
            if (ec != std::errc() || ptr != value->data() + value->size() ||
                std::find(std::begin(kBitRates), std::end(kBitRates), rate) == std::end(kBitRates)) {
                error = "--bitrate must be 64000, 96000, 128000, 192000, 256000 or 320000, not \"" + *value + "\"";
                return false;
            }
            parsed.bitRate = rate;
        }
    }
    if (!commandGiven)
        return true; // the window program itself
    if (choiceGiven && parsed.command != RemoteRequest::Command::kStart &&
        parsed.command != RemoteRequest::Command::kToggle) {
        error = "--source, --format and --bitrate go with --start or --toggle";
        return false;
    }
    request = parsed;
    return true;
}

int RemoteCommand::Run(const RemoteRequest& request, SingleInstance& instance, const QString& lockPath,
                       const QString& socketPath, const StartProgram& startProgram, std::string& out,
                       std::string& err)
{
    const std::string line = request.ToLine();
    std::optional<std::string> answer;
    if (!instance.Acquire(lockPath)) {
        answer = SingleInstance::Ask(socketPath, line, kAnswerTimeoutMs, RemoteRequest::kMaxAnswerBytes);
    } else {
        // No program runs: a start begins one, anything else has nothing to act on.
        instance.Release();
        const bool starts = request.command == RemoteRequest::Command::kStart ||
                            request.command == RemoteRequest::Command::kToggle;
        if (starts && startProgram && startProgram()) {
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
            while (!(answer = SingleInstance::Ask(socketPath, line, kAnswerTimeoutMs, RemoteRequest::kMaxAnswerBytes)) &&
                   std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(kListenPoll);
        }
    }
    const std::optional<RemoteAnswer> parsed = answer ? RemoteAnswer::Parse(*answer) : std::nullopt;
    if (!parsed) {
        err = kNoProgramText;
        return kExitNoProgram;
    }
    if (!parsed->ok) {
        err = parsed->Text();
        return kExitRefused;
    }
    out = parsed->Text();
    return kExitDone;
}

bool RemoteCommand::StartInBackground()
{
    char self[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return false;
    // The program's own session, its output to /dev/null: the command's terminal (or the pipe of
    // whoever runs the command) is not held open by the program.
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    char* argv[] = {self, const_cast<char*>(kBackgroundOption), nullptr};
    pid_t pid = 0;
    const int result = posix_spawn(&pid, self, &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return result == 0;
}

std::string RemoteCommand::Usage()
{
    return "Usage: tamsu-recorder [--start [--source both|mic|system] [--format mp3|wav] [--bitrate BPS]\n"
           "                      | --stop | --pause | --resume | --toggle | --status]\n"
           "\n"
           "Without an option, starts the TAMSU电脑录音软件 window (or brings the running one forward).\n"
           "The options control the running window's recording and print one line: the state (idle,\n"
           "recording, paused), the recorded seconds and the file.\n"
           "  --start    start recording (resume when paused); --source, --format and --bitrate\n"
           "             override the stored choices for this recording\n"
           "  --stop     stop and finish the file\n"
           "  --pause, --resume\n"
           "  --toggle   start when idle, stop when recording or paused\n"
           "  --status   print the state only\n"
           "Without a running window, --start and --toggle start the program in the background.\n"
           "Exit status: 0 done, 1 refused (the window's message on stderr), 2 invalid arguments,\n"
           "3 no running program.\n";
}
