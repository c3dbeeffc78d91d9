#pragma once
// The window that shows a shadow image: frameless, translucent, click-through, never activated,
// owned by the window it shadows (a Qt child top-level window, so it is deleted with it).
// Thread: UI thread only.

#include <QImage>
#include <QWidget>

class ShadowWindow : public QWidget {
    Q_OBJECT
public:
    explicit ShadowWindow(QWidget* owner);

    // Shows image (premultiplied ARGB) at the window's size from now on.
    void SetImage(QImage image);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};
