#include "CPaintViewUI.h"

#include "WindowImplBase.h"

#include <QFont>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <bit>
#include <cmath>

namespace {

const QColor kGreen = QColor::fromRgba(0xFF27B765);        // baseline, ruler, default handles, waveform
const QColor kText = QColor::fromRgba(0xBE27B765);         // labels
const QColor kOrange = QColor::fromRgba(0xFFFF9800);       // position line
const QColor kOrangeHalo = QColor::fromRgba(0x64FF9800);   // position marker, outer circle
const QColor kOrangeSolid = QColor::fromRgba(0xBEFF9800);  // position marker, inner circle; moved handles
const QColor kShade = QColor::fromRgba(0x3CFF9800);        // outside the selection

constexpr int kTicks = 40;             // ruler divisions; every fifth tick is a long one
constexpr int kLongTick = 10;          // pixels
constexpr int kShortTick = 4;
constexpr int kBandHalfHeight = 10;    // the baseline band a click lands on, pixels above and below
constexpr int kHandleTop = 40;         // handle line from the top, pixels
constexpr int kHandleBottomGap = 14;   // handle line ends this far above the baseline
constexpr int kHandleDiameter = 8;
constexpr int kShadeTop = 50;          // shading from the top, pixels, and its height
constexpr int kShadeHeight = 90;
constexpr int kLabelHeight = 20;       // labels sit in this strip at the bottom
constexpr int kPositionLabelWidth = 90;
constexpr double kWaveformScale = 1000.0; // sample value per pixel
// Rounding error of the stepped waveform x that still counts as reaching the end of the timeline.
constexpr double kStepTolerance = 1e-3;

void DrawHandle(QPainter& painter, int x, int top, int baseline, const QColor& line, const QColor& dot)
{
    painter.setPen(QPen(line, 1));
    painter.drawLine(QPointF(x, baseline - kHandleBottomGap), QPointF(x, top + kHandleTop));
    painter.setPen(Qt::NoPen);
    painter.setBrush(dot);
    painter.drawEllipse(QRectF(x - kHandleDiameter / 2.0, top + kHandleTop - kHandleDiameter, kHandleDiameter,
                               kHandleDiameter));
    painter.setBrush(Qt::NoBrush);
}

} // namespace

CPaintViewUI::CPaintViewUI(WindowImplBase* owner, QWidget* parent)
    : QWidget(parent)
    , owner_(owner)
{
    setMouseTracking(true); // the hand cursor over the baseline band follows the mouse
}

void* CPaintViewUI::GetInterface(const QString& name)
{
    return name.compare(QLatin1String(kInterfaceName), Qt::CaseInsensitive) == 0 ? this : nullptr;
}

void CPaintViewUI::SetDuration(double seconds)
{
    duration_ = ClampTime(seconds);
    update();
}

void CPaintViewUI::SetPosition(double seconds)
{
    position_ = seconds < 0 ? -1 : ClampTime(seconds);
    update();
}

void CPaintViewUI::SetSelection(double startSeconds, double endSeconds)
{
    selectionStart_ = ClampTime(startSeconds);
    selectionEnd_ = ClampTime(endSeconds);
    startMoved_ = endMoved_ = true;
    update();
}

void CPaintViewUI::SetWaveform(std::vector<std::int32_t> values)
{
    waveform_ = std::move(values);
    update();
}

double CPaintViewUI::ClampTime(double seconds)
{
    if (std::isnan(seconds))
        return 0;
    return std::clamp(seconds, 0.0, kMaxTime);
}

QString CPaintViewUI::FormatTime(double seconds)
{
    // Whole hundredths first: 1.29 s is 128.99999... hundredths in binary and must still read .29.
    const auto hundredths = static_cast<long long>(std::floor(ClampTime(seconds) * 100 + 1e-6));
    const long long s = hundredths / 100;
    return QString::asprintf("%02lld:%02lld:%02lld.%02lld", s / 3600, s % 3600 / 60, s % 60, hundredths % 100);
}

std::uintptr_t CPaintViewUI::TimeParam(double seconds)
{
    static_assert(sizeof(std::uintptr_t) == sizeof(double), "a time must fit a message parameter");
    return std::bit_cast<std::uintptr_t>(seconds);
}

double CPaintViewUI::ParamTime(std::uintptr_t param)
{
    return std::bit_cast<double>(param);
}

// ---- Geometry -----------------------------------------------------------------------------------

void CPaintViewUI::RefreshGeometry()
{
    const QRect r = rect();
    left_ = r.left();
    top_ = r.top();
    width_ = r.width();
    height_ = r.height();
    right_ = left_ + width_;
    bottom_ = top_ + height_;
}

