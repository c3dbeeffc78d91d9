#pragma once
// SetingDialog, "系统设置": the output folder of recordings ("output-dir", with "choose-dir" and
// "open-dir") and what the main window's close button does ("window-close-exit" stores
// "window-close" 0, "window-close-tray" stores 1). Each change is stored the moment it is made;
// there is no confirm step. Skin "Seting.xml", modal over the main window.
//
//   SetingDialog::Show(mainWindow);
//
// Thread: UI thread.

#include "WindowImplBase.h"

#include <QPointer>
#include <QString>

class QAbstractButton;
class QLineEdit;

class SetingDialog : public WindowImplBase {
    Q_OBJECT
public:
    // Shown when "open-dir" is asked for a folder that does not exist (any more).
    static constexpr const char* kFolderMissingText = "该目录不存在!";

    explicit SetingDialog(QWidget* mainWindow);
    ~SetingDialog() override;

    // Creates the dialog, centres it on mainWindow and runs it modally until it is closed.
    static void Show(QWidget* mainWindow);

    QString GetWindowClassName() const override;
    QString GetSkinFile() override;
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    void OnFinalMessage() override;

private:
    void ChooseFolder();
    void OpenFolder();
    void ShowFolder(const QString& folder);

    QPointer<QWidget> mainWindow_; // not owned
    QLineEdit* outputDir_ = nullptr;
    QAbstractButton* chooseDir_ = nullptr;
    QAbstractButton* openDir_ = nullptr;
    QAbstractButton* closeExit_ = nullptr;
    QAbstractButton* closeTray_ = nullptr;
};
