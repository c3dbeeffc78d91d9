#include "HelpPageUrl.h"

#include "HttpClient.h"

#include <QDesktopServices>

#include <glog/logging.h>

namespace {

constexpr const char* kHelpPath = "/help";

} // namespace

QUrl HelpPageUrl()
{
    return QUrl(QString::fromStdString(ServiceUrl(kHelpPath)));
}

bool OpenHelpPage()
{
    const QUrl url = HelpPageUrl();
    if (!url.isValid() || url.scheme().isEmpty()) {
        LOG(ERROR) << "mainwnd: help page address \"" << url.toString().toStdString() << "\" is not valid";
        return false;
    }
    if (!QDesktopServices::openUrl(url)) {
        LOG(ERROR) << "mainwnd: cannot open the help page \"" << url.toString().toStdString() << "\"";
        return false;
    }
    return true;
}
