// The feedback dialog, the upgrade offer and the download dialog, driven through their named
// controls against local servers. With TAMSU_SCREENSHOT_DIR set, the offer, the download at
// half, and the feedback dialog with a tip are saved there as pictures.

#include "DownloadDialog.h"
#include "CurrentAccount.h"
#include "FeedbackDialog.h"
#include "LocalServer.h"
#include "MessageBoxDialog.h"
#include "PromptBoxDialog.h"
#include "TestEnv.h"
#include "UpgradeOffer.h"
#include "WindowTestSupport.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <thread>

namespace {

// The whole screen (under X11) with window on it.
void SaveScreenshot(QWidget* window, const char* name)
{
    if (const char* dir = std::getenv("TAMSU_SCREENSHOT_DIR")) {
        QTest::qWait(100); // let the window manager-less X server paint it
        window->screen()->grabWindow(0).save(QString::fromUtf8(dir) + "/" + name + ".png");
    }
}

// Answers the next box of class Box with button; its text lands in seen.
template <class Box>
void Answer(const char* button, QString* seen, const char* screenshot = nullptr)
{
    WhenShown<Box>([=](Box* box) {
        *seen = box->template FindControl<QLabel>("msgText")->text();
        if (screenshot)
            SaveScreenshot(box, screenshot);
        QTest::mouseClick(box->template FindControl<QPushButton>(button), Qt::LeftButton);
    });
}

class OnlineDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        owner_ = new MessageRecorderWindow;
        ASSERT_TRUE(owner_->Create(nullptr, "owner"));
        owner_->ResizeClient(640, 420);
        owner_->ShowWindow();
        server_.Http().Post("/v1/feedback", [this](const httplib::Request& req, httplib::Response& r) {
            feedbackBodies_.push_back(req.body);
            r.status = feedbackStatus_;
            r.set_content(feedbackReply_, "application/json");
        });
        server_.Http().Post("/v1/upgrade_check", [this](const httplib::Request&, httplib::Response& r) {
            r.set_content(R"({"ret":0,"data":{"app_version":")" + releaseVersion_ +
                              R"(","download_url":")" + server_.Url("/files/tamsu-recorder_1.5.0_amd64.deb") +
                              R"(","force_upgrade":0}})",
                          "application/json");
        });
        server_.Http().Get("/files/(.*)", [this](const httplib::Request& req, httplib::Response& r) {
            if (req.matches[1] == "missing") {
                r.status = 404;
                return;
            }
            r.set_content_provider(2048, "application/octet-stream", [this](size_t offset, size_t, httplib::DataSink& sink) {
                if (offset >= 1024) { // the second half waits while the test holds it
                    std::unique_lock<std::mutex> lock(holdLock_);
                    holdSignal_.wait(lock, [this] { return !holdHalf_; });
                }
                sink.write(std::string(1024, 'i').data(), 1024);
                return true;
            });
        });
        server_.Start();
        setenv("TAMSU_SERVICE_URL", server_.Url("").c_str(), 1);
    }
    void TearDown() override
    {
        ReleaseHalf();
        ClearCurrentAccountPhone();
        unsetenv("TAMSU_SERVICE_URL");
        delete owner_.data();
    }
    void ReleaseHalf()
    {
        {
            std::lock_guard<std::mutex> lock(holdLock_);
            holdHalf_ = false;
        }
        holdSignal_.notify_all();
    }
    UpgradeInfo Release(const std::string& file, int forced) const
    {
        UpgradeInfo info;
        info.downloadUrl = server_.Url("/files/" + file);
        info.forced = forced;
        return info;
    }

    TestEnv env_;
    DesktopStandIn desktop_;
    QPointer<MessageRecorderWindow> owner_;
    LocalHttpServer server_;
    std::vector<std::string> feedbackBodies_;
    int feedbackStatus_ = 200;
    std::string feedbackReply_ = R"({"ret":0})";
    std::string releaseVersion_ = "1.5.0";
    std::mutex holdLock_;
    std::condition_variable holdSignal_;
    bool holdHalf_ = false; // under holdLock_
};

} // namespace

