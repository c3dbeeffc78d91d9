#pragma once
// TrayIcon: the main window's icon in the desktop's status area, tip "TAMSU电脑录音软件".
// A left click posts 1254 with 513 to the window, a right click 1254 with 516; the window hands
// them back to HandleCallback, which restores the window (513) or opens the task menu at the
// cursor (516). While a recording runs the icon carries a red badge (amber with a pause sign
// while paused) and the tip adds the status and the elapsed time.
//
//   TrayIcon tray_{*this};                  // a member of the main window
//   tray_.Add(windowIcon());                // InitWindow
//   case 1254: tray_.HandleCallback(lParam) // HandleCustomMessage
//   tray_.Remove();                         // OnFinalMessage
//
// Thread: UI thread.

#include <QIcon>
#include <QObject>
#include <QString>

#include <cstdint>

class QSystemTrayIcon;
class WindowImplBase;

enum class TrayState { kIdle, kRecording, kPaused };

class TrayIcon : public QObject {
    Q_OBJECT
public:
    static constexpr unsigned kMsgTrayCallback = 1254;
    static constexpr std::intptr_t kLeftButtonDown = 513;
    static constexpr std::intptr_t kRightButtonDown = 516;

    // owner: the window the callbacks go to; it outlives this (TrayIcon is its member).
    explicit TrayIcon(WindowImplBase& owner);
    ~TrayIcon() override;

    // Shows the icon (base is the application's icon). On a desktop without a status area it
    // appears as soon as one starts.
    void Add(const QIcon& base);
    void Remove();
    // True while the desktop shows the icon: a window closed to it can come back.
    bool Shown() const;

    // The recording's state (idle clears the elapsed time) and its elapsed whole seconds, for
    // the icon and the tip.
    void SetState(TrayState state);
    void SetElapsed(int64_t seconds);
    // A last line of the tip (the next scheduled start); empty: none.
    void SetNote(const QString& note);

    // The callback message's mouse message: 513 restores the window, 516 opens the task menu at
    // the cursor. False for any other value (left to default processing).
    bool HandleCallback(std::intptr_t mouseMessage);

    // The tip for state and elapsed seconds.
    static QString ToolTip(TrayState state, int64_t seconds);
    // base with the state's badge over its lower right (base itself while idle).
    static QIcon StateIcon(const QIcon& base, TrayState state);

    QSystemTrayIcon* SystemTrayIcon() const { return icon_; }

private:
    WindowImplBase& owner_;
    QSystemTrayIcon* icon_ = nullptr; // child of this
    QIcon base_;
    TrayState state_ = TrayState::kIdle;
    int64_t seconds_ = 0;
    QString note_;
};
