#pragma once
// DeadSoundServer: points PULSE_SERVER at a sound server that is not there, for as long as the
// object lives, so a test can check that code answers "no device" promptly instead of hanging.
//   kNoSocket:     nothing at the socket's path (connection refused at once);
//   kSilentSocket: a socket that takes connections but never answers (a hung server).
// Restores PULSE_SERVER and removes its folder on destruction. Used from the test's thread only.

#include <optional>
#include <string>

class DeadSoundServer {
public:
    enum class Kind { kNoSocket, kSilentSocket };

    explicit DeadSoundServer(Kind kind);
    ~DeadSoundServer();
    DeadSoundServer(const DeadSoundServer&) = delete;
    DeadSoundServer& operator=(const DeadSoundServer&) = delete;

    // False when the silent socket could not be set up.
    bool Ok() const { return ok_; }

private:
    std::string folder_;
    int socket_ = -1;
    bool ok_ = false;
    std::optional<std::string> savedServer_;
};
