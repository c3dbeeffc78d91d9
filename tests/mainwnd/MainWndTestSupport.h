#pragma once
// Shared pieces of the main window tests: a private data and runtime folder with the private sound
// server, opening and closing the window, its named controls, its configuration, and answering
// the folder chooser (its notice boxes: BoxResponder).

#include "BoxResponder.h"
#include "CMainWnd.h"
#include "SoundServerTest.h"
#include "TestEnv.h"

#include <QApplication>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>
#include <string>

// Answers the next folder chooser, which must be "选择保存目录" opening at start: accepts folder
// (typed in), or cancels when folder is empty.
void ChooseFolderInNextDialog(const QString& folder, const QString& start);
// The stored value of key in the program's section ("" when not stored); storing one.
QString Config(const char* key);
void SetConfig(const char* key, const QString& value);

class MainWndTest : public SoundServerTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Builds and shows the main window as start-up does; recover replaces the repair of
    // unfinished recordings. CloseWindow: with its close button, until it has gone.
    void OpenWindow(CMainWnd::RecoverFunction recover = {});
    void CloseWindow();
    void Click(const char* name); // the named button, which must be visible
    template <class T>
    T* Control(const char* name) const
    {
        return window_ ? window_->FindControl<T>(name) : nullptr;
    }
    QString DefaultFolder() const { return env_->Root() + "/home/Documents/" + QString::fromUtf8("TAMSU电脑录音"); }

    std::unique_ptr<TestEnv> env_;
    QPointer<CMainWnd> window_;

private:
    std::optional<std::string> savedRuntimeDir_;
};
