// The confirmation and notice boxes, driven through their named controls: what they return, their
// text, size, place and shadow, and a box whose skin is missing.

#include "CWndShadow.h"
#include "LogCapture.h"
#include "MessageBoxDialog.h"
#include "PromptBoxDialog.h"
#include "ShadowRegistry.h"
#include "SkinResources.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// How long a test waits for the event loop to deliver something before it gives up.
constexpr int kDeliveryTimeoutMs = 5000;

// What a test saw of a box while it was open.
struct Seen {
    QPointer<QWidget> box;
    const QObject* key = nullptr; // the box as the shadow registry knows it
    QString text;
    QRect geometry;
    QSize rootSize;
    bool frameless = false;
    CWndShadow::Params shadow;
    QRect shadowGeometry;
};

// Once the box of type Box runs its modal loop: records it, then clicks the button named.
template <class Box>
void ClickWhenOpen(const QString& button, Seen& seen)
{
    QTimer::singleShot(0, [button, &seen] {
        Box* box = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<Box*>(w); b && b->isVisible())
                box = b;
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(box));
        seen.box = box;
        seen.key = box;
        seen.text = box->template FindControl<QLabel>("msgText")->text();
        seen.geometry = box->frameGeometry();
        seen.rootSize = box->SkinRoot()->size();
        seen.frameless = box->windowFlags().testFlag(Qt::FramelessWindowHint);
        if (CWndShadow* shadow = ShadowRegistry::Instance().Find(box)) {
            seen.shadow = shadow->GetParams();
            EXPECT_TRUE(QTest::qWaitFor(
                [&] {
                    const QWidget* w = shadow->Window();
                    return w && w->isVisible() && w->size() == box->size() + QSize(8, 8);
                },
                kDeliveryTimeoutMs));
            if (shadow->Window())
                seen.shadowGeometry = shadow->Window()->geometry();
        }
        QTest::mouseClick(box->template FindControl<QPushButton>(button), Qt::LeftButton);
    });
}

class BoxDialogTest : public testing::Test {
protected:
    void SetUp() override
    {
        owner_.setGeometry(200, 150, 720, 480);
        owner_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&owner_));
    }

    // Gone when Show returned; frameless, centred on the owner, with a grey 4-pixel shadow.
    void ExpectBox(const Seen& seen, const char* text) const
    {
        EXPECT_TRUE(seen.box.isNull()) << "still there after Show returned";
        EXPECT_EQ(seen.text, QString::fromUtf8(text));
        EXPECT_TRUE(seen.frameless);
        EXPECT_LE((seen.geometry.center() - owner_.frameGeometry().center()).manhattanLength(), 1);
        EXPECT_EQ(seen.shadow.size, 4);
        EXPECT_EQ(seen.shadow.colour, QColor(0x9E, 0x9D, 0x9D));
        EXPECT_EQ(seen.shadowGeometry, seen.geometry.adjusted(-4, -4, 4, 4)) << "no shadow, or misplaced";
        EXPECT_EQ(ShadowRegistry::Instance().Find(seen.key), nullptr) << "shadow outlived the box";
    }

    QWidget owner_;
};

TEST_F(BoxDialogTest, MessageBoxReturnsWhatTheClickedButtonMeans)
{
    const struct {
        const char* button;
        int result;
    } cases[] = {{"msgConfirm", 1}, {"msgCancel", 0}, {"closebtn", 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        Seen seen;
        ClickWhenOpen<MessageBoxDialog>(c.button, seen);
        EXPECT_EQ(MessageBoxDialog::Show(&owner_, "确定要删除文件吗?"), c.result);
        ExpectBox(seen, "确定要删除文件吗?");
    }
}

TEST_F(BoxDialogTest, PromptBoxHasExactlyTheRequestedSize)
{
    const struct {
        const char* text;
        int width;
        int height;
    } cases[] = {{"没有插入麦克风设备,仅录系统声音", 250, 100}, {"音频设备出错!", 320, 160}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Seen seen;
        ClickWhenOpen<PromptBoxDialog>("msgConfirm", seen);
        EXPECT_EQ(PromptBoxDialog::Show(&owner_, c.text, c.width, c.height), 1);
        ExpectBox(seen, c.text);
        EXPECT_EQ(seen.geometry.size(), QSize(c.width, c.height));
        EXPECT_EQ(seen.rootSize, QSize(c.width, c.height)) << "the skin's frame does not fill the box";
    }
}

TEST_F(BoxDialogTest, BoxWhoseSkinIsMissingNeverCountsAsConfirmed)
{
    QTemporaryDir emptySkin;
    ASSERT_TRUE(emptySkin.isValid());
    const QString realSkin = SkinFolder();
    LoadSkinResources(emptySkin.path());
    LogCapture log;
    EXPECT_EQ(MessageBoxDialog::Show(&owner_, "确定要删除文件吗?"), 0);
    EXPECT_EQ(PromptBoxDialog::Show(&owner_, "音频设备出错!", 200, 100), 0);
    LoadSkinResources(realSkin);
    EXPECT_TRUE(log.HasLine({"MessageBox.xml", "not created"})) << log.Text();
    EXPECT_TRUE(log.HasLine({"PromptBox.xml", "not created"})) << log.Text();
}

} // namespace
