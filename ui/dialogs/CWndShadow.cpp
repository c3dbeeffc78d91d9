#include "CWndShadow.h"

#include "ShadowRegistry.h"
#include "ShadowWindow.h"
#include "TranslucencySupport.h"

#include <QEvent>
#include <QMetaObject>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include <glog/logging.h>

namespace {

std::atomic<bool> g_registered{false};
std::atomic<bool> g_available{false};

bool InExtentRange(int value)
{
    return value >= CWndShadow::kMinShadowExtent && value <= CWndShadow::kMaxShadowExtent;
}

// One row of a shape: columns [left, right). Empty when right <= left.
struct Span {
    int left;
    int right;
};

// Premultiplied ARGB pixel of the colour at alpha a: a, R·a/255, G·a/255, B·a/255.
std::uint32_t ShadowPixel(int alpha, const QColor& colour)
{
    const auto a = static_cast<std::uint32_t>(alpha & 0xFF);
    const auto r = static_cast<std::uint32_t>(colour.red()) * a / 255;
    const auto g = static_cast<std::uint32_t>(colour.green()) * a / 255;
    const auto b = static_cast<std::uint32_t>(colour.blue()) * a / 255;
    return (a << 24) | (r << 16) | (g << 8) | b;
}

} // namespace

CWndShadow::CWndShadow() = default;

CWndShadow::~CWndShadow()
{
    Detach();
}

bool CWndShadow::RegisterShadowClass()
{
    if (g_registered.exchange(true))
        return false;
    if (!PlatformShowsTranslucentWindows()) {
        LOG(INFO) << "window shadows are off: the window system shows no translucent windows";
        return false;
    }
    g_available = true;
    return true;
}

bool CWndShadow::ShadowsAvailable()
{
    return g_available;
}

QWidget* CWndShadow::Parent() const
{
    return parent_;
}

void CWndShadow::Attach(QWidget* parent)
{
    if (!ShadowsAvailable() || !parent)
        return;
    Detach();
    ShadowRegistry::Instance().Add(parent, this);
    parent_ = parent;
    window_ = new ShadowWindow(parent);
    connect(parent, &QObject::destroyed, this, [this](QObject* gone) {
        // The shadow window was a child of the parent and is gone with it.
        ShadowRegistry::Instance().Remove(gone, this);
        status_ = 0;
    });
    if (!parent->isVisible()) {
        status_ = kEnabled;
    } else if (parent->isMinimized() || parent->isMaximized()) {
        status_ = kEnabled | kParentVisible;
    } else {
        status_ = kEnabled | kShadowVisible | kParentVisible;
        window_->show();
        Redraw();
    }
    parent->installEventFilter(this);
}

void CWndShadow::Detach()
{
    if (parent_) {
        parent_->removeEventFilter(this);
        disconnect(parent_, nullptr, this, nullptr);
        ShadowRegistry::Instance().Remove(parent_, this);
    }
    delete window_; // QPointer: null when it went with its parent
    parent_ = nullptr;
    status_ = 0;
    updatePending_ = false;
}

bool CWndShadow::SetShadowSize(int size)
{
    if (!InExtentRange(size))
        return false;
    params_.size = size;
    if (status_ & kShadowVisible)
        Redraw();
    return true;
}

bool CWndShadow::SetShadowOffset(int x, int y)
{
    if (!InExtentRange(x) || !InExtentRange(y))
        return false;
    params_.xOffset = x;
    params_.yOffset = y;
    if (status_ & kShadowVisible)
        Redraw();
    return true;
}

bool CWndShadow::SetShadowColor(const QColor& colour)
{
    params_.colour = colour;
    if (status_ & kShadowVisible)
        Redraw();
    return true;
}

void CWndShadow::Redraw()
{
    updatePending_ = false;
    if (!parent_ || !window_)
        return;
    const QRect frame = parent_->frameGeometry();
    QImage image = BuildShadowImage(parent_->mask(), frame.size(), params_);
    if (image.isNull()) {
        window_->hide();
        return;
    }
    const QSize size = image.size();
    window_->SetImage(std::move(image));
    window_->setGeometry(QRect(
        frame.topLeft() + QPoint(params_.xOffset - params_.size, params_.yOffset - params_.size), size));
    if ((status_ & kShadowVisible) && !window_->isVisible())
        window_->show();
}

