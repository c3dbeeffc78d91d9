// The feedback dialog, the upgrade check, its offer and the download dialog, driven through their
// named controls against a local server that can also hold a request unanswered.

#include "BackgroundCall.h"
#include "BoxResponder.h"
#include "CurrentAccount.h"
#include "DownloadDialog.h"
#include "FeedbackDialog.h"
#include "LocalServer.h"
#include "TestEnv.h"
#include "UpgradeOffer.h"
#include "WindowTestSupport.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <tuple>

namespace {

const QString kPhone = "13800138000";

class OnlineDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        owner_ = new MessageRecorderWindow;
        ASSERT_TRUE(owner_->Create(nullptr, "owner"));
        owner_->ResizeClient(640, 420);
        owner_->ShowWindow();
        server_.Http().Post("/v1/feedback", [this](const httplib::Request& req, httplib::Response& r) {
            Arrive(req.get_header_value("Accept") + " " + req.get_header_value("Content-Type") + " " + req.body);
            r.status = status_;
            r.set_content(reply_, "application/json");
        });
        server_.Http().Post("/v1/upgrade_check", [this](const httplib::Request& req, httplib::Response& r) {
            Arrive(req.body);
            r.status = status_;
            r.set_content(R"({"ret":0,"data":{"app_version":")" + release_.version + R"(","download_url":")" +
                              server_.Url("/files/" + release_.file) + R"(","force_upgrade":)" +
                              std::to_string(release_.forced) +
                              (release_.file == "corrupt.deb" ? R"(,"sha256":")" + std::string(64, '0') + "\"" : "") + "}}",
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
        env_.Set("TAMSU_SERVICE_URL", server_.Url(""));
    }
    void TearDown() override
    {
        Hold(false, false);
        WaitForBackgroundCalls();
        ClearCurrentAccountPhone();
        delete owner_.data();
    }
    // A request to the service: recorded, then kept unanswered while held (at most 10 s, so that a
    // call that blocks the UI thread fails the test instead of hanging it).
    void Arrive(const std::string& body)
    {
        std::unique_lock<std::mutex> lock(holdLock_);
        bodies_.push_back(body);
        holdSignal_.wait_for(lock, std::chrono::seconds(10), [this] { return !holdRequests_; });
    }
    size_t Arrived()
    {
        std::lock_guard<std::mutex> lock(holdLock_);
        return bodies_.size();
    }
    void Hold(bool requests, bool half)
    {
        {
            std::lock_guard<std::mutex> lock(holdLock_);
            holdRequests_ = requests;
            holdHalf_ = half;
        }
        holdSignal_.notify_all();
    }

    struct Release {
        std::string version;
        std::string file;
        int forced;
    };
    TestEnv env_;
    DesktopStandIn desktop_;
    QPointer<MessageRecorderWindow> owner_;
    LocalHttpServer server_;
    int status_ = 200;
    std::string reply_;
    Release release_;
    std::mutex holdLock_;
    std::condition_variable holdSignal_;
    std::vector<std::string> bodies_; // under holdLock_
    bool holdRequests_ = false;       // under holdLock_
    bool holdHalf_ = false;           // under holdLock_
};

} // namespace

TEST_F(OnlineDialogTest, FeedbackChecksAnswersAndKeepsUndeliveredText)
{
    const char* kClosedWhileWaiting = FeedbackDialog::kWaitingText;
    // content, signed in, reply, the tip shown in the dialog (the waiting text: closed while
    // waiting), the prompt shown after a submission (nullptr: none)
    const std::tuple<const char*, bool, const char*, const char*, const char*> cases[] = {
        {"  ", true, "", FeedbackDialog::kContentEmptyText, nullptr},
        {"没有声音", false, "", FeedbackDialog::kSignedOutText, nullptr},
        {"没有声音", true, R"({"ret":5})", nullptr, FeedbackDialog::kRejectedText},
        {"没有声音", true, "[1]", nullptr, FeedbackDialog::kNetworkErrorText},
        {"没有声音", true, R"({"ret":0})", kClosedWhileWaiting, nullptr}, // delivered all the same
        {"没有声音", true, R"({"ret":0})", nullptr, FeedbackDialog::kSubmittedText},
    };
    QString draft; // what the next dialog should show: the last text not delivered
    for (const auto& [text, signedIn, reply, tip, prompt] : cases) {
        SCOPED_TRACE(std::string(text) + "/" + reply);
        if (signedIn)
            ApplyAccountReply([] { CurrentAccount a; a.mobilePhone = kPhone.toStdString(); return a; }());
        else
            ClearCurrentAccountPhone();
        reply_ = reply;
        const size_t before = Arrived();
        QPointer<FeedbackDialog> dialog = new FeedbackDialog(owner_);
        ASSERT_TRUE(dialog->Create(owner_, QString()));
        dialog->ShowWindow();
        auto* content = dialog->FindControl<QPlainTextEdit>("feedbackContent");
        auto* contact = dialog->FindControl<QLineEdit>("feedbackContact");
        EXPECT_EQ(content->toPlainText(), draft);
        EXPECT_EQ(contact->text(), draft.isEmpty() && !signedIn ? QString() : kPhone) << "the account's phone";
        content->setPlainText(QString::fromUtf8(text));
        contact->setText(kPhone);
        BoxResponder responder;
        Hold(true, false); // a service that accepts and does not answer yet
        QTest::mouseClick(dialog->FindControl<QPushButton>("feedbackBtn"), Qt::LeftButton);
        EXPECT_EQ(dialog->Waiting() && !dialog->FindControl<QPushButton>("feedbackBtn")->isEnabled(), !tip || tip == kClosedWhileWaiting);
        if (tip) {
            EXPECT_EQ(dialog->FindControl<QLabel>("feedbackErrorTips")->text(), QString::fromUtf8(tip));
            dialog->Close(0);
        }
        Hold(tip == kClosedWhileWaiting, false); // the answer comes once the dialog is gone
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, kDeliveryTimeoutMs));
        Hold(false, false);
        WaitForBackgroundCalls();
        QCoreApplication::processEvents(); // an answer still on its way
        EXPECT_EQ(responder.texts, prompt ? QStringList{QString::fromUtf8(prompt)} : QStringList());
        ASSERT_EQ(Arrived(), before + (!tip || tip == kClosedWhileWaiting ? 1 : 0));
        if (Arrived() > before) {
            std::lock_guard<std::mutex> lock(holdLock_);
            EXPECT_EQ(bodies_.back(), "application/json application/json;charset=UTF-8 {\n   \"contact\" : \"13800138000\",\n"
                                      "   \"content\" : \"\\u6ca1\\u6709\\u58f0\\u97f3\"\n}\n");
        }
        draft = prompt == FeedbackDialog::kSubmittedText || tip == kClosedWhileWaiting ? QString() : QString::fromUtf8(text);
    }
}

