#pragma once
// QuitSignalNotifier: turns SIGTERM, SIGINT and SIGHUP (the session ending, kill, Ctrl+C in a
// terminal) into the Qt signal QuitRequested on the UI thread, so the program can end the way
// its quit command does: a running recording is finished and its file is complete.
//
// The signal handler only writes one byte into a pipe (async-signal-safe); a QSocketNotifier on
// the pipe's other end emits QuitRequested from the event loop. A second signal while the first
// is being handled ends the process at once with the usual status (the user insists).
//
// Thread: create, use and destroy on the UI thread; one object per process.

#include <QObject>

class QSocketNotifier;

class QuitSignalNotifier : public QObject {
    Q_OBJECT
public:
    explicit QuitSignalNotifier(QObject* parent = nullptr);
    // Restores the default handlers and closes the pipe.
    ~QuitSignalNotifier() override;

    // False when the pipe or a handler could not be set up (the signals then act as before).
    bool IsActive() const { return notifier_ != nullptr; }

signals:
    void QuitRequested(int signalNumber);

private:
    void OnReadable();

    QSocketNotifier* notifier_ = nullptr; // child of this object
};
