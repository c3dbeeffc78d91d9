#pragma once
// RemoteCommand: tamsu-recorder --start, --stop, --pause, --resume, --toggle, --status. The
// command reaches the running program over its instance socket (RemoteRequest), prints the answer
// as one line and ends:
//   0  done; stdout: "<state> <seconds> [<file>]" (state idle, recording or paused)
//   1  refused (a start without a device or a writable folder, a pause while idle); stderr: the
//      window's message
//   2  invalid arguments
//   3  no running program (stop, pause, resume, status), or it did not answer; stderr:
//      "没有正在运行的录音程序"
// Without a running program, --start and --toggle start one in the background (its window hidden
// to the tray when there is one) and hand it the command once its window listens.
//
// Thread: the program's main thread, before any window exists.

#include "RemoteRequest.h"

#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class SingleInstance;

class RemoteCommand {
public:
    static constexpr int kExitDone = 0;
    static constexpr int kExitRefused = 1;
    static constexpr int kExitUsage = 2;
    static constexpr int kExitNoProgram = 3;
    static constexpr const char* kNoProgramText = "没有正在运行的录音程序";
    // The program option that starts the window hidden to the tray (when a tray exists).
    static constexpr const char* kBackgroundOption = "--background";
    // How long a command waits for the window's answer: a start opens the sound devices, which
    // takes well under a second even on a loaded machine.
    static constexpr int kAnswerTimeoutMs = 10000;
    // How long a start waits for a program it started to listen: start-up with the skin, the
    // tray and the sound server takes about a second.
    static constexpr int kStartTimeoutMs = 20000;

    // Starts the program in the background; false when it cannot be started.
    using StartProgram = std::function<bool()>;

    // The remote command of the program's arguments (after the program name): false with a
    // one-line reason in error when they are invalid; request stays empty when none is given.
    static bool Parse(const std::vector<std::string>& args, std::optional<RemoteRequest>& request, std::string& error);

    // Carries request out; instance is this process's, not yet acquired (lockPath, socketPath:
    // where the running program is found). out and err receive the line to print.
    static int Run(const RemoteRequest& request, SingleInstance& instance, const QString& lockPath,
                   const QString& socketPath, const StartProgram& startProgram, std::string& out, std::string& err);

    // Starts this program's executable with kBackgroundOption, detached from this process and its
    // terminal output.
    static bool StartInBackground();

    static std::string Usage();
};
