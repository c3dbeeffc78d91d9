#include "DeadSoundServer.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {
// Room for many unanswered connections, so each client waits for its own timeout.
constexpr int kBacklog = 128;
} // namespace

DeadSoundServer::DeadSoundServer(Kind kind)
{
    if (const char* old = std::getenv("PULSE_SERVER"))
        savedServer_ = old;
    std::string pattern = (std::filesystem::temp_directory_path() / "tamsu-dead-pulse-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        return;
    folder_ = pattern;
    std::string path = folder_ + "/native";
    ::setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);
    if (kind == Kind::kNoSocket) {
        ok_ = true;
        return;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ok_ = socket_ >= 0 && ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::listen(socket_, kBacklog) == 0;
}

DeadSoundServer::~DeadSoundServer()
{
    if (socket_ >= 0)
        ::close(socket_);
    if (savedServer_)
        ::setenv("PULSE_SERVER", savedServer_->c_str(), 1);
    else
        ::unsetenv("PULSE_SERVER");
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}
