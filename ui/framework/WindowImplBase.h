#pragma once
// WindowImplBase: every window of the program is a subclass with a skin file, named controls,
// notifications, posted messages, timers and an optional modal loop.
//
// Writing a window:
//
//   class MessageBoxDialog : public WindowImplBase {
//       QString GetWindowClassName() const override { return "MessageBoxDialog"; }
//       QString GetSkinFile() override { return GuardWindowOperation("MessageBoxDialog::GetSkinFile",
//                                                 [] { return QString("MessageBox.xml"); }); }
//       void InitWindow() override { text_ = FindControl<QLabel>("msgText"); ... }
//       void Notify(TNotifyUI& msg) override {
//           if (msg.type == kNotifyClick && msg.senderName == "msgConfirm") Close(1);
//           WindowImplBase::Notify(msg);   // always pass it on
//       }
//   };
//
// Showing it modally (the caller never touches the object after ShowModal returns):
//
//   auto* box = new MessageBoxDialog(owner, text);
//   box->Create(owner, QString());
//   box->CenterWindow();
//   const int result = box->ShowModal();   // the code given to Close; 0 when Create failed
//
// which RunModalDialog<MessageBoxDialog>(owner, text) does in one call.
//
// A window without a modal loop (the main window): Create, CenterWindow, ShowWindow; it deletes
// itself after its final message (Close). If Create fails, Close() (or delete) disposes of it.
//
// What the framework does:
// - Create loads GetSkinFolder() + GetSkinFile() (Qt Designer XML) into the window, then calls
//   OnCreate and InitWindow, in this order. It returns false, with the skin file's path in the log,
//   when the file is missing or unreadable or a hook throws; the window then never shows.
//   Controls set up by OnCreate/InitWindow send no notifications.
// - The skin's top widget may carry the dynamic properties "captionHeight" (int: the top strip,
//   in pixels, that drags the window; -1: the whole window) and "roundCorner" (int: radius of
//   the rounded window region, kept through resizes). Windows have no system caption.
// - Controls are found by name (the skin's name attribute = objectName). A missing control, or
//   one of another class, is logged with the skin file and the name; FindControl then returns
//   nullptr. Callers must tolerate nullptr.
// - Notifications (see TNotifyUI.h) go to Notify on the UI thread. The base Notify handles
//   "click" from "closebtn" (Close(0)), "minbtn", "maxbtn" and "restorebtn".
// - Close(code) ends the window: OnClose may keep it (handled = true); otherwise the window hides,
//   timers stop, a running ShowModal returns code, OnFinalMessage runs, and the object deletes
//   itself (after ShowModal, or at the next event-loop turn). The window manager's close and
//   Escape in a modal window are Close(0). A window deleted by its owner (a Qt child of it) gets
//   no OnFinalMessage.
// - PostMessage(msg, wParam, lParam) is callable from any thread while the window exists; the
//   message reaches HandleCustomMessage on the UI thread, in posting order. Messages posted
//   after the final message are dropped.
// - SetTimer(id, ms) / KillTimer(id): each tick calls OnTimer(id) on the UI thread until killed.
// - Exceptions from overridden operations are caught at the framework's boundary and logged
//   (see WindowError.h for the texts); none crosses a Qt event handler.
//
// Thread: a window and all its operations belong to the UI thread, except PostMessage and Close.

#include "ControlUtil.h"
#include "TNotifyUI.h"

#include <QPoint>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <map>
#include <utility>

class QListWidget;

class WindowImplBase : public QWidget {
    Q_OBJECT
public:
    WindowImplBase();
    ~WindowImplBase() override;
    WindowImplBase(const WindowImplBase&) = delete;
    WindowImplBase& operator=(const WindowImplBase&) = delete;

