#include "MainWndTestSupport.h"

#include "ConfigStore.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <cstdlib>

void ChooseFolderInNextDialog(const QString& folder, const QString& start)
{
    QTimer::singleShot(0, [folder, start] {
        QFileDialog* dialog = VisibleWindow<QFileDialog>();
        if (!dialog)
            return;
        EXPECT_EQ(dialog->windowTitle(), QString::fromUtf8("选择保存目录"));
        EXPECT_EQ(dialog->directory().absolutePath(), start);
        if (!folder.isEmpty()) {
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(folder); // typed, then "Choose"
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog's own accept checks the folder
        }
        if (dialog->isVisible())
            dialog->reject();
    });
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
    CloseWindow();
    delete window_; // only when it did not go away by itself
    if (savedRuntimeDir_)
        ::setenv("XDG_RUNTIME_DIR", savedRuntimeDir_->c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
    env_.reset();
    SoundServerTest::TearDown();
}

void MainWndTest::OpenWindow(CMainWnd::RecoverFunction recover)
{
    window_ = new CMainWnd(std::move(recover));
    ASSERT_TRUE(window_->Create(nullptr, QString::fromUtf8(CMainWnd::kWindowTitle)));
    window_->CenterWindow();
    window_->ShowWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_));
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

QString Config(const char* key)
{
    QString value;
    ReadConfigString(config::kSection, key, QString(), value, 1024);
    return value;
}

void SetConfig(const char* key, const QString& value)
{
    ASSERT_TRUE(WriteConfigString(config::kSection, key, value));
}
