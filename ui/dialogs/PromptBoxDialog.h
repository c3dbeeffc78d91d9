#pragma once
// The notice box: a text and one button, "msgConfirm" (result 1). Its client area is the size
// asked for (200 × 100 or 250 × 100 mostly), whatever "PromptBox.xml" says. No system caption,
// centred on its owner, with the same shadow as MessageBoxDialog.
//
//   PromptBoxDialog::Show(mainWindow, "未启用音频输出设备!", 200, 100);
//
// Thread: UI thread.

#include "CWndShadow.h"
#include "WindowImplBase.h"

#include <QPointer>
#include <QString>

class QLabel;
class QAbstractButton;

class PromptBoxDialog : public WindowImplBase {
    Q_OBJECT
public:
    PromptBoxDialog(QWidget* owner, const QString& text, int width, int height);
    ~PromptBoxDialog() override;

    // Creates the box on the heap, centres it on owner and runs it modally. Returns 1 when
    // "msgConfirm" was clicked, otherwise 0 (also when the box could not be built; logged).
    static int Show(QWidget* owner, const QString& text, int width, int height);

    QString GetWindowClassName() const override;
    QString GetSkinFile() override;
    void OnCreate() override;
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    void OnFinalMessage() override;

private:
    CWndShadow shadow_;
    QPointer<QWidget> owner_; // not owned
    int width_;
    int height_;
    QString text_;
    QLabel* msgText_ = nullptr;
    QAbstractButton* msgConfirm_ = nullptr;
};
