#pragma once
// The windowing platform the program asks Qt for. Through X11 (XWayland on a Wayland desktop) by
// default, because the window's separate shadow windows, its own placement of menus and dialogs
// and its raising on a second start need X11; native Wayland is used only when the user asks for
// it (QT_QPA_PLATFORM=wayland, or -platform wayland on the command line).
//
//   std::vector<char*> args = ArgumentsWithPlatform(argc, argv, std::getenv("DISPLAY"),
//                                                   std::getenv("QT_QPA_PLATFORM"));
//   int count = static_cast<int>(args.size()) - 1;
//   QApplication app(count, args.data());
//
// Thread: main thread, before the application exists.

#include <vector>

// The arguments for QApplication, terminated by a null pointer: argv, plus "-platform xcb" when an
// X display is named (display non-empty) and the user chose no platform (qpaPlatform empty, no
// -platform argument). The texts point into argv or are static.
std::vector<char*> ArgumentsWithPlatform(int argc, char** argv, const char* display, const char* qpaPlatform);
