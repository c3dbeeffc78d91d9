#include "PublicAddress.h"

#include "ConfigStore.h"
#include "HttpClient.h"
#include "ServiceReply.h"
#include "TextUtil.h"

#include <algorithm>

bool IsStorablePublicAddress(const std::string& text)
{
    if (text.empty() || text.size() > kMaxPublicAddressChars)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7f; });
}

void PublicAddressThread()
{
    // Public address thread: one-shot worker started by the main window. Owns its request and
    // reply; shares only the configuration file, whose writes are serialised by the store.
    EnsureCurlGlobalInit();
    std::string reply;
    if (ServiceGet(ServiceUrl("/get_user_ip") + MakeTimestampQuery(), reply) != 0)
        return;
    ServiceReply parsed;
    if (!parsed.Parse(reply) || parsed.Ret() != 0)
        return;
    const std::string address = parsed.DataText();
    if (!IsStorablePublicAddress(address))
        return;
    WriteConfigString(config::kSection, config::kUserRealIp, AnsiToWide(address));
}
