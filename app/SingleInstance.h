#pragma once
// SingleInstance: one running program per user. The first start holds an exclusive lock on the
// lock file InstanceLockPath() for as long as it lives (the lock goes with the process, also when
// it crashes); a later start finds the lock taken and asks the running one, over its main
// window's local socket, to bring its window to the front.
//
//   SingleInstance instance;
//   if (!instance.Acquire()) {                       // another instance runs
//       SingleInstance::ActivateRunningInstance();   // its window comes forward (if it has one)
//       return 0;
//   }
//
// Thread: main thread, before any other thread starts.

#include <QString>

#include <optional>
#include <string>

class SingleInstance {
public:
    // How long a second start waits for the running instance to answer; it ends quietly after
    // that, as when the running one has no window yet.
    static constexpr int kAnswerTimeoutMs = 3000;

    SingleInstance() = default;
    // Keeps the lock until the process ends (like a named mutex that is never closed): the
    // destructor does not release it.
    ~SingleInstance() = default;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another process holds the lock. True when this process now holds it, and also
    // when no lock can be taken at all (no runtime folder, lock file not creatable): the program
    // then runs without the protection rather than not at all.
    bool Acquire(const QString& lockPath);
    bool Acquire();

    // Sends the show request to the main window listening on socketPath and waits up to timeoutMs
    // for its answer. True when the window answered.
    static bool ActivateRunningInstance(const QString& socketPath, int timeoutMs = kAnswerTimeoutMs);
    static bool ActivateRunningInstance();

    // Sends one request line to the window listening on socketPath and returns its answer line
    // (without the line break); nullopt when no window listens, the answer took longer than
    // timeoutMs or was longer than maxAnswer bytes.
    static std::optional<std::string> Ask(const QString& socketPath, const std::string& request, int timeoutMs,
                                          size_t maxAnswer);

    // Gives the lock up (a remote command that found no instance, before it starts one).
    void Release();

private:
    int fd_ = -1; // the locked file, held open for the life of the process
};