    // ---- Operations a window overrides, in this order ---------------------------------------
    // The window's class name (also its objectName).
    virtual QString GetWindowClassName() const = 0;
    // The layout file, relative to the skin folder ("MessageBox.xml").
    virtual QString GetSkinFile() = 0;
    // After the layout is built, before InitWindow: window-level set-up (shadow, flags).
    virtual void OnCreate();
    // Looks up the named controls and fills them.
    virtual void InitWindow();
    // A message posted with PostMessage. Set handled when the window dealt with it.
    virtual std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam,
                                              bool& handled);
    // A notification from a control. Overrides pass it on to WindowImplBase::Notify.
    virtual void Notify(TNotifyUI& msg);
    // The window is gone (hidden, modal loop ended); the object is deleted right after.
    // Overrides must not delete the object themselves.
    virtual void OnFinalMessage();

    // ---- Further hooks, with defaults ---------------------------------------------------------
    // Folder of the skin files, ending with "/". Default: SkinFolder().
    virtual QString GetSkinFolder() const;
    // The dialog-builder callback: create a control of the program's own class (nullptr = let Qt
    // create it). Called for every element of this window's skin files and list elements.
    virtual QWidget* CreateControl(const QString& className, QWidget* parent, const QString& name);
    // A close request with its code; set handled to keep the window (for instance to minimise).
    virtual void OnClose(int code, bool& handled);
    // A tick of timer id.
    virtual void OnTimer(int id);

    // ---- Operations ----------------------------------------------------------------------------
    // Builds the window from its skin as a frameless top-level window owned by owner (may be
    // nullptr). flags default to Qt::Dialog with an owner, Qt::Window without. Does not show it.
    bool Create(QWidget* owner, const QString& title, Qt::WindowFlags flags = {});
    bool IsCreated() const { return root_ != nullptr; }
    // True once the window has ended (hidden for good, its modal loop over).
    bool IsEnded() const { return ended_; }
    // Centres the window on its owner, or on the screen when it has no visible owner, keeping it
    // inside the screen's available area.
    void CenterWindow();
    void ShowWindow(bool show = true, bool activate = true);
    // Shows the window modally (blocking its owner, or the application without owner) and runs a
    // nested event loop until the window closes. Returns the code given to Close, or 0 when the
    // window ended otherwise or was never created (callers act only on non-zero results, so a
    // box that could not be built never counts as confirmed). The object no longer exists when
    // ShowModal returns.
    int ShowModal();
    // Requests the end of the window with code; queued, so it is safe from notifications and
    // from any thread.
    void Close(int code = 0);
    // Queues a message for HandleCustomMessage. Thread-safe while the window exists.
    void PostMessage(unsigned msg, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
    // Starts (or restarts with the new interval) timer id. False for a negative interval.
    bool SetTimer(int id, int milliseconds);
    // False when timer id is not running.
    bool KillTimer(int id);
    // Sets the window's client size (the whole window: there is no system frame).
    void ResizeClient(int width, int height);

    template <class T>
    T* FindControl(const QString& name) const
    {
        return FindControlIn<T>(root_, name, skinFile_);
    }
    // Builds a widget from skinFile with this window's CreateControl, GIFs and notifications.
    // nullptr (logged) when the file cannot be loaded.
    QWidget* LoadSkinWidget(const QString& skinFile, QWidget* parent = nullptr);
    // LoadSkinWidget + AppendListElement: a new list element at the end of list.
    QWidget* AddListElement(QListWidget* list, const QString& skinFile);
    // Sends notifications from the named controls below subtree (done for every loaded skin).
    void AttachNotifications(QWidget* subtree);

    QWidget* SkinRoot() const { return root_; }
    const QString& SkinFile() const { return skinFile_; }

protected:
    bool event(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct ModalState;

    void SendNotify(QWidget* sender, const char* type, std::uintptr_t wParam, std::intptr_t lParam);
    void HandleCloseRequest(int code);
    void EndWindow(int code); // hides, ends the modal loop, runs OnFinalMessage; does not delete
    bool InCaption(const QPoint& pos) const;
    void UpdateWindowRegion();
    QString ClassNameForLog() const;

    QWidget* root_ = nullptr;          // the skin's top widget, child of this window
    QString skinFile_;
    bool initialising_ = false;        // OnCreate/InitWindow running: notifications muted
    bool ended_ = false;               // EndWindow ran
    ModalState* modal_ = nullptr;      // on ShowModal's stack while the modal loop runs
    std::map<int, int> timers_;        // timer id -> Qt timer id
    int captionHeight_ = 0;
    int roundCorner_ = 0;
    bool dragging_ = false;
    QPoint dragOffset_;
};

// The modal procedure of every dialog: a new Dialog(owner, args...) on the heap, built without a
// title as a dialog owned by owner, centred on it and run modally. Returns what ShowModal returns.
template <class Dialog, class... Args>
int RunModalDialog(QWidget* owner, Args&&... args)
{
    auto* dialog = new Dialog(owner, std::forward<Args>(args)...);
    dialog->Create(owner, QString());
    dialog->CenterWindow();
    return dialog->ShowModal();
}