void CWndShadow::MoveShadowWindow()
{
    if (!parent_ || !window_)
        return;
    window_->move(parent_->frameGeometry().topLeft()
                  + QPoint(params_.xOffset - params_.size, params_.yOffset - params_.size));
}

void CWndShadow::ScheduleRedraw()
{
    updatePending_ = true;
    if (redrawQueued_)
        return;
    redrawQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            redrawQueued_ = false;
            if (updatePending_)
                Redraw();
        },
        Qt::QueuedConnection);
}

void CWndShadow::OnParentSized()
{
    if (!(status_ & kEnabled) || !parent_ || !window_)
        return;
    if (parent_->isMinimized() || parent_->isMaximized() || parent_->isFullScreen()) {
        window_->hide();
        status_ &= static_cast<std::uint8_t>(~kShadowVisible);
    } else if (status_ & kParentVisible) {
        // The parent sets its new window region while handling this very event (after the
        // filter), so the redraw is queued behind it, whether the parent grew or shrank.
        ScheduleRedraw();
        if (!(status_ & kShadowVisible)) {
            window_->show();
            status_ |= kShadowVisible;
        }
    }
}

bool CWndShadow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != parent_ || !window_)
        return false;
    switch (event->type()) {
    case QEvent::Move:
        if (status_ & kShadowVisible)
            MoveShadowWindow();
        break;
    case QEvent::Resize:
    case QEvent::WindowStateChange:
        OnParentSized();
        break;
    case QEvent::Paint:
    case QEvent::UpdateRequest:
        if (updatePending_)
            Redraw();
        break;
    case QEvent::Show:
        if ((status_ & kEnabled) && !(status_ & kParentVisible)) {
            status_ |= kShadowVisible | kParentVisible;
            window_->show();
            ScheduleRedraw();
        }
        break;
    case QEvent::Hide:
        if (status_ & kEnabled) {
            window_->hide();
            status_ &= static_cast<std::uint8_t>(~(kShadowVisible | kParentVisible));
        }
        break;
    default:
        break;
    }
    return false;
}

