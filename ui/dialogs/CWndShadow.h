#pragma once
// CWndShadow gives a caption-less window a soft drop shadow: a separate translucent,
// click-through window behind the edges of its parent, computed from the parent's window region
// (its mask: a window with rounded corners casts a shadow with rounded corners). It follows the
// parent's moves, resizes, showing, hiding, minimising and destruction through an event filter.
//
//   CWndShadow shadow_;                 // a member of the dialog
//   shadow_.Attach(this);               // in OnCreate
//   shadow_.SetShadowSize(4);
//
// RegisterShadowClass must have succeeded once in the process (start-up); otherwise, and on
// window systems that cannot show translucent windows, Attach does nothing and windows simply
// have no shadow.
//
// Thread: a shadow is attached, redrawn and driven on the thread that owns its parent window
// (the UI thread). BuildShadowImage is a pure function, callable from any thread.

#include "ShadowWindow.h"

#include <QColor>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QRegion>
#include <QSize>

#include <cstdint>

class QWidget;

class CWndShadow : public QObject {
    Q_OBJECT
public:
    // What shapes the image. Sizes in pixels.
    struct Params {
        int size = 0;       // how far the shadow reaches beyond the parent on every side, -20..20
        int xOffset = 5;    // shift against the parent, -20..20 each
        int yOffset = 5;
        int sharpness = 5;  // width of the soft edge, 0..255
        int darkness = 150; // alpha of the solid part, 0..255
        QColor colour = Qt::black;
    };

    // Status bits.
    static constexpr std::uint8_t kEnabled = 1;       // attached
    static constexpr std::uint8_t kShadowVisible = 2;
    static constexpr std::uint8_t kParentVisible = 4;

    // Range of the size and the offsets.
    static constexpr int kMinShadowExtent = -20;
    static constexpr int kMaxShadowExtent = 20;

    CWndShadow();
    ~CWndShadow() override;

    // Once per process, on the UI thread with the QApplication running. False when already done
    // or when the window system cannot show translucent windows (then shadows stay off).
    static bool RegisterShadowClass();
    static bool ShadowsAvailable();

    // Starts shadowing parent (replacing an earlier parent). Does nothing when shadows are
    // unavailable or parent is nullptr.
    void Attach(QWidget* parent);

    // Out-of-range values return false and change nothing; otherwise the value is stored, the
    // shadow redrawn at once when it is visible, and the result is true.
    bool SetShadowSize(int size);
    bool SetShadowOffset(int x, int y);
    bool SetShadowColor(const QColor& colour);

    // Recomputes the image from the parent's region and size and places the shadow window.
    void Redraw();

    // The shadow of a parent of parentSize whose window region is parentRegion (empty: no
    // region, hence no shadow), as premultiplied ARGB of (w + 2·size) × (h + 2·size) pixels; a
    // null image when that is not positive. Row 0 is the top.
    static QImage BuildShadowImage(const QRegion& parentRegion, const QSize& parentSize, const Params& params);

    const Params& GetParams() const { return params_; }
    std::uint8_t Status() const { return status_; }
    QWidget* Parent() const;
    ShadowWindow* Window() const { return window_; }

protected:
    // Follows the parent's window events; always lets them through.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Detach();
    void OnParentSized();
    void MoveShadowWindow();
    void ScheduleRedraw();

    QPointer<QWidget> parent_;
    QPointer<ShadowWindow> window_;
    std::uint8_t status_ = 0;
    Params params_;
    bool updatePending_ = false; // a redraw is due once the parent has taken its new geometry
    bool redrawQueued_ = false;
};
