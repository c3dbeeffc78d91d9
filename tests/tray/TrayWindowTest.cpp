// The tray's task menu, the tray icon's look, the settings dialog, and the main window's close
// behaviour, on Qt's offscreen platform (which has no status area).

#include "CMainTaskMenu.h"
#include "ConfigStore.h"
#include "DesktopOpen.h"
#include "FileBytes.h"
#include "FolderPathField.h"
#include "MainWndTestSupport.h"
#include "SetingDialog.h"
#include "TrayIcon.h"
#include "WindowTestSupport.h"

#include <QAbstractButton>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QSystemTrayIcon>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

// The window the icon belongs to: hands the icon's callbacks back to it as the main window does,
// and records every other message posted to it.
class TrayOwner : public MessageRecorderWindow {
public:
    TrayOwner() : tray(*this) {}
    std::intptr_t HandleCustomMessage(unsigned msg, std::uintptr_t w, std::intptr_t lParam, bool& handled) override
    {
        if (msg != TrayIcon::kMsgTrayCallback)
            return MessageRecorderWindow::HandleCustomMessage(msg, w, lParam, handled);
        handled = tray.HandleCallback(lParam);
        return 0;
    }
    TrayIcon tray;
};

class TrayTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(owner_->Create(nullptr, "owner"));
        owner_->ShowWindow();
    }
    void TearDown() override { delete owner_.data(); }

    TestEnv env_;
    QPointer<TrayOwner> owner_ = new TrayOwner;
};

// The icon's clicks as the status area reports them (where the menu opens: PlaceMenu's table).
TEST_F(TrayTest, RightClickOpensTheMenuEachItemPostsItsMessageLeftClickBringsTheWindowBack)
{
    const std::pair<const char*, unsigned> rows[] = {
        {"main_menu_item_home", 1235}, {"main_menu_item_seting", 1237},  {"main_menu_item_feedback", 1238},
        {"main_menu_item_help", 1236}, {"main_menu_item_upgrade", 1239}, {"main_menu_item_quit", 1234},
        {"main_menu_item_schedule", 1240}, {nullptr, 0},
    };
    for (const auto& [item, message] : rows) {
        SCOPED_TRACE(item ? item : "Escape");
        emit owner_->tray.SystemTrayIcon()->activated(QSystemTrayIcon::Context);
        QPointer<CMainTaskMenu> menu;
        ASSERT_TRUE(QTest::qWaitFor([&] { return !(menu = VisibleWindow<CMainTaskMenu>()).isNull(); })) << "no menu";
        item ? QTest::mouseClick(menu->FindControl<QAbstractButton>(item), Qt::LeftButton) : QTest::keyClick(menu, Qt::Key_Escape);
        ASSERT_TRUE(QTest::qWaitFor([&] { return menu.isNull(); })) << "the menu stayed";
        QCoreApplication::sendPostedEvents(owner_);
        EXPECT_EQ(owner_->messages, message ? std::vector<unsigned>{message} : std::vector<unsigned>{});
        owner_->messages.clear();
    }
    owner_->hide();
    emit owner_->tray.SystemTrayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(QTest::qWaitFor([&] { return owner_->isVisible(); }));
}

TEST_F(TrayTest, IconAndTipShowTheRecordingState)
{
    QPixmap logo(64, 64);
    logo.fill(Qt::white);
    const std::pair<TrayState, const char*> rows[] = {{TrayState::kIdle, "TAMSU电脑录音软件"},
                                                      {TrayState::kRecording, "TAMSU电脑录音软件\n正在录音 01:02:05"},
                                                      {TrayState::kPaused, "TAMSU电脑录音软件\n暂停录音 01:02:05"}};
    QImage images[3];
    for (int i = 0; i < 3; ++i) {
        images[i] = TrayIcon::StateIcon(QIcon(logo), rows[i].first).pixmap(64, 64).toImage();
        EXPECT_EQ(TrayIcon::ToolTip(rows[i].first, 3725), QString::fromUtf8(rows[i].second));
    }
    EXPECT_NE(images[0], images[1]) << "recording looks idle";
    EXPECT_NE(images[1], images[2]) << "paused looks like recording";
}

