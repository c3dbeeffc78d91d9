#include "MenuPlacement.h"

#include <algorithm>

namespace {

// position moved into [low, high - length], or low when length does not fit.
int KeepInside(int position, int length, int low, int high)
{
    return std::max(low, std::min(position, high - length));
}

} // namespace

QPoint PlaceMenu(QPoint cursor, QSize menu, const QRect& workArea)
{
    const int w = menu.width();
    const int h = menu.height();
    // Edges as the work area's outer bounds (one past the last pixel).
    const int workRight = workArea.x() + workArea.width();
    const int workBottom = workArea.y() + workArea.height();

    int left = cursor.x();
    int top = cursor.y();
    if (top + h > workBottom)
        top = h < workArea.height() ? cursor.y() - h : workArea.y();
    if (left + w > workRight)
        left = w < workArea.width() ? workRight - w : workArea.x();
    return {KeepInside(left + kMenuNudge, w, workArea.x(), workRight),
            KeepInside(top - kMenuNudge, h, workArea.y(), workBottom)};
}
