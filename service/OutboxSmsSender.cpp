#include "OutboxSmsSender.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

OutboxSmsSender::OutboxSmsSender(std::string path) : path_(std::move(path)) {}

bool OutboxSmsSender::Send(const std::string& phone, const std::string& code, std::string& error) {
    const std::string line = phone + " " + code + "\n";
    std::lock_guard<std::mutex> lock(mutex_);
    // Codes are secrets of their owners: the outbox is readable by the service's user only.
    const int fd = open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0 || fchmod(fd, 0600) != 0) {
        if (fd >= 0) close(fd);
        error = "cannot open " + path_ + ": " + std::strerror(errno);
        return false;
    }
    const ssize_t written = write(fd, line.data(), line.size());
    const int writeErrno = errno;
    const bool closed = close(fd) == 0;
    if (written != static_cast<ssize_t>(line.size()) || !closed) {
        error = "cannot write " + path_ + ": " + std::strerror(written < 0 ? writeErrno : ENOSPC);
        return false;
    }
    return true;
}
