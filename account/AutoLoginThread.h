#pragma once
// AutoLoginThread: the automatic login at start-up, from the stored credentials, on a worker
// thread of its own. The worker never writes the current account or touches a window: it hands
// its result to a callback, which passes it on to the UI thread; there ApplyAutoLogin takes it
// only if nothing signed in or out since the login started (a sign-out while it ran stays).
//
//   auto thread = std::make_unique<AutoLoginThread>([window](AutoLoginResult r) {
//       QMetaObject::invokeMethod(window, [r] { if (ApplyAutoLogin(r)) ShowSignedIn(...); },
//                                 Qt::QueuedConnection);
//   });
//
// Nothing is shown to the user. A missing file or an empty account or password sends nothing; a
// failed post logs "账号或密码错误!"; a refused or unreadable reply leaves the user signed out.
// The file is never rewritten here.
//
// Thread: construct and destroy on one thread (the UI thread); the destructor waits for the
// worker (at most the request time-out).

#include "CurrentAccount.h"

#include <functional>
#include <thread>

struct AutoLoginResult {
    bool signedIn = false;
    CurrentAccount account;
    uint64_t generation = 0; // AccountGeneration() when the login started
};

// The automatic login itself, run on the calling thread (the worker's body).
AutoLoginResult RunAutoLogin();
// UI thread: makes result the current account unless it is a failure or stale. True when taken.
bool ApplyAutoLogin(const AutoLoginResult& result);

class AutoLoginThread {
public:
    using Deliver = std::function<void(const AutoLoginResult&)>;

    // Starts the worker; deliver runs on it once, with the result (signed in or not).
    explicit AutoLoginThread(Deliver deliver);
    ~AutoLoginThread();
    AutoLoginThread(const AutoLoginThread&) = delete;
    AutoLoginThread& operator=(const AutoLoginThread&) = delete;

private:
    std::thread worker_;
};
