#pragma once
// RunInBackground: a blocking call (a request to the web service) on a worker thread, its result
// handed to the UI thread. The result reaches done only while receiver exists and, for a window,
// has not ended: a dialog closed while its request runs never sees the answer.
//
//   RunInBackground(this, [phone, password] { return SendLogin(phone, password); },
//                   [this](const LoginAnswer& answer) { ShowAnswer(answer); });
//
// work runs on its own thread and must not touch receiver or any widget; it is bounded by its
// request's time-outs. The workers still running when the application object goes are waited
// for then (WaitForBackgroundCalls).
//
// Thread: UI thread (the QApplication exists).

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

// Starts job on a worker thread kept in the process-wide list of background calls.
void StartBackgroundWorker(std::function<void()> job);
// Queues call for the UI thread. Any thread.
void PostToUiThread(std::function<void()> call);
// False when receiver is gone, or is a window whose end has begun.
bool ReceiverAlive(const QObject* receiver);
template <class T>
bool ReceiverAlive(const QPointer<T>& receiver)
{
    return ReceiverAlive(static_cast<const QObject*>(receiver.data()));
}
// Joins every background worker (at the application's end; tests before they swap a service).
// UI thread.
void WaitForBackgroundCalls();

template <class Work, class Done>
void RunInBackground(QObject* receiver, Work work, Done done)
{
    using Result = std::invoke_result_t<Work&>;
    // Built here on the UI thread; the worker only moves it on.
    std::function<void(Result&)> deliver = [guard = QPointer<QObject>(receiver),
                                            done = std::move(done)](Result& result) {
        if (ReceiverAlive(guard))
            done(result);
    };
    StartBackgroundWorker([work = std::move(work), deliver = std::move(deliver)]() mutable {
        auto result = std::make_shared<Result>(work());
        PostToUiThread([result, deliver = std::move(deliver)] { deliver(*result); });
    });
}
