// The tray icon in a real status area: a private X server (Xvfb) with trayer, a panel that hosts
// XEmbed tray icons. The icon must show there, its right click must open the task menu and its
// left click must bring the window back. Skips when Xvfb or trayer is missing.

#include "CMainTaskMenu.h"
#include "SkinResources.h"
#include "TrayIcon.h"
#include "WindowImplBase.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>

#include <glog/logging.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// How long the panel may take to start and to dock the icon on a loaded machine.
constexpr int kDockTimeoutMs = 15000;

bool g_hostRunning = false;

// Starts program with args; its process id, or -1.
pid_t Spawn(const std::string& program, const std::vector<std::string>& args, int keepFd = -1)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const int devNull = ::open("/dev/null", O_RDWR);
    ::dup2(devNull, STDOUT_FILENO);
    ::dup2(devNull, STDERR_FILENO);
    for (int fd = 3; fd < 256; ++fd)
        if (fd != keepFd)
            ::close(fd);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

// The X server and the panel, for the whole test program.
class StatusAreaHost {
public:
    // Starts both when both programs exist; sets DISPLAY for the application to come.
    void Start()
    {
        const QString xvfb = QStandardPaths::findExecutable("Xvfb");
        const QString trayer = QStandardPaths::findExecutable("trayer");
        if (xvfb.isEmpty() || trayer.isEmpty())
            return;
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return;
        // -displayfd: the server picks a free display and writes its number when it accepts clients.
        xvfb_ = Spawn(xvfb.toStdString(),
                      {"-displayfd", std::to_string(pipeFds[1]), "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
                      pipeFds[1]);
        ::close(pipeFds[1]);
        std::string number;
        char c = 0;
        while (::read(pipeFds[0], &c, 1) == 1 && c != '\n')
            number += c;
        ::close(pipeFds[0]);
        if (number.empty())
            return;
        ::setenv("DISPLAY", (":" + number).c_str(), 1);
        trayer_ = Spawn(trayer.toStdString(), {"--edge", "bottom", "--align", "right", "--widthtype", "request",
                                              "--height", "32", "--transparent", "false", "--SetDockType", "true"});
        g_hostRunning = trayer_ > 0;
    }
    ~StatusAreaHost()
    {
        for (pid_t pid : {trayer_, xvfb_}) {
            if (pid > 0) {
                ::kill(pid, SIGTERM);
                ::waitpid(pid, nullptr, 0);
            }
        }
    }

private:
    pid_t xvfb_ = -1;
    pid_t trayer_ = -1;
};

// The window the tray icon belongs to: hands the tray's callbacks back to it, as the main window does.
class TrayOwner : public WindowImplBase {
public:
    TrayOwner() : tray(*this) {}
    QString GetWindowClassName() const override { return "TrayOwner"; }
    QString GetSkinFile() override { return "PromptBox.xml"; }
    std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t, std::intptr_t lParam, bool& handled) override
    {
        if (msg == TrayIcon::kMsgTrayCallback)
            handled = tray.HandleCallback(lParam);
        return 0;
    }
    TrayIcon tray;
};

// The tray icon's own window (Qt's XEmbed client), once it exists.
QWidget* TrayIconWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (QString(w->metaObject()->className()) == "QSystemTrayIconSys")
            return w;
    return nullptr;
}

void ClickIcon(Qt::MouseButton button)
{
    QWidget* icon = TrayIconWindow();
    QTest::mousePress(icon, button, {}, icon->rect().center());
    QTest::mouseRelease(icon, button, {}, icon->rect().center());
}

TEST(TrayHostTest, IconShowsInTheStatusAreaAndItsClicksReachTheWindow)
{
    if (!g_hostRunning)
        GTEST_SKIP() << "Xvfb or trayer is not installed";
    QPointer<TrayOwner> owner = new TrayOwner;
    ASSERT_TRUE(owner->Create(nullptr, "owner"));
    QPixmap logo(32, 32);
    logo.fill(QColor(0x3A, 0x7B, 0xD5));
    owner->tray.Add(QIcon(logo));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        // Docked: the panel at the screen's bottom right has placed it.
        const QRect icon = owner->tray.SystemTrayIcon()->geometry();
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        return owner->tray.Shown() && TrayIconWindow() && TrayIconWindow()->isVisible() &&
               icon.bottom() > screen.height() - 40 && icon.right() > screen.width() - 40;
    }, kDockTimeoutMs)) << "the icon did not appear in the status area";
    QCursor::setPos(owner->tray.SystemTrayIcon()->geometry().center()); // the menu opens at the cursor

    // Right click: the task menu (where it goes is PlaceMenu's).
    ClickIcon(Qt::RightButton);
    QPointer<CMainTaskMenu> menu;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* m = qobject_cast<CMainTaskMenu*>(w); m && m->isVisible())
                menu = m;
        return !menu.isNull();
    }, kDockTimeoutMs)) << "no menu";
    QTest::keyClick(menu, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return menu.isNull(); }));

    // Left click: the hidden window comes back.
    EXPECT_FALSE(owner->isVisible());
    ClickIcon(Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return owner->isVisible(); }, kDockTimeoutMs));
    delete owner.data();
}

} // namespace

int main(int argc, char** argv)
{
    google::InitGoogleLogging(argv[0]);
    FLAGS_logtostderr = true;
    testing::InitGoogleTest(&argc, argv);
    StatusAreaHost host;
    host.Start();
    if (g_hostRunning) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS"); // the icon goes to the XEmbed panel, not a D-Bus watcher
    }
    int result = 0;
    {
        QApplication app(argc, argv);
        LoadSkinResources(FindSkinFolder());
        result = RUN_ALL_TESTS();
    }
    return result;
}
