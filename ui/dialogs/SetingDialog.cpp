#include "SetingDialog.h"

#include "ConfigStore.h"
#include "DesktopOpen.h"
#include "FolderPathField.h"
#include "Folders.h"
#include "OutputFolderChoice.h"
#include "PromptBoxDialog.h"
#include "ScheduleDialog.h"
#include "WindowError.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QUrl>

#include <glog/logging.h>

SetingDialog::SetingDialog(QWidget* mainWindow, FolderChanged folderChanged, bool recording, QString shortcutKeys)
    : mainWindow_(mainWindow)
    , folderChanged_(std::move(folderChanged))
    , recording_(recording)
    , shortcutKeys_(std::move(shortcutKeys))
{
}

SetingDialog::~SetingDialog() = default;

void SetingDialog::Show(QWidget* mainWindow, FolderChanged folderChanged, bool recording, const QString& shortcutKeys)
{
    RunModalDialog<SetingDialog>(mainWindow, std::move(folderChanged), recording, shortcutKeys);
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
        voiceActivation_ = FindControl<QAbstractButton>("voice-activation");
        ShowFolder(GetOutputFolder());
        if (recording_ && chooseDir_) {
            chooseDir_->setEnabled(false);
            chooseDir_->setToolTip(QString::fromUtf8(kRecordingTip));
        }
        const bool toTray = ReadConfigInt(config::kSection, config::kWindowClose, 0) != 0;
        if (QAbstractButton* selected = toTray ? closeTray_ : closeExit_)
            selected->setChecked(true);
        if (voiceActivation_)
            voiceActivation_->setChecked(ReadConfigInt(config::kSection, config::kVoiceActivation, 0) != 0);
        if (auto* keys = FindControl<QLabel>("shortcut-keys"))
            keys->setText(!shortcutKeys_.isEmpty() ? shortcutKeys_
                                                   : QString::fromUtf8(kBindCommandText).arg(QLatin1String(kToggleCommand)));
        if (auto* copy = FindControl<QAbstractButton>("copy-command"))
            copy->setVisible(shortcutKeys_.isEmpty());
    });
}

void SetingDialog::Notify(TNotifyUI& msg)
{
    if (msg.type == QLatin1String(kNotifyClick)) {
        if (msg.senderName == QLatin1String("choose-dir"))
            ChooseFolder();
        else if (msg.senderName == QLatin1String("open-dir"))
            OpenFolder();
        else if (msg.senderName == QLatin1String("schedule"))
            ScheduleDialog::Show(this);
        else if (msg.senderName == QLatin1String("copy-command"))
            QGuiApplication::clipboard()->setText(QLatin1String(kToggleCommand));
    } else if (msg.type == QLatin1String(kNotifySelectChanged) && msg.senderName == QLatin1String("voice-activation")) {
        WriteConfigString(config::kSection, config::kVoiceActivation, msg.wParam ? QStringLiteral("1") : QStringLiteral("0"));
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
    const QString folder = PickOutputFolder(this, FolderPathField::Folder(outputDir_));
    if (folder.isEmpty())
        return;
    if (!AcceptOutputFolder(this, folder))
        return;
    ShowFolder(folder);
    if (folderChanged_)
        folderChanged_(folder);
}

void SetingDialog::OpenFolder()
{
    const QString folder = FolderPathField::Folder(outputDir_);
    if (!QFileInfo(folder).isDir()) {
        LOG(ERROR) << "settings: \"" << folder.toStdString() << "\" is no folder; not opened";
        PromptBoxDialog::Show(this, QString::fromUtf8(kFolderMissingText), kPromptWidth, kPromptHeight);
        return;
    }
    OpenWithDesktop(this, QUrl::fromLocalFile(folder));
}

void SetingDialog::ShowFolder(const QString& folder)
{
    FolderPathField::Show(outputDir_, folder);
}
