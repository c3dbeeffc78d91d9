// The confirmation and notice boxes, driven through their named controls.

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

#include <functional>

namespace {

// How long a test waits for the event loop to deliver something before it gives up.
constexpr int kDeliveryTimeoutMs = 5000;

template <class Box>
Box* OpenBox()
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<Box*>(w); box && box->isVisible())
            return box;
    }
    return nullptr;
}

// What a test saw of a box while it was open.
struct Seen {
    QString text;
    QRect geometry;
    QSize rootSize;
    bool frameless = false;
    QPointer<QWidget> box;
    const QObject* key = nullptr; // the box as the shadow registry knows it
    CWndShadow::Params shadow;
    bool hasShadow = false;
    QRect shadowGeometry;
};

// While the box of type Box runs its modal loop: records it, then clicks the button named.
template <class Box>
void ClickWhenOpen(const QString& button, Seen& seen)
{
    QTimer::singleShot(0, [button, &seen] {
        Box* box = OpenBox<Box>();
        ASSERT_NE(box, nullptr);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(box));
        seen.box = box;
        seen.key = box;
        seen.text = box->template FindControl<QLabel>("msgText")->text();
        seen.geometry = box->frameGeometry();
        seen.rootSize = box->SkinRoot()->size();
        seen.frameless = box->windowFlags().testFlag(Qt::FramelessWindowHint);
        if (CWndShadow* shadow = ShadowRegistry::Instance().Find(box)) {
            seen.hasShadow = true;
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

    void ExpectCentredOnOwner(const QRect& box) const
    {
        EXPECT_LE((box.center() - owner_.frameGeometry().center()).manhattanLength(), 1)
            << "box " << box.x() << "," << box.y() << " " << box.width() << "x" << box.height();
    }

    void ExpectBoxShadow(const Seen& seen) const
    {
        ASSERT_TRUE(seen.hasShadow);
        EXPECT_EQ(seen.shadow.size, 4);
        EXPECT_EQ(seen.shadow.xOffset, 0);
        EXPECT_EQ(seen.shadow.yOffset, 0);
        EXPECT_EQ(seen.shadow.colour, QColor(0x9E, 0x9D, 0x9D));
        EXPECT_EQ(seen.shadowGeometry, seen.geometry.adjusted(-4, -4, 4, 4)) << "4 pixels on every side";
        EXPECT_EQ(ShadowRegistry::Instance().Find(seen.key), nullptr) << "entry removed with the box";
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
        EXPECT_TRUE(seen.box.isNull()) << "deleted by the time Show returns";
        EXPECT_EQ(seen.text, "确定要删除文件吗?");
        EXPECT_TRUE(seen.frameless);
        ExpectCentredOnOwner(seen.geometry);
        ExpectBoxShadow(seen);
    }
}

TEST_F(BoxDialogTest, PromptBoxHasExactlyTheRequestedClientSize)
{
    const struct {
        const char* text;
        int width;
        int height;
    } cases[] = {
        {"没有插入麦克风设备,仅录系统声音", 250, 100},
        {"未启用音频输出设备!", 200, 100},
        {"音频设备出错!", 320, 160},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Seen seen;
        ClickWhenOpen<PromptBoxDialog>("msgConfirm", seen);
        EXPECT_EQ(PromptBoxDialog::Show(&owner_, c.text, c.width, c.height), 1);
        EXPECT_TRUE(seen.box.isNull());
        EXPECT_EQ(seen.geometry.size(), QSize(c.width, c.height));
        EXPECT_EQ(seen.rootSize, QSize(c.width, c.height)) << "the skin's frame fills the box";
        EXPECT_EQ(seen.text, c.text);
        EXPECT_TRUE(seen.frameless);
        ExpectCentredOnOwner(seen.geometry);
        ExpectBoxShadow(seen);
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
