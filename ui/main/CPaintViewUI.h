#pragma once
// CPaintViewUI ("PaintView"): a timeline control. A horizontal ruler over the duration with its
// label, a playback-position marker with its time, a waveform polyline and two draggable handles
// marking the start and the end of a selection; what lies outside the selection is shaded.
//
// A skin places it as <widget class="PaintView" name="...">; the owner window's CreateControl
// builds it with CreatePaintView. Asked for the interface "paint-view" it answers itself.
//
// It tells its owner what the user does by posting messages (WindowImplBase::PostMessage,
// lParam 0). Times travel as values: TimeParam(t) in wParam, read back with ParamTime.
//   kMsgStartTimeChanged 1324  wParam: selection start time; each move while the start handle is dragged
//   kMsgEndTimeChanged   1325  wParam: selection end time; likewise for the end handle
//   kMsgStartDragBegin   1326  0; the button went down on the start handle and the mouse moved
//   kMsgEndDragBegin     1327  0; likewise for the end handle
//   kMsgStartDragEnd     1328  0; the button was released after dragging the start handle
//   kMsgEndDragEnd       1329  0; likewise for the end handle
//   kMsgTimeClicked      1344  wParam: the time under the cursor; button pressed on the baseline band
// Selection times are posted only while the duration is above kMinDuration.
//
// Times are seconds. Every time given to the control is clamped to [0, kMaxTime] (a non-finite
// one becomes 0) before it is used, so no label or pixel computation overflows. With a duration
// of 0, or a control narrower than its two margins, nothing that needs them is drawn and no time
// is computed from a position.
//
// Thread: UI thread only.

#include <QPoint>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <optional>
#include <vector>

class WindowImplBase;

class CPaintViewUI : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* kClassName = "PaintView";
    static constexpr const char* kInterfaceName = "paint-view";

    static constexpr unsigned kMsgStartTimeChanged = 1324;
    static constexpr unsigned kMsgEndTimeChanged = 1325;
    static constexpr unsigned kMsgStartDragBegin = 1326;
    static constexpr unsigned kMsgEndDragBegin = 1327;
    static constexpr unsigned kMsgStartDragEnd = 1328;
    static constexpr unsigned kMsgEndDragEnd = 1329;
    static constexpr unsigned kMsgTimeClicked = 1344;

    // Horizontal inset of the timeline from each side, pixels.
    static constexpr int kMargin = 20;
    // Distance of the baseline above the bottom edge, pixels.
    static constexpr int kBaselineOffset = 30;
    // Shortest duration that selection times are computed for (below it a handle's x says nothing).
    static constexpr double kMinDuration = 0.00001;
    // Longest time the control shows: 99:59:59.99, the widest label its boxes hold.
    static constexpr double kMaxTime = 359999.99;

    CPaintViewUI(WindowImplBase* owner, QWidget* parent = nullptr);

    QString GetClass() const { return QString::fromLatin1(kClassName); }
    // This control for "paint-view" (any case), else nullptr.
    void* GetInterface(const QString& name);

    void SetDuration(double seconds);
    void SetPosition(double seconds); // a negative position hides the marker
    void SetSelection(double startSeconds, double endSeconds);
    void SetWaveform(std::vector<std::int32_t> values); // drawn at value / 1000 pixels from the middle

    double Duration() const { return duration_; }
    double Position() const { return position_; }
    double SelectionStart() const { return selectionStart_; }
    double SelectionEnd() const { return selectionEnd_; }
    double ClickedTime() const { return clickedTime_; }

    // "%02d:%02d:%02d.%02d": hours, minutes, seconds, hundredths of a clamped time.
    static QString FormatTime(double seconds);
    // A time clamped into [0, kMaxTime]; NaN gives 0, +infinity kMaxTime.
    static double ClampTime(double seconds);
    // A time as a message parameter and back (bit for bit).
    static std::uintptr_t TimeParam(double seconds);
    static double ParamTime(std::uintptr_t param);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Where the handles are drawn in their selection colours; nullopt for one never moved.
    struct HandlePositions {
        std::optional<int> start;
        std::optional<int> end;
    };

    void RefreshGeometry();
    int Baseline() const { return bottom_ - kBaselineOffset; }
    int UsableWidth() const { return width_ - 2 * kMargin; }
    int TimelineLeft() const { return left_ + kMargin; }
    int TimelineRight() const { return right_ - kMargin; }
    bool HasTimeline() const { return UsableWidth() > 0; }
    // x of a time on the timeline; nullopt without a timeline or a duration.
    std::optional<double> TimeToX(double seconds) const;
    // Time of an x on the timeline, clamped to [0, duration]; nullopt without a timeline.
    std::optional<double> XToTime(double x) const;
    bool InBaselineBand(const QPoint& pos) const;
    void UpdateCursorShape(const QPoint& pos);
    // A moved handle that is not dragged sits at its selection time, or at its stored point
    // while that time says nothing (or at unmovedX before it has one); clamped to the timeline.
    int SettledX(bool moved, double time, const QPoint& point, int unmovedX) const;
    // The start handle stays left of the end handle, the end handle right of the start handle.
    HandlePositions Handles() const;
    // The handle's circle, which is also where a drag of it begins.
    QRectF HitBox(std::optional<int> handleX, int defaultX) const;
    // While a handle is dragged: its time follows its x, and the owner hears of it.
    void FollowDraggedHandle();
    void Post(unsigned msg, std::uintptr_t wParam = 0);

    // Geometry cache (widget coordinates), refreshed at every paint and every button press.
    int left_ = 0;
    int right_ = 0;
    int top_ = 0;
    int bottom_ = 0;
    int width_ = 0;
    int height_ = 0;

    QPointer<WindowImplBase> owner_;
    double selectionStart_ = 0;
    double selectionEnd_ = 0;
    double clickedTime_ = 0;
    double position_ = 0;
    bool buttonPressed_ = false;
    bool dragging_ = false;
    bool startDragging_ = false;
    bool endDragging_ = false;
    bool startMoved_ = false;
    bool endMoved_ = false;
    QPoint startPoint_{-1, -1}; // (-1, -1): not placed yet
    QPoint endPoint_{-1, -1};
    int cursorX_ = 0; // the cursor's x during a drag
    double duration_ = 0;
    std::vector<std::int32_t> waveform_;
};

// The dialog-builder hook for windows whose skins hold timelines: a CPaintViewUI owned by owner
// for the class "PaintView", nullptr for any other class.
QWidget* CreatePaintView(const QString& className, QWidget* parent, WindowImplBase* owner);