TEST_F(OnlineDialogTest, FeedbackChecksKeepTheTextAndSubmissionsEndInAPrompt)
{
    struct Case {
        const char* content;
        const char* contact;
        bool signedIn;
        int status;
        const char* reply;
        const char* tip;    // shown in the dialog, or nullptr
        const char* prompt; // shown after a submission, or nullptr
    };
    const Case cases[] = {
        {"", "", true, 200, "", FeedbackDialog::kContentEmptyText, nullptr},
        {"  ", "13800138000", true, 200, "", FeedbackDialog::kContentEmptyText, nullptr},
        {"没有声音", "", true, 200, "", FeedbackDialog::kContactEmptyText, nullptr},
        {"没有声音", "13800138000", false, 200, "", FeedbackDialog::kSignedOutText, nullptr},
        {"没有声音", "13800138000", true, 200, R"({"ret":0})", nullptr, FeedbackDialog::kSubmittedText},
        {"没有声音", "13800138000", true, 200, R"({"ret":5})", nullptr, FeedbackDialog::kRejectedText},
        {"没有声音", "13800138000", true, 404, R"({"ret":0})", nullptr, FeedbackDialog::kNetworkErrorText},
        {"没有声音", "13800138000", true, 200, "[1]", nullptr, FeedbackDialog::kNetworkErrorText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.content) + "/" + c.contact + "/" + (c.reply ? c.reply : ""));
        if (c.signedIn) {
            CurrentAccount account;
            account.mobilePhone = "13800138000";
            ApplyAccountReply(account);
        } else {
            ClearCurrentAccountPhone();
        }
        feedbackStatus_ = c.status;
        feedbackReply_ = c.reply;
        feedbackBodies_.clear();
        QPointer<FeedbackDialog> dialog = new FeedbackDialog(owner_);
        ASSERT_TRUE(dialog->Create(owner_, QString()));
        dialog->CenterWindow();
        dialog->ShowWindow();
        dialog->FindControl<QPlainTextEdit>("feedbackContent")->setPlainText(QString::fromUtf8(c.content));
        dialog->FindControl<QLineEdit>("feedbackContact")->setText(QString::fromUtf8(c.contact));
        QString prompt;
        if (c.prompt)
            Answer<PromptBoxDialog>("msgConfirm", &prompt,
                                    c.prompt == FeedbackDialog::kSubmittedText ? "feedback-submitted" : nullptr);
        QTest::mouseClick(dialog->FindControl<QPushButton>("feedbackBtn"), Qt::LeftButton);
        if (c.tip) {
            EXPECT_EQ(dialog->FindControl<QLabel>("feedbackErrorTips")->text(), QString::fromUtf8(c.tip));
            EXPECT_EQ(dialog->FindControl<QPlainTextEdit>("feedbackContent")->toPlainText(), QString::fromUtf8(c.content));
            EXPECT_TRUE(feedbackBodies_.empty());
            if (!c.signedIn)
                SaveScreenshot(dialog, "feedback-tip");
            dialog->Close(0);
        } else {
            EXPECT_EQ(prompt, QString::fromUtf8(c.prompt));
            ASSERT_EQ(feedbackBodies_.size(), 1u);
            EXPECT_EQ(feedbackBodies_[0], "{\n   \"contact\" : \"13800138000\",\n   \"content\" : \"\\u6ca1\\u6709\\u58f0\\u97f3\"\n}\n");
        }
        QTRY_VERIFY(dialog.isNull());
    }
}

TEST_F(OnlineDialogTest, FeedbackFocusesTheMessageAndOpensTheHelpPage)
{
    QPointer<FeedbackDialog> dialog = new FeedbackDialog();
    ASSERT_TRUE(dialog->Create(nullptr, QString()));
    dialog->ShowWindow();
    QTRY_VERIFY(dialog->FindControl<QPlainTextEdit>("feedbackContent")->hasFocus());
    QTest::mouseClick(dialog->FindControl<QPushButton>("contact-us"), Qt::LeftButton);
    ASSERT_EQ(desktop_.opened.size(), 1u);
    EXPECT_EQ(desktop_.opened[0].toString().toStdString(), server_.Url("/help/audio"));
    dialog->Close(0);
    QTRY_VERIFY(dialog.isNull());
}

