#include "QuitSignalNotifier.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kQuitSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The pipe between the handler and the event loop; -1 while no notifier exists.
std::atomic<int> g_writeEnd{-1};
int g_readEnd = -1;
// Set by the first signal; a second one while set ends the process.
std::atomic<bool> g_pending{false};

void OnQuitSignal(int number)
{
    if (g_pending.exchange(true)) {
        std::signal(number, SIG_DFL);
        std::raise(number);
        return;
    }
    const int saved = errno;
    const int fd = g_writeEnd.load();
    const unsigned char byte = static_cast<unsigned char>(number);
    if (fd >= 0 && ::write(fd, &byte, 1) != 1) {
        // A full pipe already holds a request; nothing else can be done in a handler.
    }
    errno = saved;
}

} // namespace

QuitSignalNotifier::QuitSignalNotifier(QObject* parent)
    : QObject(parent)
{
    int fds[2];
    if (g_writeEnd.load() >= 0 || ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    g_readEnd = fds[0];
    g_writeEnd.store(fds[1]);
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kQuitSignals)
        ::sigaction(number, &action, nullptr);
    notifier_ = new QSocketNotifier(g_readEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitSignalNotifier::OnReadable);
}

QuitSignalNotifier::~QuitSignalNotifier()
{
    if (!notifier_)
        return;
    for (const int number : kQuitSignals)
        std::signal(number, SIG_DFL);
    const int writeEnd = g_writeEnd.exchange(-1);
    ::close(writeEnd);
    ::close(g_readEnd);
    g_readEnd = -1;
}

void QuitSignalNotifier::OnReadable()
{
    unsigned char byte = 0;
    int last = 0;
    while (::read(g_readEnd, &byte, 1) == 1)
        last = byte;
    if (last != 0)
        emit QuitRequested(last);
}
