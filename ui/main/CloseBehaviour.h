#pragma once
// What a close request does to the main window. The close button, the desktop's own close
// (Alt+F4, the task bar) and a termination signal all arrive as a close request with a code;
// the task menu's quit item and the quit of the whole program use code kQuitCloseCode.
//
//   "window-close" 0 or absent  -> the window closes and the program ends
//   "window-close" non-zero     -> the window stays: hidden to the tray icon while the desktop
//                                  shows it, else minimised where the desktop can bring a
//                                  minimised window back (task bar, dock, overview), else only
//                                  lowered behind the other windows: never hidden or minimised
//                                  without a way back
//   kQuitCloseCode              -> closes, whatever "window-close" says
//
// Thread: UI thread.

#include <cstdint>

class QWidget;

// Code of a close request that always ends the program (the task menu's quit message).
inline constexpr int kQuitCloseCode = 1234;

enum class CloseAction { kExit, kHideToTray, kMinimise, kLower };

// The decision alone: request code, the stored "window-close" value, whether a tray icon shows,
// whether the desktop brings minimised windows back.
CloseAction DecideCloseAction(int code, uint32_t windowClose, bool trayShown, bool minimisedCanReturn);

// Reads "window-close", decides and carries out what keeps window open. True when the window
// stays (the close request is consumed), false when it is to close.
bool ApplyCloseBehaviour(QWidget& window, int code, bool trayShown);