TEST_F(OnlineDialogTest, UpgradeCheckOffersNewerVersionsOneAtATime)
{
    QString seen;
    releaseVersion_ = "1.4.2";
    Answer<PromptBoxDialog>("msgConfirm", &seen);
    EXPECT_EQ(RunUpgradeCheck(owner_.data(), true), 0);
    EXPECT_EQ(seen, "没有发现新版本!");

    releaseVersion_ = "1.5.0";
    bool secondOfferShown = false;
    WhenShown<MessageBoxDialog>([&](MessageBoxDialog* box) {
        EXPECT_TRUE(UpgradeOfferOpen());
        ShowUpgradeOffer(owner_, Release("a.deb", 0)); // returns at once: an offer is open
        secondOfferShown = VisibleWindow<DownloadDialog>() != nullptr;
        seen = box->FindControl<QLabel>("msgText")->text();
        SaveScreenshot(box, "upgrade-offer");
        QTest::mouseClick(box->FindControl<QPushButton>("msgCancel"), Qt::LeftButton);
    });
    EXPECT_EQ(RunUpgradeCheck(owner_.data(), true), 0);
    EXPECT_EQ(seen, "发现新版本啦!");
    EXPECT_FALSE(secondOfferShown);
    EXPECT_FALSE(UpgradeOfferOpen());
    EXPECT_TRUE(desktop_.opened.empty());

    // A background check's offer for a window that is gone is dropped.
    std::thread([window = QPointer<QWidget>(owner_.data())] { RunUpgradeCheck(window, false); }).join();
    delete owner_.data();
    QTest::qWait(50);
    EXPECT_EQ(VisibleWindow<MessageBoxDialog>(), nullptr);

    setenv("TAMSU_SERVICE_URL", server_.StoppedUrl("").c_str(), 1);
    EXPECT_EQ(RunUpgradeCheck(nullptr, true), -1);
}

TEST_F(OnlineDialogTest, DownloadOpensTheCompletePackageThenQuits)
{
    holdHalf_ = true;
    std::vector<int> slider;
    QString half;
    WhenShown<DownloadDialog>([&](DownloadDialog* d) {
        QTRY_COMPARE(d->FindControl<QSlider>("download-slider")->value(), 50);
        half = d->FindControl<QLabel>("download-text")->text();
        QObject::connect(d->FindControl<QSlider>("download-slider"), &QSlider::valueChanged,
                         [&](int v) { slider.push_back(v); });
        ReleaseHalf();
    });
    EXPECT_EQ(RunModalDialog<DownloadDialog>(owner_, Release("tamsu-recorder_1.5.0_amd64.deb", 0)),
              DownloadDialog::kResultInstalling);
    EXPECT_EQ(half, "50%");
    EXPECT_EQ(slider, std::vector<int>{100});
    ASSERT_EQ(desktop_.opened.size(), 1u);
    EXPECT_TRUE(desktop_.opened[0].toLocalFile().endsWith("/TamsuCompress/Temp/tamsu-recorder_1.5.0_amd64.deb"));
    QTRY_COMPARE(owner_->messages, std::vector<unsigned>{DownloadDialog::kQuitMessage});

    owner_->messages.clear();
    EXPECT_EQ(RunModalDialog<DownloadDialog>(owner_, Release("missing", 1)), 0);
    EXPECT_EQ(desktop_.opened.size(), 1u);
    QTest::qWait(20);
    EXPECT_TRUE(owner_->messages.empty());
}

TEST_F(OnlineDialogTest, CancelOfAForcedDownloadQuitsAndOfAnOptionalOneGoesOn)
{
    for (const int forced : {0, 1}) {
        {
            std::lock_guard<std::mutex> lock(holdLock_);
            holdHalf_ = true;
        }
        owner_->messages.clear();
        QString text;
        WhenShown<DownloadDialog>([&](DownloadDialog* d) {
            QTRY_COMPARE(d->FindControl<QLabel>("download-text")->text(), QString("50%"));
            text = d->FindControl<QLabel>("download-detail")->text();
            if (forced == 0)
                SaveScreenshot(d, "download-half");
            QTest::mouseClick(d->FindControl<QPushButton>("cancel"), Qt::LeftButton);
        });
        EXPECT_EQ(RunModalDialog<DownloadDialog>(owner_, Release("held.deb", forced)), 0);
        ReleaseHalf();
        EXPECT_TRUE(text.startsWith("1.0 KB / 2.0 KB")) << text.toStdString();
        EXPECT_TRUE(desktop_.opened.empty());
        QTest::qWait(20);
        EXPECT_EQ(owner_->messages.size(), static_cast<size_t>(forced));
    }
}

