// A look at the boxes on a real display (not a test). Shows an owner window and, over it, one box:
//
//   tamsu_box_demo message            the confirmation box "确定要删除文件吗?"
//   tamsu_box_demo prompt [w h]       the notice "没有插入麦克风设备,仅录系统声音", 250 × 100 by default
//   tamsu_box_demo shadow <file.png>  writes the message box's shadow over a light background
//
// For a screenshot without a desktop (one line):
//   TAMSU_SKIN_DIR=skin xvfb-run -s "-screen 0 1280x800x24" sh -c 'tamsu_box_demo prompt &
//     sleep 2; import -window root /tmp/box.png; kill $!'
// Shadows need a compositing manager: start "xcompmgr &" first to see them.

#include "CWndShadow.h"
#include "ControlUtil.h"
#include "MessageBoxDialog.h"
#include "PromptBoxDialog.h"
#include "SkinResources.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

namespace {

int WriteShadowPicture(const QString& file)
{
    // The message box: 340 × 168 with corners of radius 8, and its shadow.
    const QSize box(340, 168);
    CWndShadow::Params params;
    params.size = 4;
    params.xOffset = 0;
    params.yOffset = 0;
    params.colour = QColor(0x9E, 0x9D, 0x9D);
    const QImage shadow = CWndShadow::BuildShadowImage(RoundedWindowRegion(box, 8), box, params);
    QImage picture(box + QSize(80, 80), QImage::Format_ARGB32_Premultiplied);
    picture.fill(QColor("#F4F6F9"));
    QPainter painter(&picture);
    painter.setClipRegion(RoundedWindowRegion(box, 8).translated(40, 40));
    painter.fillRect(QRect(QPoint(40, 40), box), Qt::white);
    painter.setClipping(false);
    painter.drawImage(36, 36, shadow);
    painter.end();
    return picture.save(file) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString what = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("message");
    if (what == "shadow")
        return WriteShadowPicture(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral("/tmp/shadow.png"));

    LoadSkinResources(FindSkinFolder());
    if (!CWndShadow::RegisterShadowClass())
        std::printf("no translucent windows here: boxes without shadow\n");

    QWidget owner;
    owner.setWindowTitle("TAMSU电脑录音软件");
    owner.setObjectName("owner");
    owner.setStyleSheet("QWidget#owner { background-color: #EEF1F5; }");
    auto* layout = new QVBoxLayout(&owner);
    layout->addWidget(new QLabel("TAMSU电脑录音软件 — 主窗口"));
    owner.setGeometry(240, 160, 800, 480);
    owner.show();

    QTimer::singleShot(200, &owner, [&] {
        int result = 0;
        if (what == "prompt") {
            const int w = argc > 3 ? QString(argv[2]).toInt() : 250;
            const int h = argc > 3 ? QString(argv[3]).toInt() : 100;
            result = PromptBoxDialog::Show(&owner, "没有插入麦克风设备,仅录系统声音", w, h);
        } else {
            result = MessageBoxDialog::Show(&owner, "确定要删除文件吗?");
        }
        std::printf("result %d\n", result);
        QApplication::quit();
    });
    return app.exec();
}
