#pragma once
// Shared pieces of the main window tests: the environment a window needs (temporary data folder
// and runtime folder, the private sound server), opening and closing the window, clicking its
// named controls, and answering the modal boxes it opens.

#include "CMainWnd.h"
#include "SoundServerTest.h"
#include "TestEnv.h"

#include <QPointer>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>
#include <string>

// How long a test waits for something the event loop or the recorder must deliver.
inline constexpr int kDeliveryTimeoutMs = 10000;

// What a modal box showed before a test closed it.
struct BoxSeen {
    bool shown = false;
    QString text;
    QSize size;
};

// Closes the next PromptBoxDialog that opens (with "msgConfirm") and records it. Call before the
// action that opens it; the box runs a nested event loop in which the answer arrives. Looks once
// at the next event-loop turn, or, with waitMs, until a box shows or waitMs have passed (for a
// box that opens later than the action's own event).
std::shared_ptr<BoxSeen> AnswerNextPrompt(int waitMs = 0);
// The same for the system message box (QMessageBox) with its OK button.
std::shared_ptr<BoxSeen> AnswerNextMessageBox();
// Accepts the next folder chooser with folder (records its title as text).
std::shared_ptr<BoxSeen> ChooseFolderInNextDialog(const QString& folder);

class MainWndTest : public SoundServerTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds and shows the main window as start-up does; recover replaces the repair of
    // unfinished recordings when given.
    CMainWnd* OpenWindow(CMainWnd::RecoverFunction recover = {});
    // Closes the window as its close button does and waits until it has gone.
    void CloseWindow();
    // Clicks the named button of the window (which must be visible).
    void Click(const char* name);

    template <class T>
    T* Control(const char* name) const
    {
        return window_ ? window_->FindControl<T>(name) : nullptr;
    }

    static QString Config(const char* key);
    static void SetConfig(const char* key, const QString& value);
    // Unloads every module of that name from the sound server (e.g. "module-remap-source").
    static void UnloadModules(const std::string& module);

    std::unique_ptr<TestEnv> env_;
    QPointer<CMainWnd> window_;

private:
    std::optional<std::string> savedRuntimeDir_;
};
