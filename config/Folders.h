#pragma once
// Special folders and the output folder of recordings. No state; safe from any thread.

#include <QString>

// Shell folder numbers the program asks for.
inline constexpr int kCsidlDesktop = 0x00;
inline constexpr int kCsidlPersonal = 0x05;     // documents
inline constexpr int kCsidlLocalAppData = 0x1C; // per-user data ($XDG_DATA_HOME)

// The platform path of a special folder (XDG user folders); empty for an unknown number.
QString GetSpecialFolder(int csidl);

// The folder recordings go to: "output-dir" trimmed, or documents (desktop when documents does
// not exist) + "/TAMSU电脑录音". Its creation has been attempted when this returns.
QString GetOutputFolder();
