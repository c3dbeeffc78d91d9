#include "UpgradeOffer.h"

#include "BackgroundCall.h"
#include "DownloadDialog.h"
#include "MessageBoxDialog.h"
#include "PromptBoxDialog.h"
#include "WindowImplBase.h"

#include <QCoreApplication>
#include <QWidget>

namespace {

constexpr const char* kNoNewVersionText = "没有发现新版本!";
constexpr const char* kNetworkErrorText = "网络错误!";
constexpr const char* kNewVersionText = "发现新版本啦!";
constexpr const char* kInstallingText = "安装程序已打开,本程序将退出以完成升级。";
constexpr const char* kDownloadFailedText = "新版本下载失败,请稍后再试!";
constexpr const char* kUnverifiedText = "安装包校验失败";
constexpr const char* kForcedQuitText = "此版本必须升级后才能使用,本程序将退出。";
constexpr const char* kNotOpenedText = "没有可以打开安装包的程序,安装包已保存在:\n";
// The boxes that name a version or say that the program quits need two lines' room.
constexpr int kPromptWidth = 200;
constexpr int kLongPromptWidth = 300;
constexpr int kPromptHeight = 100;
constexpr int kLongPromptHeight = 120;
// A box that names the package's path.
constexpr int kPathPromptWidth = 440;
constexpr int kPathPromptHeight = 150;
// The owner's message that quits the program the normal way (the main window's 1234): a running
// recording is finished first.
constexpr unsigned kQuitMessage = 1234;

bool g_offerOpen = false;    // UI thread only
bool g_checkRunning = false; // UI thread only

QString VersionText(const VersionNumber& v)
{
    return QString::asprintf("%d.%d.%d", v.major, v.minor, v.revision);
}

void QuitProgram(QWidget* mainWindow)
{
    if (auto* window = qobject_cast<WindowImplBase*>(mainWindow))
        window->PostMessage(kQuitMessage);
    else
        QCoreApplication::quit();
}

} // namespace

bool UpgradeOfferOpen()
{
    return g_offerOpen;
}

bool UpgradeCheckRunning()
{
    return g_checkRunning;
}

QString UpgradeOfferText(const UpgradeInfo& info)
{
    return QString::fromUtf8(kNewVersionText) + QStringLiteral("\n新版本 %1,当前版本 %2")
                                                     .arg(VersionText(info.version), QString::fromUtf8(kProgramVersion));
}

void ShowUpgradeOffer(QWidget* mainWindow, const UpgradeInfo& info)
{
    if (g_offerOpen)
        return;
    g_offerOpen = true;
    const QPointer<QWidget> window(mainWindow);
    const QString text = UpgradeOfferText(info);
    const bool go = info.forced != 0 ? (PromptBoxDialog::Show(mainWindow, text, kLongPromptWidth, kLongPromptHeight), true)
                                     : MessageBoxDialog::Show(mainWindow, text) != 0;
    int result = DownloadDialog::kResultCancelled;
    if (go && window)
        result = RunModalDialog<DownloadDialog>(window.data(), info);
    g_offerOpen = false;
    QString outcome;
    bool quit = false;
    switch (result) {
    case DownloadDialog::kResultInstalling: outcome = QString::fromUtf8(kInstallingText); quit = true; break;
    case DownloadDialog::kResultFailed: outcome = QString::fromUtf8(kDownloadFailedText); break;
    case DownloadDialog::kResultUnverified: outcome = QString::fromUtf8(kUnverifiedText); break;
    case DownloadDialog::kResultNotOpened:
        outcome = QString::fromUtf8(kNotOpenedText) + DownloadDialog::PackagePath(info);
        break;
    case DownloadDialog::kResultCancelled:
        quit = go && info.forced != 0;
        outcome = quit ? QString::fromUtf8(kForcedQuitText) : QString();
        break;
    }
    if (!window)
        return;
    const bool path = result == DownloadDialog::kResultNotOpened;
    if (!outcome.isEmpty())
        PromptBoxDialog::Show(window.data(), outcome, path ? kPathPromptWidth : kLongPromptWidth,
                              path ? kPathPromptHeight : kLongPromptHeight);
    if (quit && window)
        QuitProgram(window.data());
}

int RunUpgradeCheck(QPointer<QWidget> mainWindow)
{
    UpgradeInfo info;
    const UpgradeCheckResult result = CheckForUpgrade(info);
    if (result == UpgradeCheckResult::kNewer) {
        PostToUiThread([mainWindow, info] {
            if (mainWindow)
                ShowUpgradeOffer(mainWindow.data(), info);
        });
    }
    return result == UpgradeCheckResult::kPostFailed ? -1 : 0;
}

void StartUpgradeCheck(QWidget* mainWindow)
{
    if (g_checkRunning)
        return;
    g_checkRunning = true;
    RunInBackground(
        qApp,
        [] {
            std::pair<UpgradeCheckResult, UpgradeInfo> answer;
            answer.first = CheckForUpgrade(answer.second);
            return answer;
        },
        [window = QPointer<QWidget>(mainWindow)](const std::pair<UpgradeCheckResult, UpgradeInfo>& answer) {
            g_checkRunning = false;
            if (!ReceiverAlive(window))
                return;
            switch (answer.first) {
            case UpgradeCheckResult::kPostFailed:
            case UpgradeCheckResult::kNoAnswer:
                PromptBoxDialog::Show(window.data(), QString::fromUtf8(kNetworkErrorText), kPromptWidth, kPromptHeight);
                break;
            case UpgradeCheckResult::kNotNewer:
                PromptBoxDialog::Show(window.data(), QString::fromUtf8(kNoNewVersionText), kPromptWidth, kPromptHeight);
                break;
            case UpgradeCheckResult::kNewer: ShowUpgradeOffer(window.data(), answer.second); break;
            }
        });
}
