// Any bytes as the stored credentials file: decoding must neither crash nor throw, and whatever
// it accepts must survive being written and read again unchanged.

#include "Credentials.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    Credentials decoded;
    if (!DecodeCredentials(bytes, decoded)) {
        if (!decoded.account.empty() || !decoded.password.empty())
            std::abort(); // a refused file yields nothing
        return 0;
    }
    Credentials again;
    // A zero byte ends the stored texts; what follows it cannot come back.
    if (decoded.account.find('\0') == std::string::npos && decoded.password.find('\0') == std::string::npos &&
        (!DecodeCredentials(EncodeCredentials(decoded.account, decoded.password), again) ||
         again.account != decoded.account || again.password != decoded.password))
        std::abort();
    return 0;
}
