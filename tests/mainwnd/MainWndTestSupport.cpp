#include "MainWndTestSupport.h"

#include "ConfigStore.h"
#include "PromptBoxDialog.h"
#include "SoundServer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <cstdlib>
#include <sstream>

namespace {

template <class Box>
Box* VisibleBox()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<Box*>(w); box && box->isVisible())
            return box;
    }
    return nullptr;
}

} // namespace

std::shared_ptr<BoxSeen> AnswerNextPrompt(int waitMs)
{
    // How often a waiting answer looks for the box.
    constexpr int kLookMs = 10;
    auto seen = std::make_shared<BoxSeen>();
    auto* timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(waitMs > 0 ? kLookMs : 0);
    QObject::connect(timer, &QTimer::timeout, [seen, timer, deadline = QDeadlineTimer(waitMs)] {
        PromptBoxDialog* box = VisibleBox<PromptBoxDialog>();
        if (!box && !deadline.hasExpired())
            return;
        timer->stop();
        timer->deleteLater();
        if (!box)
            return;
        seen->shown = true;
        seen->size = box->size();
        if (auto* text = box->FindControl<QLabel>("msgText"))
            seen->text = text->text();
        QTest::mouseClick(box->FindControl<QPushButton>("msgConfirm"), Qt::LeftButton);
    });
    timer->start();
    return seen;
}

std::shared_ptr<BoxSeen> AnswerNextMessageBox()
{
    auto seen = std::make_shared<BoxSeen>();
    QTimer::singleShot(0, [seen] {
        QMessageBox* box = VisibleBox<QMessageBox>();
        if (!box)
            return;
        seen->shown = true;
        seen->text = box->text();
        seen->size = box->size();
        box->button(QMessageBox::Ok)->click();
    });
    return seen;
}

std::shared_ptr<BoxSeen> ChooseFolderInNextDialog(const QString& folder)
{
    auto seen = std::make_shared<BoxSeen>();
    QTimer::singleShot(0, [seen, folder] {
        QFileDialog* dialog = VisibleBox<QFileDialog>();
        if (!dialog)
            return;
        seen->shown = true;
        seen->text = dialog->windowTitle();
        // What a user types into the name field, then "Choose".
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        if (name)
            name->setText(folder);
        static_cast<QDialog*>(dialog)->accept(); // QFileDialog's own accept checks the folder
        if (dialog->isVisible()) // the dialog refused the folder: leave it
            dialog->reject();
    });
    return seen;
}

void MainWndTest::SetUp()
{
    SoundServerTest::SetUp();
    if (IsSkipped() || HasFatalFailure())
        return;
    env_ = std::make_unique<TestEnv>();
    // The window's instance socket goes into a private runtime folder of this test.
    const QString runtime = env_->MakeFolder("run");
    ::chmod(runtime.toLocal8Bit().constData(), 0700);
    if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
        savedRuntimeDir_ = old;
    ::setenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit().constData(), 1);
}

void MainWndTest::TearDown()
{
    if (window_)
        CloseWindow();
    delete window_; // only when it did not go away by itself
    if (savedRuntimeDir_)
        ::setenv("XDG_RUNTIME_DIR", savedRuntimeDir_->c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
    env_.reset();
    SoundServerTest::TearDown();
}

CMainWnd* MainWndTest::OpenWindow(CMainWnd::RecoverFunction recover)
{
    auto* window = new CMainWnd(std::move(recover));
    window_ = window;
    EXPECT_TRUE(window->Create(nullptr, QString::fromUtf8(CMainWnd::kWindowTitle)));
    window->CenterWindow();
    window->ShowWindow();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
    return window;
}

void MainWndTest::CloseWindow()
{
    if (!window_)
        return;
    Click("closebtn");
    EXPECT_TRUE(QTest::qWaitFor([this] { return window_.isNull(); }, kDeliveryTimeoutMs));
}

void MainWndTest::Click(const char* name)
{
    auto* button = Control<QAbstractButton>(name);
    ASSERT_NE(button, nullptr) << name;
    ASSERT_TRUE(button->isVisible()) << name << " is hidden";
    QTest::mouseClick(button, Qt::LeftButton);
}

QString MainWndTest::Config(const char* key)
{
    QString value;
    ReadConfigString(config::kSection, key, QString(), value, 1024);
    return value;
}

void MainWndTest::SetConfig(const char* key, const QString& value)
{
    ASSERT_TRUE(WriteConfigString(config::kSection, key, value));
}

void MainWndTest::UnloadModules(const std::string& module)
{
    std::string list;
    ASSERT_EQ(SoundServer::Pactl({"list", "short", "modules"}, &list), 0);
    std::istringstream lines(list);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        int index = -1;
        std::string name;
        if ((fields >> index >> name) && name == module) {
            EXPECT_TRUE(SoundServer::UnloadModule(index)) << module;
        }
    }
}
