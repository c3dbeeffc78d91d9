#include "PlatformChoice.h"

#include <cstring>

namespace {

// Qt's own option (and its double-dash spelling) that names the platform plugin.
bool IsPlatformOption(const char* arg)
{
    return std::strcmp(arg, "-platform") == 0 || std::strcmp(arg, "--platform") == 0 ||
           std::strncmp(arg, "-platform=", 10) == 0 || std::strncmp(arg, "--platform=", 11) == 0;
}

} // namespace

std::vector<char*> ArgumentsWithPlatform(int argc, char** argv, const char* display, const char* qpaPlatform)
{
    std::vector<char*> args(argv, argv + argc);
    bool chosen = qpaPlatform && *qpaPlatform;
    for (int i = 1; i < argc && !chosen; ++i)
        chosen = IsPlatformOption(argv[i]);
    if (!chosen && display && *display) {
        static char option[] = "-platform";
        static char xcb[] = "xcb";
        args.insert(args.begin() + (argc > 0 ? 1 : 0), {option, xcb});
    }
    args.push_back(nullptr);
    return args;
}