TEST_F(TrayTest, SettingsStoreEachChangeAndRefuseWhatCannotBeKept)
{
    QStringList changes;
    SetingDialog* dialog = new SetingDialog(owner_, [&changes](const QString& folder) { changes << folder; }, false);
    ASSERT_TRUE(dialog->Create(owner_, QString()));
    dialog->ShowWindow();
    auto* outputDir = dialog->FindControl<QLineEdit>("output-dir");
    const QString defaultFolder = env_.Root() + "/home/Documents/" + QString::fromUtf8("TAMSU电脑录音");
    // The default folder shows and exists; nothing is stored by opening.
    EXPECT_EQ(FolderPathField::Folder(outputDir), defaultFolder);
    EXPECT_EQ(outputDir->toolTip(), defaultFolder);
    EXPECT_TRUE(QFileInfo(defaultFolder).isDir());
    EXPECT_TRUE(dialog->FindControl<QAbstractButton>("window-close-exit")->isChecked());
    EXPECT_EQ(ReadBytes(env_.ConfigFile().toStdString()).find("output-dir"), std::string::npos);

    // The close options write 1 and 0 as they become selected; voice activation as it is checked
    // and unchecked.
    const struct {
        const char* option;
        const char* key;
        const char* stored;
    } clicks[] = {{"window-close-tray", config::kWindowClose, "1"}, {"window-close-exit", config::kWindowClose, "0"},
                  {"voice-activation", config::kVoiceActivation, "1"}, {"voice-activation", config::kVoiceActivation, "0"}};
    for (const auto& [option, key, stored] : clicks) {
        QTest::mouseClick(dialog->FindControl<QAbstractButton>(option), Qt::LeftButton);
        EXPECT_EQ(Config(key), stored) << option;
    }

    // A folder nobody may write to: refused.
    BoxResponder boxes;
    ChooseFolderInNextDialog("/proc", defaultFolder);
    QTest::mouseClick(dialog->FindControl<QAbstractButton>("choose-dir"), Qt::LeftButton);
    EXPECT_EQ(boxes.texts, QStringList{QString::fromUtf8("该目录没有写入权限!")});
    EXPECT_EQ(FolderPathField::Folder(outputDir), defaultFolder);
    QString value;
    EXPECT_FALSE(ReadConfigString(config::kSection, config::kOutputDir, QString(), value, 260));

    // A writable folder: shown and stored (no probe left in it: the probe's own test).
    const QString chosen = env_.MakeFolder("chosen");
    ChooseFolderInNextDialog(chosen, defaultFolder);
    QTest::mouseClick(dialog->FindControl<QAbstractButton>("choose-dir"), Qt::LeftButton);
    EXPECT_EQ(FolderPathField::Folder(outputDir), chosen);
    EXPECT_EQ(changes, QStringList{chosen}) << "the window is not told";
    EXPECT_EQ(Config(config::kOutputDir), chosen);

    // "open-dir" opens the folder; without a program for it, and once it has gone, it says so.
    QTest::mouseClick(dialog->FindControl<QAbstractButton>("open-dir"), Qt::LeftButton);
    EXPECT_EQ(boxes.texts.last(), QString::fromUtf8(kNoProgramText));
    DesktopStandIn desktop;
    QTest::mouseClick(dialog->FindControl<QAbstractButton>("open-dir"), Qt::LeftButton);
    EXPECT_EQ(desktop.opened, std::vector<QUrl>{QUrl::fromLocalFile(chosen)});
    ASSERT_TRUE(QDir(chosen).removeRecursively());
    QTest::mouseClick(dialog->FindControl<QAbstractButton>("open-dir"), Qt::LeftButton);
    EXPECT_EQ(boxes.texts.last(), QString::fromUtf8(SetingDialog::kFolderMissingText));
    EXPECT_EQ(boxes.texts.size(), 3);
    EXPECT_EQ(desktop.opened.size(), 1u);
    dialog->Close(0);
}

// The main window's close button and quit, with the private sound server.
class CloseTest : public MainWndTest {};

TEST_F(CloseTest, WindowCloseTrayMinimisesAndQuitStillExitsWithACompleteFile)
{
    SetConfig("audio-format", "1"); // WAV: its sizes are written at the very end
    SetConfig("voice-source", "2");
    OpenWindow();

    // No status area here: the tray menu is the title bar's "main-menu". Its settings: the tray
    // option, then the dialog closed at once.
    WhenShown<SetingDialog>([](SetingDialog* settings) { // inside the dialog's modal loop
        QTest::mouseClick(settings->FindControl<QAbstractButton>("window-close-tray"), Qt::LeftButton);
        QTest::mouseClick(settings->FindControl<QAbstractButton>("closebtn"), Qt::LeftButton);
    });
    const QString folder = env_->MakeFolder("elsewhere"); // as if chosen in the dialog
    SetConfig("output-dir", folder);
    Click("main-menu");
    WhenShown<CMainTaskMenu>([](CMainTaskMenu* menu) {
        QTest::mouseClick(menu->FindControl<QAbstractButton>("main_menu_item_seting"), Qt::LeftButton);
    });
    ASSERT_TRUE(QTest::qWaitFor([] { return VisibleWindow<SetingDialog>() == nullptr && Config("window-close") == "1"; },
                                kDeliveryTimeoutMs));
    EXPECT_EQ(FolderPathField::Folder(Control<QLineEdit>("save-path-eidt")), folder) << "the window shows an old folder";

    Click("recorder-start");
    ASSERT_NE(window_->Recorder(), nullptr);
    const QString path = window_->CurrentFolder() + "/" + window_->CurrentFileName();
    // The close button and the desktop's own close: no status area here, so the task bar.
    Click("closebtn");
    ASSERT_TRUE(QTest::qWaitFor([this] { return window_->isMinimized(); }, kDeliveryTimeoutMs));
    window_->showNormal();
    SetConfig("window-close", "2");
    window_->close();
    ASSERT_TRUE(QTest::qWaitFor([this] { return window_->isMinimized(); }, kDeliveryTimeoutMs));
    ASSERT_FALSE(window_.isNull());
    EXPECT_NE(window_->Recorder(), nullptr) << "closing to the task bar stopped the recording";
    // Some sound written before the quit, so that the header's sizes count.
    ASSERT_TRUE(QTest::qWaitFor([&path] { return QFileInfo(path).size() > 44; }, kDeliveryTimeoutMs));

    window_->PostMessage(CMainWnd::kMsgQuit);
    ASSERT_TRUE(QTest::qWaitFor([this] { return window_.isNull(); }, kDeliveryTimeoutMs));
    EXPECT_GT(ExpectWavSizesMatchFile(path.toStdString()), 0u) << "the file was not finished";
}

} // namespace
