// The reference of the start-up benchmark: the least a Qt Widgets program does to show a window
// of the main window's size with a few Chinese texts. It prints the same marker as
// "tamsu-recorder --quit-after-show" once the window has been painted, then ends.

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>

#include <cstdio>
#include <ctime>

namespace {

class BareWindow : public QWidget {
protected:
    bool event(QEvent* event) override
    {
        const bool result = QWidget::event(event);
        if (event->type() == QEvent::Paint && !shown_) {
            shown_ = true;
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::printf("main window shown %lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
            std::fflush(stdout);
            QApplication::quit();
        }
        return result;
    }

private:
    bool shown_ = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setFont(QFont("Noto Sans CJK SC"));
    BareWindow window;
    window.setWindowTitle(QString::fromUtf8("TAMSU电脑录音软件"));
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(QString::fromUtf8("准备录音")));
    layout->addWidget(new QLabel("00:00:00"));
    window.resize(900, 600);
    window.show();
    return QApplication::exec();
}
