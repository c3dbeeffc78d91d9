#pragma once
// Driving the account's dialogs from a test: finding the shown window, typing, clicking, and
// answering the boxes that open inside modal loops.

#include "BoxResponder.h"
#include "LoginDialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLineEdit>

#include <gtest/gtest.h>

// A BoxResponder that also closes every login dialog that shows, keeping the phone number it
// was opened with.
class Responder : public BoxResponder {
public:
    Responder()
    {
        onLook = [this] {
            if (auto* login = VisibleWindow<LoginDialog>(); login && login != lastLogin_) {
                lastLogin_ = login;
                logins.push_back(login->FindControl<QLineEdit>("account")->text());
                login->Close(0);
            }
        };
    }
    QStringList logins;

private:
    QPointer<QWidget> lastLogin_;
};

inline void Type(WindowImplBase* window, const char* name, const QString& text)
{
    auto* edit = window->FindControl<QLineEdit>(name);
    ASSERT_TRUE(edit) << name;
    edit->setText(text);
}

inline void Click(WindowImplBase* window, const char* name)
{
    auto* button = window->FindControl<QPushButton>(name);
    ASSERT_TRUE(button) << name;
    QTest::mouseClick(button, Qt::LeftButton);
}

// Waits until a dialog's request has been answered (waiting() false, or the dialog gone) and the
// answer's own consequences (a queued close) have run. True when the dialog is still shown.
template <class Dialog, class Waiting>
bool AwaitAnswer(const QPointer<Dialog>& dialog, Waiting waiting)
{
    EXPECT_TRUE(QTest::qWaitFor([&] { return !dialog || !(dialog->*waiting)(); }, kDeliveryTimeoutMs)) << "no answer";
    QCoreApplication::processEvents();
    return dialog && dialog->isVisible();
}

// A window with the main window's account area: "username", "login", "separator", "register".
class AccountAreaWindow : public QWidget {
public:
    AccountAreaWindow()
    {
        auto* layout = new QHBoxLayout(this);
        for (const char* name : {"username", "login", "separator", "register"}) {
            auto* button = new QPushButton(QString::fromLatin1(name), this);
            button->setObjectName(QString::fromLatin1(name));
            button->setVisible(button->objectName() != "username");
            layout->addWidget(button);
        }
        setGeometry(300, 200, 400, 100);
        show();
    }
    // What the area shows: the signed-in phone alone, or "login separator register".
    QString Shown() const
    {
        QStringList shown;
        for (const QPushButton* button : findChildren<QPushButton*>())
            if (button->isVisible())
                shown << (button->objectName() == "username" ? button->text() : button->objectName());
        return shown.join(' ');
    }
};
