#include "UpgradeOffer.h"

#include "DownloadDialog.h"
#include "MessageBoxDialog.h"
#include "PromptBoxDialog.h"

#include <QCoreApplication>
#include <QWidget>

namespace {

constexpr const char* kNoNewVersionText = "没有发现新版本!";
constexpr const char* kNewVersionText = "发现新版本啦!";

bool g_offerOpen = false; // UI thread only

} // namespace

bool UpgradeOfferOpen()
{
    return g_offerOpen;
}

void ShowUpgradeOffer(QWidget* mainWindow, const UpgradeInfo& info)
{
    if (g_offerOpen)
        return;
    g_offerOpen = true;
    const QString text = QString::fromUtf8(kNewVersionText);
    const bool go = info.forced != 0 ? (PromptBoxDialog::Show(mainWindow, text, 200, 100), true)
                                     : MessageBoxDialog::Show(mainWindow, text) != 0;
    if (go)
        RunModalDialog<DownloadDialog>(mainWindow, info);
    g_offerOpen = false;
}

int RunUpgradeCheck(QPointer<QWidget> mainWindow, bool interactive)
{
    UpgradeInfo info;
    const UpgradeCheckResult result = CheckForUpgrade(info);
    if (!interactive) {
        if (result == UpgradeCheckResult::kNewer) {
            QMetaObject::invokeMethod(
                qApp,
                [mainWindow, info] {
                    if (mainWindow)
                        ShowUpgradeOffer(mainWindow.data(), info);
                },
                Qt::QueuedConnection);
        }
        return result == UpgradeCheckResult::kPostFailed ? -1 : 0;
    }
    switch (result) {
    case UpgradeCheckResult::kPostFailed: return -1;
    case UpgradeCheckResult::kNoAnswer: break;
    case UpgradeCheckResult::kNotNewer:
        if (mainWindow)
            PromptBoxDialog::Show(mainWindow.data(), QString::fromUtf8(kNoNewVersionText), 200, 100);
        break;
    case UpgradeCheckResult::kNewer:
        if (mainWindow)
            ShowUpgradeOffer(mainWindow.data(), info);
        break;
    }
    return 0;
}
