#include "SetingDialog.h"

#include "ConfigStore.h"
#include "Folders.h"
#include "OutputFolderChoice.h"
#include "WindowError.h"

#include <QAbstractButton>
#include <QDesktopServices>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QUrl>

#include <glog/logging.h>

SetingDialog::SetingDialog(QWidget* mainWindow)
    : mainWindow_(mainWindow)
{
}

SetingDialog::~SetingDialog() = default;

void SetingDialog::Show(QWidget* mainWindow)
{
    RunModalDialog<SetingDialog>(mainWindow);
}

QString SetingDialog::GetWindowClassName() const
{
    return QString::fromUtf8("系统设置");
}

QString SetingDialog::GetSkinFile()
{
    return GuardWindowOperation("SetingDialog::GetSkinFile", [] { return QStringLiteral("Seting.xml"); });
}

void SetingDialog::InitWindow()
{
    GuardWindowOperation("SetingDialog::Init", [this] {
        outputDir_ = FindControl<QLineEdit>("output-dir");
        chooseDir_ = FindControl<QAbstractButton>("choose-dir");
        openDir_ = FindControl<QAbstractButton>("open-dir");
        closeExit_ = FindControl<QAbstractButton>("window-close-exit");
        closeTray_ = FindControl<QAbstractButton>("window-close-tray");
        ShowFolder(GetOutputFolder());
        const bool toTray = ReadConfigInt(config::kSection, config::kWindowClose, 0) != 0;
        if (QAbstractButton* selected = toTray ? closeTray_ : closeExit_)
            selected->setChecked(true);
    });
}

void SetingDialog::Notify(TNotifyUI& msg)
{
    if (msg.type == QLatin1String(kNotifyClick)) {
        if (msg.senderName == QLatin1String("choose-dir"))
            ChooseFolder();
        else if (msg.senderName == QLatin1String("open-dir"))
            OpenFolder();
    } else if (msg.type == QLatin1String(kNotifySelectChanged) && msg.wParam == 1) {
        // Only the option that became selected writes; the one that lost the selection does not.
        if (msg.senderName == QLatin1String("window-close-exit"))
            WriteConfigString(config::kSection, config::kWindowClose, QStringLiteral("0"));
        else if (msg.senderName == QLatin1String("window-close-tray"))
            WriteConfigString(config::kSection, config::kWindowClose, QStringLiteral("1"));
    }
    WindowImplBase::Notify(msg);
}

void SetingDialog::OnFinalMessage()
{
    GuardWindowOperation("SetingDialog::OnFinalMessage", [this] { WindowImplBase::OnFinalMessage(); });
}

void SetingDialog::ChooseFolder()
{
    const QString folder = PickOutputFolder(this, outputDir_ ? outputDir_->text() : QString());
    if (folder.isEmpty())
        return;
    if (AcceptOutputFolder(this, folder))
        ShowFolder(folder);
}

void SetingDialog::OpenFolder()
{
    const QString folder = outputDir_ ? outputDir_->text() : QString();
    if (!QFileInfo(folder).isDir()) {
        LOG(ERROR) << "settings: \"" << folder.toStdString() << "\" is no folder; not opened";
        QMessageBox box(QMessageBox::NoIcon, QString(), QString::fromUtf8(kFolderMissingText), QMessageBox::Ok, this);
        box.exec();
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        LOG(ERROR) << "settings: cannot open folder \"" << folder.toStdString() << "\"";
}

void SetingDialog::ShowFolder(const QString& folder)
{
    if (!outputDir_)
        return;
    outputDir_->setText(folder);
    outputDir_->setCursorPosition(0); // a long path shows its beginning, the tip all of it
    outputDir_->setToolTip(folder);
}
