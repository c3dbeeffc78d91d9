#pragma once
// Where the tray's task menu opens: at the cursor, flipped above it when it would run past the
// bottom of the work area, pulled left when it would run past the right edge, then nudged by
// kMenuNudge (right and up) so that it does not sit right under the pointer, as far as the work
// area leaves room: the menu never hangs over the work area's edge when it fits in it.
// Pure arithmetic; safe from any thread.

#include <QPoint>
#include <QRect>
#include <QSize>

// Offset of the opened menu from the computed corner: right and up, away from the pointer.
inline constexpr int kMenuNudge = 6;

// The menu's top-left corner for a menu of size menu opened at cursor, on a screen whose work
// area (the screen without panels, QScreen::availableGeometry) is workArea.
//   - bottom beyond the work area: above the cursor when the menu is shorter than the work area,
//     else at the work area's top;
//   - right beyond the work area: right edge on the work area's right edge when the menu is
//     narrower than it, else at the work area's left;
//   - then moved by (+kMenuNudge, -kMenuNudge) and kept inside the work area (a menu larger than
//     the work area keeps its top or left edge on the work area's).
QPoint PlaceMenu(QPoint cursor, QSize menu, const QRect& workArea);
