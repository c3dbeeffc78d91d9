#pragma once
// Whether the windowing system shows per-pixel translucent top-level windows: on X11 only while
// a compositing manager runs (otherwise transparent pixels come out black); Wayland always
// composes; the offscreen platform (tests) paints into images and counts as able.
// Thread: UI thread, with a QGuiApplication; false without one.

bool PlatformShowsTranslucentWindows();

// Whether a minimised window can be brought back by the user: on X11 only under a window manager
// that announces minimising (EWMH _NET_WM_STATE_HIDDEN: it has a task bar, a dock or an overview
// for such windows); on Wayland the program cannot tell, so no; the offscreen platform (tests) yes.
// Thread: UI thread, with a QGuiApplication; false without one.
bool PlatformRestoresMinimisedWindows();
