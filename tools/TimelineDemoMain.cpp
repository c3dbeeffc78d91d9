// tamsu-timeline-demo: the timeline control in a window of its own, with a made-up recording.
// Drag the handles, click the baseline; the line below the timeline tells what the control posted.

#include "AppIcon.h"
#include "TimelineDemoWnd.h"

#include <QApplication>

#include <glog/logging.h>

int main(int argc, char** argv)
{
    google::InitGoogleLogging(argv[0]);
    FLAGS_logtostderr = true;
    QApplication app(argc, argv);
    QApplication::setWindowIcon(AppIcon());
    auto* window = new TimelineDemoWnd;
    if (!window->Create(nullptr, QStringLiteral("时间轴"))) {
        delete window;
        return 1;
    }
    window->CenterWindow();
    window->ShowWindow();
    return QApplication::exec();
}
