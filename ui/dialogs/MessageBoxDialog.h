#pragma once
// The confirmation box: a question with "msgConfirm" (result 1) and "msgCancel" (result 0); the
// skin's close button also gives 0. Skin "MessageBox.xml", no system caption, centred on its
// owner, with a 4-pixel grey shadow.
//
//   if (MessageBoxDialog::Show(mainWindow, "确定要删除文件吗?") != 0) { ...delete... }
//
// Thread: UI thread.

#include "CWndShadow.h"
#include "WindowImplBase.h"

#include <QPointer>
#include <QString>

class QLabel;
class QAbstractButton;

// The boxes' shadow: attached to box, size 4, offset (0, 0), colour "#9E9D9D".
void AttachBoxShadow(CWndShadow& shadow, QWidget* box);

class MessageBoxDialog : public WindowImplBase {
    Q_OBJECT
public:
    MessageBoxDialog(QWidget* owner, const QString& text);
    ~MessageBoxDialog() override;

    // Creates the box on the heap, centres it on owner and runs it modally: 1 confirmed,
    // 0 cancelled or closed, and 0 when the box could not be built (its skin is missing; logged).
    static int Show(QWidget* owner, const QString& text);

    QString GetWindowClassName() const override;
    QString GetSkinFile() override;
    void OnCreate() override;
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    void OnFinalMessage() override;

private:
    QPointer<QWidget> owner_; // not owned
    QString text_;
    CWndShadow shadow_;
    QLabel* msgText_ = nullptr;
    QAbstractButton* msgCancel_ = nullptr;
    QAbstractButton* msgConfirm_ = nullptr;
};
