// Any text as a version number: parsing never crashes, and the comparison is a strict order
// (never both newer, never newer than itself).

#include "VersionNumber.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t split = text.find('|');
    VersionNumber a;
    VersionNumber b;
    const bool hasA = ParseVersion(text.substr(0, split), a);
    const bool hasB = split != std::string::npos && ParseVersion(text.substr(split + 1), b);
    if (hasA && IsNewerVersion(a, a))
        std::abort();
    if (hasA && hasB && IsNewerVersion(a, b) && IsNewerVersion(b, a))
        std::abort();
    if (hasA && (a.major < 0 || a.minor < 0 || a.revision < 0))
        std::abort();
    return 0;
}
