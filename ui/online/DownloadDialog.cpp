#include "DownloadDialog.h"

#include "ByteSizeText.h"
#include "ConfigStore.h"
#include "MessageBoxDialog.h"
#include "WindowError.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QUrl>

#include <glog/logging.h>

namespace {

// Where installers are downloaded to, under the per-user data folder.
constexpr const char* kDownloadSubfolder = "TamsuCompress/Temp";

// Hands the download's reports to the dialog on the UI thread; a report for a dialog that is
// gone is dropped.
class DialogObserver : public DownloadObserver {
public:
    DialogObserver(QPointer<DownloadDialog> dialog, const std::atomic<bool>& cancelled)
        : dialog_(dialog)
        , cancelled_(cancelled)
    {
    }

    bool Cancelled() override { return cancelled_.load(); }
    void OnPercent(int percent) override
    {
        Post([percent](DownloadDialog* d) { d->ShowPercent(percent); });
    }
    void OnTransferStats(int64_t received, int64_t total, double bytesPerSecond) override
    {
        Post([=](DownloadDialog* d) { d->ShowTransferStats(received, total, bytesPerSecond); });
    }
    template <class Call>
    void Post(Call call)
    {
        QMetaObject::invokeMethod(
            qApp,
            [dialog = dialog_, call] {
                if (dialog)
                    call(dialog.data());
            },
            Qt::QueuedConnection);
    }

private:
    QPointer<DownloadDialog> dialog_;
    const std::atomic<bool>& cancelled_; // the dialog's; it joins this thread before it goes
};

QString Amount(double bytes)
{
    return FormatByteSize(static_cast<int64_t>(bytes));
}

} // namespace

DownloadDialog::DownloadDialog(QWidget* owner, const UpgradeInfo& info)
    : owner_(owner)
    , info_(info)
{
}

DownloadDialog::~DownloadDialog()
{
    cancelled_ = true;
    if (worker_.joinable())
        worker_.join();
}

QString DownloadDialog::GetWindowClassName() const
{
    return QStringLiteral("升级下载");
}

QString DownloadDialog::GetSkinFile()
{
    return GuardWindowOperation("DownloadDialog::GetSkinFile", [] { return QStringLiteral("download.xml"); });
}

void DownloadDialog::OnCreate()
{
    WindowImplBase::OnCreate();
    AttachBoxShadow(shadow_, this);
}

void DownloadDialog::InitWindow()
{
    GuardWindowOperation("DownloadDialog::Init", [this] {
        cancel_ = FindControl<QAbstractButton>("cancel");
        downloadText_ = FindControl<QLabel>("download-text");
        downloadSlider_ = FindControl<QProgressBar>("download-slider");
        downloadDetail_ = FindControl<QLabel>("download-detail");
        if (downloadSlider_)
            downloadSlider_->setRange(0, 100);
        ShowPercent(0);

        DownloadRequest request;
        request.url = info_.downloadUrl;
        request.folder = QFile::encodeName(GetAppDataSubfolder(kDownloadSubfolder)).toStdString();
        request.sha256 = info_.sha256;
        request.expectedSize = info_.size;
        request.version = info_.versionText;
        request.signature = info_.signature;
        request.publicKey = BuiltInReleaseKey();
        worker_ = std::thread([self = QPointer<DownloadDialog>(this), &cancelled = cancelled_, request] {
            // Download worker: one per dialog. Owns the transfer and the target file; shares the
            // dialog's atomic cancelled flag (the dialog joins this thread before it goes) and
            // reaches the dialog only through queued calls on the UI thread.
            DialogObserver observer(self, cancelled);
            const DownloadResult result = DownloadInstaller(request, observer);
            observer.Post([result](DownloadDialog* d) { d->OnDownloadFinished(result); });
        });
    });
}

void DownloadDialog::Notify(TNotifyUI& msg)
{
    if (msg.type == QLatin1String(kNotifyClick) && msg.senderName == QLatin1String("cancel")) {
        cancelled_ = true;
        if (cancel_)
            cancel_->setEnabled(false);
    }
    WindowImplBase::Notify(msg);
}

void DownloadDialog::OnClose(int code, bool& handled)
{
    if (!finished_) {
        cancelled_ = true; // the worker ends the dialog once it has stopped
        handled = true;
    }
}

void DownloadDialog::OnFinalMessage()
{
    GuardWindowOperation("DownloadDialog::OnFinalMessage", [this] { WindowImplBase::OnFinalMessage(); });
}

void DownloadDialog::ShowPercent(int percent)
{
    if (downloadText_)
        downloadText_->setText(QString::asprintf("%d%%", percent));
    if (downloadSlider_)
        downloadSlider_->setValue(percent);
}

void DownloadDialog::ShowTransferStats(int64_t received, int64_t total, double bytesPerSecond)
{
    if (downloadDetail_)
        downloadDetail_->setText(TransferStatsText(received, total, bytesPerSecond));
}

QString DownloadDialog::PackagePath(const UpgradeInfo& info)
{
    return GetAppDataSubfolder(kDownloadSubfolder) + "/" + QFile::decodeName(InstallerFileName(info.downloadUrl).c_str());
}

QString DownloadDialog::TransferStatsText(int64_t received, int64_t total, double bytesPerSecond)
{
    return Amount(static_cast<double>(received)) + " / " + Amount(static_cast<double>(total)) + "  " +
           Amount(bytesPerSecond) + "/s";
}

void DownloadDialog::OnDownloadFinished(const DownloadResult& result)
{
    finished_ = true;
    if (worker_.joinable())
        worker_.join(); // it has posted this as its last act
    switch (result.outcome) {
    case DownloadOutcome::kComplete:
        if (QDesktopServices::openUrl(QUrl::fromLocalFile(QFile::decodeName(result.filePath.c_str())))) {
            Close(kResultInstalling);
            return;
        }
        LOG(ERROR) << "升级失败";
        Close(kResultNotOpened);
        return;
    case DownloadOutcome::kCancelled:
        Close(kResultCancelled);
        return;
    case DownloadOutcome::kFailed:
        LOG(ERROR) << "installer download failed: " << result.error;
        break;
    case DownloadOutcome::kUnverified:
        LOG(ERROR) << "installer refused: " << result.error;
        Close(kResultUnverified);
        return;
    }
    Close(kResultFailed);
}
