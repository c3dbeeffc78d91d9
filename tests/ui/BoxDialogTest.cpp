// The confirmation and notice boxes, driven through their named controls: what they return, their
// text, and that their shadow goes with them. (A box that cannot be built: the
// window framework's tests.)

#include "MessageBoxDialog.h"
#include "PromptBoxDialog.h"
#include "ShadowRegistry.h"
#include "WindowTestSupport.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(BoxDialogTest, BoxesReturnWhatTheClickedButtonMeans)
{
    QWidget owner;
    owner.show();
    const char* ask = "确定要删除文件吗?";
    const char* noMic = "没有插入麦克风设备,仅录系统声音";
    const struct {
        const char* button;
        std::function<int()> show;
        const char* text;
        int result;
    } cases[] = {
        {"msgConfirm", [&] { return MessageBoxDialog::Show(&owner, ask); }, ask, 1},
        {"msgCancel", [&] { return MessageBoxDialog::Show(&owner, ask); }, ask, 0},
        {"closebtn", [&] { return MessageBoxDialog::Show(&owner, ask); }, ask, 0},
        {"msgConfirm", [&] { return PromptBoxDialog::Show(&owner, noMic, 250, 100); }, noMic, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " " + c.button);
        QPointer<WindowImplBase> box;
        const QObject* key = nullptr; // the box as the shadow registry knows it
        QTimer::singleShot(0, [&] { // inside the box's modal loop
            box = VisibleWindow<WindowImplBase>();
            ASSERT_TRUE(box && QTest::qWaitForWindowExposed(box));
            EXPECT_EQ(box->FindControl<QLabel>("msgText")->text(), QString::fromUtf8(c.text));
            key = box;
            EXPECT_NE(ShadowRegistry::Instance().Find(box), nullptr) << "no shadow";
            QTest::mouseClick(box->FindControl<QPushButton>(c.button), Qt::LeftButton);
        });
        EXPECT_EQ(c.show(), c.result);
        EXPECT_TRUE(box.isNull()) << "still there after Show returned";
        EXPECT_EQ(ShadowRegistry::Instance().Find(key), nullptr) << "shadow outlived the box";
    }
}

} // namespace
