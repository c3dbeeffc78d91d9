#pragma once
// Whether the windowing system shows per-pixel translucent top-level windows: on X11 only while
// a compositing manager runs (otherwise transparent pixels come out black); Wayland always
// composes; the offscreen platform (tests) paints into images and counts as able.
// Thread: UI thread, with a QGuiApplication; false without one.

bool PlatformShowsTranslucentWindows();
