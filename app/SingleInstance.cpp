#include "SingleInstance.h"

#include "InstancePaths.h"
#include "InstanceServer.h"

#include <QFile>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Closes a descriptor when it goes out of scope.
struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Writes all of data; false on error or when the peer went away.
bool SendAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

} // namespace

bool SingleInstance::Acquire(const QString& lockPath)
{
    if (lockPath.isEmpty())
        return true;
    // Close-on-exec: programs started from the window (file manager, player) must not inherit
    // the lock and keep it after we end.
    const int fd = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;
    int result;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const bool heldElsewhere = errno == EWOULDBLOCK;
        ::close(fd);
        return !heldElsewhere;
    }
    fd_ = fd;
    return true;
}

bool SingleInstance::Acquire()
{
    return Acquire(InstanceLockPath());
}

void SingleInstance::Release()
{
    if (fd_ >= 0)
        ::close(fd_); // closing the only descriptor ends the lock
    fd_ = -1;
}

std::optional<std::string> SingleInstance::Ask(const QString& socketPath, const std::string& request, int timeoutMs,
                                               size_t maxAnswer)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    if (path.isEmpty() || static_cast<size_t>(path.size()) >= sizeof address.sun_path)
        return std::nullopt;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));

    FdCloser socket{::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    if (socket.fd < 0 || ::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return std::nullopt; // no window listens (yet)
    if (!SendAll(socket.fd, request.data(), request.size()))
        return std::nullopt;

    // Wait for the answer line.
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string answer;
    char buffer[512];
    size_t lineEnd = std::string::npos;
    while ((lineEnd = answer.find('\n')) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || answer.size() > maxAnswer)
            return std::nullopt;
        pollfd entry{socket.fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        const ssize_t n = ::recv(socket.fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        answer.append(buffer, static_cast<size_t>(n));
    }
    answer.resize(lineEnd);
    return answer;
}

bool SingleInstance::ActivateRunningInstance(const QString& socketPath, int timeoutMs)
{
    const std::optional<std::string> answer =
        Ask(socketPath, InstanceServer::kShowRequest, timeoutMs, std::strlen(InstanceServer::kShownReply));
    return answer && *answer + "\n" == InstanceServer::kShownReply;
}

bool SingleInstance::ActivateRunningInstance()
{
    return ActivateRunningInstance(InstanceSocketPath());
}
