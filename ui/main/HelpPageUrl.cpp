#include "HelpPageUrl.h"

#include <QByteArray>
#include <QDesktopServices>

#include <glog/logging.h>

namespace {

// The local reference service that scripts/run.sh starts when none answers.
constexpr const char* kDefaultServiceAddress = "http://127.0.0.1:8417";
constexpr const char* kHelpPath = "/help";

} // namespace

QString ServiceBaseAddress()
{
    QString address = QString::fromLocal8Bit(qgetenv("TAMSU_SERVICE_URL")).trimmed();
    if (address.isEmpty())
        address = QString::fromLatin1(kDefaultServiceAddress);
    while (address.endsWith('/'))
        address.chop(1);
    return address;
}

QUrl HelpPageUrl()
{
    return QUrl(ServiceBaseAddress() + kHelpPath);
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
