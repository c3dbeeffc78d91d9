#pragma once
// DownloadDialog ("升级下载", skin "download.xml"): downloads the new version's installer on a
// worker thread and shows its progress - "download-text" the percentage ("42%"),
// "download-slider" the same as a value, "download-detail" bytes and speed - with one button,
// "cancel".
//
// When the package is complete and verified it is opened with the desktop's handler (a .deb
// opens the software installer, which asks the user), and the program then quits through the
// owner's normal quit message (a running recording is finished first). A failed download closes
// the dialog and the program goes on; a cancelled one too, unless the upgrade is forced: then the
// program quits the same way.
//
//   RunModalDialog<DownloadDialog>(mainWindow, info);
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
class QSlider;

class DownloadDialog : public WindowImplBase {
    Q_OBJECT
public:
    // The owner's message that quits the program the normal way (the main window's 1234).
    static constexpr unsigned kQuitMessage = 1234;
    // ShowModal's result when the package was handed to the desktop and the program quits.
    static constexpr int kResultInstalling = 1;

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

    // "1.2 MB / 2.4 MB  350.0 KB/s"
    static QString TransferStatsText(int64_t received, int64_t total, double bytesPerSecond);

private:
    void QuitProgram();

    QPointer<QWidget> owner_; // not owned
    UpgradeInfo info_;
    std::atomic<bool> cancelled_{false};
    bool finished_ = false; // the worker has reported its end (UI thread)
    std::thread worker_;
    CWndShadow shadow_;
    QAbstractButton* cancel_ = nullptr;
    QLabel* downloadText_ = nullptr;
    QSlider* downloadSlider_ = nullptr;
    QLabel* downloadDetail_ = nullptr;
};
