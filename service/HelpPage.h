#pragma once
// The help pages the program opens: "/help" (from the main window) and "/help/audio" (from the
// feedback dialog's "contact-us"). Simplified Chinese HTML, UTF-8.

#include <string>

std::string HelpPageHtml(bool audioPage);
