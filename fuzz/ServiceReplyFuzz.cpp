// Any bytes as a service reply: the reader and everything read from it must neither crash nor
// throw, and a parsed reply's members must read consistently.

#include "ServiceReply.h"
#include "UpgradeCheck.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string body(reinterpret_cast<const char*>(data), size);
    ServiceReply reply;
    if (reply.Parse(body)) {
        (void)reply.DataText();
        long long value = 0;
        for (const char* name : {"app_version", "download_url", "force_upgrade", "size", "id"}) {
            const std::string text = reply.DataMember(name);
            if (reply.DataMemberInt(name, value) && text.empty() && !reply.Data()[name].isBool())
                std::abort(); // a number read from nothing
        }
    } else if (reply.Ret() != 0) {
        std::abort(); // a reply that does not parse carries no code
    }
    UpgradeInfo info;
    (void)ReadUpgradeReply(body, info);
    return 0;
}