std::optional<double> CPaintViewUI::TimeToX(double seconds) const
{
    if (!HasTimeline() || duration_ <= 0)
        return std::nullopt;
    return TimelineLeft() + UsableWidth() * std::clamp(seconds, 0.0, duration_) / duration_;
}

std::optional<double> CPaintViewUI::XToTime(double x) const
{
    if (!HasTimeline())
        return std::nullopt;
    return std::clamp((x - TimelineLeft()) / UsableWidth() * duration_, 0.0, duration_);
}

bool CPaintViewUI::InBaselineBand(const QPoint& pos) const
{
    return pos.x() > TimelineLeft() && pos.x() < TimelineRight() && std::abs(pos.y() - Baseline()) < kBandHalfHeight;
}

void CPaintViewUI::UpdateCursorShape(const QPoint& pos)
{
    if (InBaselineBand(pos))
        setCursor(Qt::PointingHandCursor);
    else
        unsetCursor();
}

int CPaintViewUI::SettledX(bool moved, double time, const QPoint& point, int unmovedX) const
{
    int x = unmovedX;
    if (moved) {
        const std::optional<double> fromTime = time > kMinDuration ? TimeToX(time) : std::nullopt;
        if (fromTime)
            x = static_cast<int>(std::lround(*fromTime));
        else if (point.x() >= 0)
            x = point.x();
    }
    return std::clamp(x, TimelineLeft(), std::max(TimelineLeft(), TimelineRight()));
}

CPaintViewUI::HandlePositions CPaintViewUI::Handles() const
{
    HandlePositions handles;
    if (!HasTimeline())
        return handles;
    const int x0 = TimelineLeft();
    const int x1 = TimelineRight();
    const int settledStart = SettledX(startMoved_, selectionStart_, startPoint_, x0);
    const int settledEnd = SettledX(endMoved_, selectionEnd_, endPoint_, x1);
    if (startDragging_ || startMoved_)
        handles.start = std::clamp(startDragging_ ? cursorX_ : settledStart, x0, settledEnd);
    const int startLimit = handles.start.value_or(x0);
    if (endDragging_ || endMoved_)
        handles.end = std::clamp(endDragging_ ? cursorX_ : settledEnd, startLimit, x1);
    return handles;
}

QRectF CPaintViewUI::HitBox(std::optional<int> handleX, int defaultX) const
{
    const double x = handleX.value_or(defaultX);
    return QRectF(x - kHandleDiameter / 2.0, top_ + kHandleTop - kHandleDiameter, kHandleDiameter, kHandleDiameter);
}

// ---- Painting -----------------------------------------------------------------------------------

