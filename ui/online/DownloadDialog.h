#pragma once
// DownloadDialog ("升级下载", skin "download.xml"): downloads the new version's installer on a
// worker thread and shows its progress - "download-text" the percentage ("42%"),
// "download-slider" (a progress bar) the same as a value, "download-detail" bytes and speed -
// with one button, "cancel".
//
// When the package is complete and verified it is opened with the desktop's handler (a .deb
// opens the software installer, which asks the user) and the dialog ends with kResultInstalling;
// the caller tells the user and quits the program (ShowUpgradeOffer). A package the desktop
// cannot open ends with kResultNotOpened (it stays at PackagePath), a failed download with
// kResultFailed, a package that does not verify (digest, signature; see DownloadInstaller) with
// kResultUnverified, a cancelled one with kResultCancelled; the file is deleted in these three.
//
//   const int result = RunModalDialog<DownloadDialog>(mainWindow, info);
//
// The dialog stays until the download has ended: "cancel", Escape and the window manager's close
// only ask the worker to stop. The worker never touches the window: it hands progress and its end
// to the UI thread, where they are dropped once the window is gone; the destructor stops and
// joins it.
//
// Thread: UI thread.

#include "CWndShadow.h"
#include "InstallerDownload.h"
#include "UpgradeCheck.h"
#include "WindowImplBase.h"

#include <QPointer>

#include <atomic>
#include <thread>

class QAbstractButton;
class QLabel;
class QProgressBar;

class DownloadDialog : public WindowImplBase {
    Q_OBJECT
public:
    // ShowModal's results: cancelled (also a dialog that could not be built), the package handed
    // to the desktop (the program should quit), the download failed, no program opens the package,
    // the package is not the release offered.
    static constexpr int kResultCancelled = 0;
    static constexpr int kResultInstalling = 1;
    static constexpr int kResultFailed = 2;
    static constexpr int kResultNotOpened = 3;
    static constexpr int kResultUnverified = 4;

    DownloadDialog(QWidget* owner, const UpgradeInfo& info);
    ~DownloadDialog() override;

    QString GetWindowClassName() const override;
    QString GetSkinFile() override;
    void OnCreate() override;
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    void OnClose(int code, bool& handled) override;
    void OnFinalMessage() override;

    // The worker's reports, on the UI thread.
    void ShowPercent(int percent);
    void ShowTransferStats(int64_t received, int64_t total, double bytesPerSecond);
    void OnDownloadFinished(const DownloadResult& result);

    // Where the package of info is downloaded to.
    static QString PackagePath(const UpgradeInfo& info);
    // "1.2 MB / 2.4 MB  350.0 KB/s"
    static QString TransferStatsText(int64_t received, int64_t total, double bytesPerSecond);

private:
    QPointer<QWidget> owner_; // not owned
    UpgradeInfo info_;
    std::atomic<bool> cancelled_{false};
    bool finished_ = false; // the worker has reported its end (UI thread)
    std::thread worker_;
    CWndShadow shadow_;
    QAbstractButton* cancel_ = nullptr;
    QLabel* downloadText_ = nullptr;
    QProgressBar* downloadSlider_ = nullptr;
    QLabel* downloadDetail_ = nullptr;
};
