#pragma once
// The program's icon, shared by the windows, the tray icon and the dialogs.
//
// Thread: UI thread only (QIcon pixmaps are GUI objects).

#include <QIcon>
#include <QString>

// The application id: the desktop entry is kAppId + ".desktop", the icons in the hicolor theme are
// named after it, and the window reports it as its desktop file name.
inline constexpr const char* kAppId = "cn.tamsu.Recorder";

// The icon named kAppId in the desktop's icon theme (the installed one, or one the user's theme
// overrides), else the icon files built into the program, so a program run from its build folder
// or an unpacked package looks the same. Never a null icon.
QIcon AppIcon();

// Only the icon built into the program, every size it carries.
QIcon BuiltInAppIcon();