// The check the user asks for, through the offer and the download to what the user is told.
TEST_F(OnlineDialogTest, UpgradeCheckAlwaysAnswersAndSaysWhatFollows)
{
    const QString offer = "发现新版本啦!\n新版本 1.5.0,当前版本 1.4.2";
    const QString folder = env_.DataHome() + "/TamsuCompress/Temp/";
    // the release offered, the status of the check's reply, cancelled at half, what the user is
    // told (in order), the program quits
    const std::tuple<Release, int, bool, QStringList, bool> cases[] = {
        {{"1.4.2", "a.deb", 0}, 200, false, {"没有发现新版本!"}, false},
        {{"1.5.0", "a.deb", 0}, 500, false, {"网络错误!"}, false},
        {{"1.5.0", "tamsu-recorder_1.5.0_amd64.deb", 0}, 200, false, {offer, "安装程序已打开,本程序将退出以完成升级。"}, true},
        {{"1.5.0", "missing", 1}, 200, false, {offer, "新版本下载失败,请稍后再试!"}, false},
        {{"1.5.0", "corrupt.deb", 0}, 200, false, {offer, "安装包校验失败"}, false},
        {{"1.5.0", "held.deb", 0}, 200, true, {offer}, false},
        {{"1.5.0", "held.deb", 1}, 200, true, {offer, "此版本必须升级后才能使用,本程序将退出。"}, true},
    };
    for (const auto& [release, status, cancel, texts, quits] : cases) {
        SCOPED_TRACE(release.version + " " + release.file + (release.forced ? " forced" : ""));
        release_ = release;
        status_ = status;
        owner_->messages.clear();
        desktop_.opened.clear();
        BoxResponder responder;
        if (cancel) { // (that nothing is left of the file: the downloader's own table)
            responder.onLook = [&] {
                auto* download = VisibleWindow<DownloadDialog>();
                auto* button = download ? download->FindControl<QPushButton>("cancel") : nullptr;
                if (button && button->isEnabled() && download->FindControl<QProgressBar>("download-slider")->value() == 50)
                    QTest::mouseClick(button, Qt::LeftButton);
            };
        }
        Hold(true, cancel);
        const size_t before = Arrived();
        StartUpgradeCheck(owner_);
        ASSERT_TRUE(QTest::qWaitFor([&] { return Arrived() == before + 1; }, kDeliveryTimeoutMs));
        EXPECT_TRUE(UpgradeCheckRunning()) << "returned while the service holds the request";
        StartUpgradeCheck(owner_); // one check at a time
        Hold(false, cancel);
        EXPECT_TRUE(QTest::qWaitFor([&] { return responder.texts.size() == texts.size() && !UpgradeOfferOpen(); }, kDeliveryTimeoutMs));
        Hold(false, false);
        QCoreApplication::processEvents(); // the quit message
        EXPECT_EQ(responder.texts, texts);
        EXPECT_EQ(Arrived(), before + 1);
        EXPECT_EQ(owner_->messages, quits ? std::vector<unsigned>{1234} : std::vector<unsigned>{});
        const QUrl installer = QUrl::fromLocalFile(folder + QString::fromStdString(release.file));
        EXPECT_EQ(desktop_.opened, quits && !cancel ? std::vector<QUrl>{installer} : std::vector<QUrl>());
    }

    // A background check's offer for a window that is gone is dropped.
    RunUpgradeCheck(owner_.data());
    delete owner_.data();
    QCoreApplication::processEvents();
    EXPECT_EQ(VisibleWindow<MessageBoxDialog>(), nullptr);
}