QImage CWndShadow::BuildShadowImage(const QRegion& parentRegion, const QSize& parentSize, const Params& params)
{
    const int w = parentSize.width();
    const int h = parentSize.height();
    const int s = params.size;
    const int sharpness = std::clamp(params.sharpness, 0, 255);
    const int darkness = std::clamp(params.darkness, 0, 255);
    const int ws = w + 2 * s;
    const int hs = h + 2 * s;
    if (w <= 0 || h <= 0 || ws <= 0 || hs <= 0)
        return {};
    QImage image(ws, hs, QImage::Format_ARGB32_Premultiplied);
    image.fill(0);
    auto pixelRow = [&image](int y) { return reinterpret_cast<std::uint32_t*>(image.scanLine(y)); };
    const Span emptySpan{w, 0};
    auto isEmpty = [](const Span& span) { return span.right <= span.left; };

    // 1. Row spans of the parent: the first and the last column inside the region, per row.
    std::vector<Span> parentSpans(static_cast<std::size_t>(h), emptySpan);
    for (const QRect& rect : parentRegion) {
        const int x0 = std::max(rect.left(), 0);
        const int x1 = std::min(rect.right() + 1, w);
        if (x0 >= x1)
            continue;
        for (int y = std::max(rect.top(), 0); y < std::min(rect.bottom() + 1, h); ++y) {
            Span& span = parentSpans[static_cast<std::size_t>(y)];
            span = isEmpty(span) ? Span{x0, x1} : Span{std::min(span.left, x0), std::max(span.right, x1)};
        }
    }

    // 2. Shadow spans, one per shadow row plus an empty guard row before and after: entry r + 1
    // is shadow row r, the parent's row r - s moved right by s.
    std::vector<Span> spans(static_cast<std::size_t>(hs) + 2, emptySpan);
    for (int r = 0; r < hs; ++r) {
        const int p = r - s;
        if (p < 0 || p >= h || isEmpty(parentSpans[static_cast<std::size_t>(p)]))
            continue;
        const Span& parentSpan = parentSpans[static_cast<std::size_t>(p)];
        spans[static_cast<std::size_t>(r) + 1] = Span{parentSpan.left + s, parentSpan.right + s};
    }

    // 3. Erosion to the solid core: (sharpness - size) times, each row takes the narrowest of
    // itself and its neighbours, one pixel narrower on both sides.
    for (int round = 0; round < sharpness - s; ++round) {
        std::vector<Span> eroded = spans;
        for (std::size_t i = 1; i + 1 < spans.size(); ++i) {
            eroded[i].left = 1 + std::max({spans[i - 1].left, spans[i].left, spans[i + 1].left});
            eroded[i].right = std::min({spans[i - 1].right, spans[i].right, spans[i + 1].right}) - 1;
        }
        spans.swap(eroded);
    }

    // 4. Kernel: full darkness within the centre radius, fading linearly over sharpness + 1 pixels.
    const int k = std::max(s, sharpness);
    const int c = std::max(s - sharpness, 0);
    const int kernelSide = 2 * k + 1;
    const std::uint32_t fullPixel = ShadowPixel(darkness, params.colour);
    std::vector<std::uint32_t> kernel(static_cast<std::size_t>(kernelSide) * kernelSide, 0);
    for (int dy = -k; dy <= k; ++dy) {
        for (int dx = -k; dx <= k; ++dx) {
            const double d = std::sqrt(static_cast<double>(dx * dx + dy * dy));
            std::uint32_t pixel = 0;
            if (d < c) {
                pixel = fullPixel;
            } else if (d <= k) {
                // (1 - (d - c) / (sharpness + 1)) · darkness, formed so that exact values stay
                // exact (at d - c = 5, sharpness 5, darkness 150 this is 25, not 24.999...).
                const double alpha = ((sharpness + 1) - (d - c)) * darkness / (sharpness + 1);
                pixel = ShadowPixel(static_cast<int>(alpha), params.colour);
            }
            kernel[static_cast<std::size_t>((dy + k) * kernelSide + (dx + k))] = pixel;
        }
    }
    auto stamp = [&](int x, int y) {
        for (int ky = 0; ky < kernelSide; ++ky) {
            const int py = y - k + ky;
            if (py < 0 || py >= hs)
                continue;
            std::uint32_t* row = pixelRow(py);
            const std::uint32_t* kernelRow = &kernel[static_cast<std::size_t>(ky * kernelSide)];
            for (int kx = 0; kx < kernelSide; ++kx) {
                const int px = x - k + kx;
                if (px >= 0 && px < ws)
                    row[px] = std::max(row[px], kernelRow[kx]);
            }
        }
    };

    // 5. Soft edge: the kernel stamped along the boundary runs of each core row.
    for (int r = k; r <= hs - k - 1; ++r) {
        const std::size_t i = static_cast<std::size_t>(r) + 1;
        const int left = spans[i].left;
        const int right = spans[i].right;
        if (right <= left)
            continue;
        const int firstRunEnd = std::min(std::max(spans[i - 1].left, spans[i + 1].left) + 1, right);
        for (int x = left; x < firstRunEnd; ++x)
            stamp(x, r);
        for (int x = std::max(std::min(spans[i - 1].right, spans[i + 1].right) - 1, firstRunEnd); x < right; ++x)
            stamp(x, r);
    }

    // 6. Core and hole: the core at full darkness, and the parent's own area left clear.
    auto fill = [&](int y, int from, int to, std::uint32_t pixel) {
        from = std::max(from, 0);
        to = std::min(to, ws);
        std::uint32_t* row = pixelRow(y);
        for (int x = from; x < to; ++x)
            row[x] = pixel;
    };
    const int rowBegin = std::min(k, std::max(s - params.yOffset, 0));
    const int rowEnd = std::max(hs - k, std::min(h + s - params.yOffset, hs));
    for (int r = std::max(rowBegin, 0); r < std::min(rowEnd, hs); ++r) {
        const Span& span = spans[static_cast<std::size_t>(r) + 1];
        const int p = r + params.yOffset - s;
        if (p < 0 || p >= h || isEmpty(parentSpans[static_cast<std::size_t>(p)])) {
            fill(r, span.left, span.right, fullPixel);
            continue;
        }
        const Span& parentSpan = parentSpans[static_cast<std::size_t>(p)];
        const int a = parentSpan.left - params.xOffset + s;
        const int b = parentSpan.right - params.xOffset + s;
        fill(r, span.left, std::min(a, span.right), fullPixel);
        fill(r, std::max(a, 0), std::min(b, ws), 0);
        fill(r, std::max(b, span.left), span.right, fullPixel);
    }
    return image;
}
