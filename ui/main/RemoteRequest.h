#pragma once
// RemoteRequest: one request to the running window over its instance socket, and the answer line.
//
// The protocol is line-based and bounded: the client sends one request line of at most
// kMaxRequestBytes, the window answers one line of at most kMaxAnswerBytes and closes.
//   request: show | start [source=N] [format=mp3|wav] [bitrate=BPS] | stop | pause | resume
//            | toggle [the choices of start] | status
//   answer:  "shown" (to show), "ok <state> <seconds> [<file>]" or "error <message>"
// <state> is idle, recording or paused; <seconds> the recorded whole seconds of the recording the
// command concerned; <file> its path, with "\" and line breaks escaped as "\\" and "\n". A line
// that is not a request is refused: the window closes the connection without touching anything.
//
// Stateless; safe from any thread.

#include <cstdint>
#include <optional>
#include <string>

struct RemoteRequest {
    enum class Command { kShow, kStart, kStop, kPause, kResume, kToggle, kStatus };

    // Longest request line, line break included; longer ones are refused.
    static constexpr int kMaxRequestBytes = 64;
    // Longest answer line: a path of the longest length the system allows, and some.
    static constexpr int kMaxAnswerBytes = 8192;

    Command command = Command::kStatus;
    // Choices of a start (start and toggle only) for this recording; the stored settings stay.
    std::optional<int> source; // a RecordSource
    std::optional<std::string> format;
    std::optional<int32_t> bitRate;

    // The request line, with its line break.
    std::string ToLine() const;
    // The request of line (with or without its line break); nullopt for anything else.
    static std::optional<RemoteRequest> Parse(const std::string& line);
};

// The window's answer to a request other than show.
struct RemoteAnswer {
    bool ok = false;
    std::string state;   // idle, recording or paused (ok)
    int64_t seconds = 0; // (ok)
    std::string file;    // may be empty (ok)
    std::string message; // why the request was refused (not ok)

    // The answer line, with its line break.
    std::string ToLine() const;
    // nullopt when line is no answer.
    static std::optional<RemoteAnswer> Parse(const std::string& line);
    // What the command prints: "<state> <seconds> <file>" or the message.
    std::string Text() const;
};