void CPaintViewUI::paintEvent(QPaintEvent*)
{
    RefreshGeometry();
    if (!HasTimeline())
        return; // narrower than its margins: no room for a timeline
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("Noto Serif CJK SC"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(12);
    painter.setFont(font);

    const int x0 = TimelineLeft();
    const int x1 = TimelineRight();
    const int baseline = Baseline();
    const QPen green(kGreen, 1);

    // Baseline and ruler (tick positions accumulate the way a stepping pen does).
    painter.setPen(green);
    painter.drawLine(QPointF(x0, baseline), QPointF(x1, baseline));
    const float step = static_cast<float>(UsableWidth()) / kTicks;
    float tickX = static_cast<float>(x0);
    for (int i = 0; i <= kTicks; ++i) {
        if (i > 0)
            tickX += step;
        painter.drawLine(QPointF(tickX, baseline), QPointF(tickX, baseline - (i % 5 == 0 ? kLongTick : kShortTick)));
    }
    painter.setPen(kText);
    painter.drawText(QRectF(x0 - 35, bottom_ - kLabelHeight, 70, kLabelHeight), Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("00:00:00"));
    painter.drawText(QRectF(tickX - 55, bottom_ - kLabelHeight, 80, kLabelHeight), Qt::AlignLeft | Qt::AlignVCenter,
                     FormatTime(duration_));

    // Position marker; without a duration it stays at the start.
    if (position_ >= 0) {
        const double xp = TimeToX(position_).value_or(x0);
        painter.setPen(QPen(kOrange, 1));
        painter.drawLine(QPointF(x0, baseline), QPointF(xp, baseline));
        painter.setPen(Qt::NoPen);
        painter.setBrush(kOrangeHalo);
        painter.drawEllipse(QPointF(xp, baseline), 5, 5);
        painter.setBrush(kOrangeSolid);
        painter.drawEllipse(QPointF(xp, baseline), 2, 2);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(kText);
        painter.drawText(QRectF(left_ + (width_ - kPositionLabelWidth) / 2, bottom_ - kLabelHeight, kPositionLabelWidth,
                                kLabelHeight),
                         Qt::AlignRight | Qt::AlignVCenter, FormatTime(position_));
    }

    DrawHandle(painter, x0, top_, baseline, kGreen, kGreen);
    DrawHandle(painter, x1, top_, baseline, kGreen, kGreen);

    // Waveform: one segment a value, from the previous value (0 before the first).
    if (!waveform_.empty()) {
        painter.setPen(green);
        const double w = static_cast<double>(UsableWidth()) / static_cast<double>(waveform_.size());
        const double centre = top_ + height_ / 2.0;
        const auto yOf = [&](std::int32_t v) {
            return std::clamp(v / kWaveformScale + centre, static_cast<double>(top_), static_cast<double>(bottom_));
        };
        double x = x0;
        double previous = centre;
        for (std::int32_t v : waveform_) {
            if (x + w > x1 + kStepTolerance)
                break;
            const double y = yOf(v);
            painter.drawLine(QPointF(x, previous), QPointF(x + w, y));
            previous = y;
            x += w;
        }
    }

    // Moved handles in the selection colours, the outside of the selection shaded.
    const HandlePositions handles = Handles();
    if (handles.start) {
        const int x = *handles.start;
        painter.fillRect(QRectF(x0, top_ + kShadeTop, x - x0, kShadeHeight), kShade);
        DrawHandle(painter, x, top_, baseline, kOrange, kOrangeSolid);
    }
    if (handles.end) {
        const int x = *handles.end;
        painter.fillRect(QRectF(x, top_ + kShadeTop, x1 - x, kShadeHeight), kShade);
        DrawHandle(painter, x, top_, baseline, kOrange, kOrangeSolid);
    }
}

// ---- Mouse --------------------------------------------------------------------------------------

void CPaintViewUI::mousePressEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    RefreshGeometry();
    UpdateCursorShape(pos);
    if (event->button() != Qt::LeftButton)
        return;
    buttonPressed_ = true;
    if (!InBaselineBand(pos))
        return;
    if (const std::optional<double> t = XToTime(pos.x())) {
        clickedTime_ = *t;
        Post(kMsgTimeClicked, TimeParam(clickedTime_));
    }
}

void CPaintViewUI::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    UpdateCursorShape(pos);
    if (!buttonPressed_ || !HasTimeline())
        return;
    cursorX_ = pos.x();
    if (dragging_) {
        FollowDraggedHandle();
        repaint();
        return;
    }
    const HandlePositions handles = Handles();
    if (HitBox(handles.start, TimelineLeft()).contains(event->position())) {
        dragging_ = startDragging_ = startMoved_ = true;
        Post(kMsgStartDragBegin);
    } else if (HitBox(handles.end, TimelineRight()).contains(event->position())) {
        dragging_ = endDragging_ = endMoved_ = true;
        Post(kMsgEndDragBegin);
    }
}

void CPaintViewUI::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    buttonPressed_ = false;
    const HandlePositions handles = Handles();
    const int y = event->position().toPoint().y();
    const bool wasStart = startDragging_;
    const bool wasEnd = endDragging_;
    dragging_ = startDragging_ = endDragging_ = false;
    // The point kept is where the handle stopped, not where the cursor went.
    if (wasStart && handles.start) {
        startPoint_ = QPoint(*handles.start, y);
        Post(kMsgStartDragEnd);
    }
    if (wasEnd && handles.end) {
        endPoint_ = QPoint(*handles.end, y);
        Post(kMsgEndDragEnd);
    }
    update();
}

void CPaintViewUI::FollowDraggedHandle()
{
    if (duration_ <= kMinDuration)
        return;
    const HandlePositions handles = Handles();
    if (startDragging_ && handles.start) {
        selectionStart_ = XToTime(*handles.start).value_or(0);
        Post(kMsgStartTimeChanged, TimeParam(selectionStart_));
    } else if (endDragging_ && handles.end) {
        selectionEnd_ = XToTime(*handles.end).value_or(0);
        Post(kMsgEndTimeChanged, TimeParam(selectionEnd_));
    }
}

void CPaintViewUI::Post(unsigned msg, std::uintptr_t wParam)
{
    if (owner_)
        owner_->PostMessage(msg, wParam, 0);
}

QWidget* CreatePaintView(const QString& className, QWidget* parent, WindowImplBase* owner)
{
    if (className != QLatin1String(CPaintViewUI::kClassName))
        return nullptr;
    return new CPaintViewUI(owner, parent);
}
